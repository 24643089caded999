#include "transferfixture.h"

#include "eventloop.h"

#include "protocol/reports.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

using namespace TransferFixture;

// Whole firmware transfers by reports, through the session, against simulated
// controllers: every report the controller receives, the transfer and
// update bars, the verdicts and the end of the program.
class TestReportTransfer : public TransferTest
{
    Q_OBJECT

private slots:
    void wholeTransfer_data();
    void wholeTransfer();
    void tickByTick();
    void acknowledgement_data();
    void acknowledgement();
    void verdicts_data();
    void verdicts();
    void updateBarStopsAt99();
};

namespace {

constexpr int trailingUnit = 12;  // EBONY
constexpr int leadingUnit = 1;    // CALYX2

} // namespace

void TestReportTransfer::wholeTransfer_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("byTicks");  // else through the real timer
    QTest::addColumn<bool>("reportsTransferComplete");

    for (int unitType : { leadingUnit, trailingUnit }) {
        for (int size : { 0, 59, 60, 121, 130 })
            QTest::addRow("unit %d, %d bytes", unitType, size) << unitType << 0 << size << false << true;
        // A few megabytes, driven tick by tick so that the test does not
        // wait for thousands of 1 ms timer ticks.
        QTest::addRow("unit %d, 3 MiB", unitType) << unitType << 0 << 3 * 1024 * 1024 + 17 << true << true;
    }
    // Both halves receive the identical stream. A report the left half
    // sends alone before transferStart (here a refusal) is dropped, not
    // paired with the right half's answer to it.
    QTest::newRow("pair") << 14 << 13 << 1000 << false << true;
    // Only statusTransferComplete completes the transfer.
    QTest::newRow("no statusTransferComplete") << trailingUnit << 0 << 100 << false << false;
}

// From "Update Device" to the controller's report that the update finished.
void TestReportTransfer::wholeTransfer()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(int, size);
    QFETCH(bool, byTicks);
    QFETCH(bool, reportsTransferComplete);
    const QByteArray image = randomImage(size, quint32(size * 31 + unitType));
    const QList<QByteArray> expected = expectedReports(unitType, image);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    HidSim::ControllerSettings settings;
    settings.reportsTransferComplete = reportsTransferComplete;
    Rig rig(unitType, settings);
    QVERIFY(rig.connect(image));
    if (left)
        left->queueInputReport(statusReport(partner, 0xA));
    LogCapture log;

    if (byTicks) {
        rig.startWithoutTimer();
        QVERIFY(rig.tickUntil([&] { return rig.finished(); }, expected.size() + 100));
    } else {
        QVERIFY(rig.pressUntilFinished());
    }

    compareStreams(rig.controller->writtenReports(), expected);
    if (left)
        compareStreams(left->writtenReports(), expected);
    QCOMPARE(rig.controller->receivedImage(), image);
    const QByteArray md5 = QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex();
    QCOMPARE(rig.controller->announcedMd5(), md5);
    // The start's log lines, spaced and quoted as the debug stream does.
    QStringList startLog{ QStringLiteral("byteArray.size()= %1").arg(size),
                          QStringLiteral("md5= \"%1\"").arg(QLatin1String(md5)) };
    const int header = Report::layoutForUnitType(unitType).commandOffset == 0 ? 128 : 0;
    if (left)
        startLog << QStringLiteral("start report is send bytes  65") << QStringLiteral("start report is send bytes  65");
    else
        startLog << QStringLiteral("start report is send bytes  65  header  %1").arg(header);
    QCOMPARE(log.lines().filter(QRegularExpression(QStringLiteral("^(byteArray|md5|start report)"))), startLog);

    // The face hears of the start only from a single unit, and of the
    // completion only from a controller that reports it.
    QCOMPARE(rig.reported("transferStarted").size(), left ? 0 : 1);
    QCOMPARE(rig.reported("transferCompleted").size(), reportsTransferComplete ? 1 : 0);
    QCOMPARE(rig.reports.last(), QStringLiteral("updateFinished Watched"));
    QVERIFY(rig.reported("transferFailed").isEmpty());
    QCOMPARE(rig.session.controllerPhase(), TransferEngine::Phase::Finished);
    QVERIFY(!updateFileHeldOpen());
}

// The tick that receives statusReady also sends the first data report, and
// the progress before each report is the share already sent.
void TestReportTransfer::tickByTick()
{
    const QByteArray image = randomImage(130, 7);
    const QList<QByteArray> expected = expectedReports(leadingUnit, image);
    Rig rig(leadingUnit);
    QVERIFY(rig.connect(image));
    rig.startWithoutTimer();

    rig.tick();
    compareStreams(rig.controller->writtenReports(), expected.mid(0, 1));
    QVERIFY(rig.reports.isEmpty());
    QCOMPARE(rig.session.controllerPhase(), TransferEngine::Phase::PartlySent);

    rig.tick(3);
    compareStreams(rig.controller->writtenReports(), expected);
    QCOMPARE(rig.session.controllerPhase(), TransferEngine::Phase::AwaitingVerdict);
    rig.tick();
    QCOMPARE(rig.session.controllerPhase(), TransferEngine::Phase::Applying);
    QCOMPARE(rig.reports, QStringList({ "transferStarted", "transferProgress 0", "transferProgress 46",
                                        "transferProgress 92", "transferCompleted Watched" }));
}

