// One controller's update as a station runs it, on a thread of its own, to
// its one result: how it ended and what the controller holds then, held
// against the reports the simulated controller really received.

#include "eventloop.h"
#include "hidsim.h"
#include "protocol/models.h"
#include "protocol/reports.h"
#include "session/unitupdate.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

Q_DECLARE_METATYPE(UpdateResult::End)

class TestUnitUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidSim::reset(); }
    void endAndHolds_data();
    void endAndHolds();
};

namespace {

using End = UpdateResult::End;

constexpr int ebony = 12;
constexpr int ardenRight = 14;
constexpr int smallImage = 600;  // 10 data reports: 12 writes with start and end
constexpr int largeImage = 60000;
constexpr int anyPart = -1;      // some reports, not all

} // namespace

void TestUnitUpdate::endAndHolds_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<QString>("fault");    // what the controller does
    QTest::addColumn<QString>("stopAt");   // when the unit is stopped: "write N", "completed", "progress"
    QTest::addColumn<int>("deadline");
    QTest::addColumn<UpdateResult::End>("end");
    QTest::addColumn<QString>("holds");
    QTest::addColumn<int>("writes");       // reports the controller received

    const auto row = [](const char *name, int unitType, int size, const char *fault, const char *stopAt, End end,
                        const char *holds, int writes, int deadline = 60) {
        QTest::newRow(name) << unitType << size << fault << stopAt << deadline << end << holds << writes;
    };
    row("installed", ebony, smallImage, "", "", End::Installed, "installed", 12);
    row("empty image", ebony, 0, "", "", End::NotStarted, "untouched", 0);
    row("not opened", ebony, smallImage, "open fails", "", End::NotStarted, "untouched", 0);
    row("wrong MD5", ebony, smallImage, "wrong md5", "", End::Rejected, "old-firmware", 12);
    row("lost in mid-transfer", ebony, smallImage, "unplug after 5", "", End::Failed, "partial-image", 5);
    row("lost right after the end report", ebony, smallImage, "unplug after 12", "", End::ResultUnknown, "whole-image",
        12);
    row("lost while applying", ebony, smallImage, "applies long", "unplug at completed", End::ResultUnknown,
        "installing", 12);
    row("no verdict by the deadline", ebony, smallImage, "silent verdict", "", End::ResultUnknown, "whole-image", 12, 1);
    // The engine waits on as the window always has; the unit's deadline
    // ends every wait of the flasher.
    row("no answer to the start by the deadline", ebony, smallImage, "silent", "", End::Failed, "partial-image", 1, 1);
    row("pair, left half never ready", ardenRight, smallImage, "silent left", "", End::Failed, "partial-image", 1, 1);
    row("a transfer longer than the deadline", ebony, 2 * largeImage, "paced", "", End::Installed, "installed", 2002, 1);
    row("end report not written twice", ebony, smallImage, "end not written", "", End::Failed, "partial-image", 11, 1);
    row("stopped in mid-transfer", ebony, largeImage, "paced", "write 20", End::Stopped, "partial-image", anyPart);
    row("pair stopped in mid-transfer", ardenRight, largeImage, "paced", "write 20", End::Stopped, "partial-image",
        anyPart);
    row("stopped after the end report", ebony, smallImage, "silent verdict", "write 12", End::Stopped, "whole-image", 12);
    row("stopped while applying", ebony, smallImage, "applies long", "completed", End::Stopped, "installing", 12);
    row("MOSS installs on its own", mossUnitType, smallImage, "", "", End::InstallingOnItsOwn, "installing", 2);
    // Once the library's call has returned, the image is the controller's,
    // whatever the stop meant to keep from it.
    row("MOSS stopped during the library call", mossUnitType, 1024 * 1024, "", "progress", End::ResultUnknown,
        "whole-image", 1);
}

void TestUnitUpdate::endAndHolds()
{
    QFETCH(int, unitType);
    QFETCH(int, imageSize);
    QFETCH(QString, fault);
    QFETCH(QString, stopAt);
    QFETCH(int, deadline);
    QFETCH(UpdateResult::End, end);
    QFETCH(QString, holds);
    QFETCH(int, writes);

    HidSim::ControllerSettings settings;
    if (fault == QLatin1String("applies long"))
        settings.applyTimeMs = 60000;
    QList<HidSim::Controller> halves;
    ControllerEntry entry;
    entry.unitType = unitType;
    for (int type : isHalf(unitType) ? QList<int> { unitType, otherHalf(unitType) } : QList<int> { unitType }) {
        HidSim::DeviceDescription description;
        description.vendorId = vendorId;
        description.productId = modelForUnitType(type)->productId;
        settings.unitType = type;
        halves.append(HidSim::attach(description, settings));
        entry.paths.append(QByteArray::fromStdString(halves.last()->path()));
    }
    const HidSim::Controller controller = halves.first();
    for (const HidSim::Controller &half : halves) {
        if (fault == QLatin1String("paced"))
            half->setWritePacing(HidSim::WritePacing::UsbFrame);
    }
    if (fault == QLatin1String("open fails"))
        controller->setOpenFails(true);
    else if (fault == QLatin1String("wrong md5"))
        controller->setVerdict(Report::statusWrongMd5);
    else if (fault == QLatin1String("silent"))
        controller->setSilent(true);
    else if (fault == QLatin1String("silent left"))
        halves.last()->setSilent(true);
    else if (fault == QLatin1String("end not written")) {
        controller->failWrite(12);
        controller->failWrite(13);
    }
    else if (fault == QLatin1String("silent verdict"))
        controller->setVerdict(0);
    else if (fault.startsWith(QLatin1String("unplug after ")))
        controller->unplugAfterWrites(fault.section(QLatin1Char(' '), 2).toInt());

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("image.sb"));
    QFile image(imagePath);
    QVERIFY(image.open(QIODevice::WriteOnly));
    image.write(QByteArray(imageSize, '\x5a'));
    image.close();

    // A stop on the first progress must reach the library's call while it
    // runs: on the flasher's own session, as update runs it, the progress
    // comes from inside the call. A station's thread would see it later.
    const bool onCallersSession = stopAt == QLatin1String("progress");
    UpdateSession session;
    if (onCallersSession)
        QVERIFY(session.connectTo(entry));
    const std::unique_ptr<UnitUpdate> unitUpdate
        = onCallersSession ? std::make_unique<UnitUpdate>(&session, deadline)
                           : std::make_unique<UnitUpdate>(entry, deadline, QStringLiteral("unit"));
    UnitUpdate &unit = *unitUpdate;
    std::optional<UpdateResult> result;
    connect(&unit, &UnitUpdate::finished, this, [&result](const UpdateResult &ended) { result = ended; });
    connect(&unit, &UnitUpdate::transferCompleted, this, [&] {
        if (stopAt == QLatin1String("completed"))
            unit.stop();
        else if (stopAt == QLatin1String("unplug at completed"))
            controller->unplug();
    });
    connect(&unit, &UnitUpdate::progress, this, [&] {
        if (stopAt == QLatin1String("progress"))
            unit.stop();
    });
    unit.start(imagePath);
    if (stopAt.startsWith(QLatin1String("write "))) {
        const int stopWrites = stopAt.section(QLatin1Char(' '), 1).toInt();
        QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() >= stopWrites || result; }, 20000));
        unit.stop();
    }
    QVERIFY(TestLoop::waitFor([&] { return result.has_value(); }, 20000));
    TestLoop::spin(20);

    QCOMPARE(result->end, end);
    QCOMPARE(UpdateResultText::holdsName(result->holds), holds);
    const int received = controller->writtenReports().size();
    if (writes == anyPart)
        QVERIFY2(received > 1 && received < 2 + largeImage / 60, qPrintable(QString::number(received)));
    else
        QCOMPARE(received, writes);
}

QTEST_GUILESS_MAIN(TestUnitUpdate)
#include "tst_unitupdate.moc"