void TestReportTransfer::acknowledgement_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<bool>("onPartner");  // the left half answers `status`, else the rig's controller
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("failure");  // empty: the transfer goes on

    QTest::newRow("0xA timeout") << trailingUnit << 0 << false << 0xA << "DeviceTimeout";
    QTest::newRow("0x6 internal error") << trailingUnit << 0 << false << 0x6 << "DeviceInternalError";
    QTest::newRow("0xB packets skipped") << trailingUnit << 0 << false << 0xB << "PacketsSkipped";
    for (bool onLeft : { false, true }) {
        const char *half = onLeft ? "left" : "right";
        QTest::addRow("%s half 0xA", half) << 16 << 15 << onLeft << 0xA << "DeviceTimeout";
        QTest::addRow("%s half 0xB", half) << 16 << 15 << onLeft << 0xB << "PacketsSkipped";
        QTest::addRow("%s half 0x6 is not acted on", half) << 16 << 15 << onLeft << 0x6 << QString();
        QTest::addRow("%s half 0x8, the other's 0x9 is enough", half) << 16 << 15 << onLeft << 0x8 << QString();
    }
}

// A refused transferStart: the failure, no firmware data, and the engine
// goes on polling for a verdict.
void TestReportTransfer::acknowledgement()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(bool, onPartner);
    QFETCH(int, status);
    QFETCH(QString, failure);
    const QByteArray image = randomImage(300, 11);
    const QList<QByteArray> expected = expectedReports(unitType, image);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType);
    (onPartner ? left : rig.controller)->setStartReply(quint8(status));
    QVERIFY(rig.connect(image));
    LogCapture log;
    rig.startWithoutTimer();

    rig.tick(2);
    QCOMPARE(rig.reported("transferFailed"), failure.isEmpty() ? QStringList() : QStringList { "transferFailed " + failure });
    if (!failure.isEmpty()) {
        rig.tick(2);
        QCOMPARE(log.count(QStringLiteral("waitingApplyingUpdate ")), 2);
        QVERIFY(rig.reported("transferStarted").isEmpty());
    }
    // transferStart, then the first data report unless refused.
    for (const HidSim::Controller &half : { rig.controller, left }) {
        if (half)
            compareStreams(half->writtenReports(), expected.mid(0, failure.isEmpty() ? 2 : 1));
    }
}

void TestReportTransfer::verdicts_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<bool>("onPartner");  // the left half gives `verdict`, else the rig's controller
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("failure");  // empty: none reported

    QTest::newRow("0xC wrong md5") << leadingUnit << 0 << false << 0xC << "WrongMd5";
    QTest::newRow("0x6 internal error") << leadingUnit << 0 << false << 0x6 << "UpdateInternalError";
    QTest::newRow("0x7 wrong file") << leadingUnit << 0 << false << 0x7 << "WrongFile";
    // Both halves must answer; the code that counts is the left half's
    // (secondDevice), whatever the right half said.
    QTest::newRow("left half rejects, right accepts") << 14 << 13 << true << 0xC << "WrongMd5";
    QTest::newRow("right half rejects, left accepts") << 14 << 13 << false << 0xC << QString();
}

// An error verdict is reported and the engine keeps polling.
void TestReportTransfer::verdicts()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(bool, onPartner);
    QFETCH(int, verdict);
    QFETCH(QString, failure);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType);
    (onPartner ? left : rig.controller)->setVerdict(quint8(verdict));
    QVERIFY(rig.connect(randomImage(200, 13)));
    LogCapture log;

    rig.press();
    if (!failure.isEmpty())
        QVERIFY(TestLoop::waitFor([&] { return !rig.reported("transferFailed").isEmpty(); }));
    log.clear();
    QVERIFY(waitForPolls(log, 3));
    TestLoop::spin(50);

    QCOMPARE(rig.reported("transferFailed"), failure.isEmpty() ? QStringList() : QStringList { "transferFailed " + failure });
    QCOMPARE(rig.reported("transferCompleted").size(), failure.isEmpty() ? 1 : 0);
    QVERIFY(rig.session.transferEngine()->isRunning());
}

// While the controller applies the image the update progress moves by one
// every second tick, stops at 99 however long it takes, and only the
// controller's statusUpdateFinished ends it.
void TestReportTransfer::updateBarStopsAt99()
{
    Rig rig(trailingUnit, applyingUntilTold());
    QVERIFY(rig.connect(randomImage(100, 19)));
    QVERIFY(rig.tickUntilApplying());

    // Statuses without a verdict make each result read return at once.
    const int ticks = 260;
    for (int i = 0; i < ticks; ++i)
        rig.controller->queueInputReport(statusReport(trailingUnit, 0x0));
    QList<int> values;
    for (int i = 0; i < ticks; ++i) {
        rig.tick();
        const QStringList progress = rig.reported("installProgress");
        values.append(progress.isEmpty() ? 0 : progress.last().section(' ', 1).toInt());
    }
    QCOMPARE(values.first(), 0);
    for (int i = 1; i < values.size(); ++i) {
        QVERIFY(values[i] - values[i - 1] == 0 || values[i] - values[i - 1] == 1);
        QVERIFY(values[i] <= 99);
    }
    QCOMPARE(values.last(), 99);
    QCOMPARE(values.indexOf(99), 199);
    QVERIFY(!rig.finished());

    rig.controller->queueInputReport(statusReport(trailingUnit, 0xF));
    rig.tick();
    QVERIFY(rig.finished());
}

QTEST_GUILESS_MAIN(TestReportTransfer)
#include "tst_reporttransfer.moc"
