#include "transferfixture.h"

#include "eventloop.h"

#include "device/reports.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QTest>

using namespace TransferFixture;

// Whole firmware transfers through the report engine, against simulated
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

const QString successText = QStringLiteral(
    "Update installed correctly, please close program, and disconnect/power off your controller.\n"
    "When reconnected/power ON your device will have the latest software.");
const QString timeoutText = QStringLiteral(
    "Transfer timeout failed.\nCheck the connections between PC and the unit and to try the update again.");
const QString skippedText = QStringLiteral(
    "Transfer failed. Packets skipped.\nCheck the connections between PC and the unit and to try the update again.");
const QString wrongMd5Text = QStringLiteral(
    "Transfer failed. Wrong md5.\nCheck the connections between PC and the unit and to try the update again.");

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
    QTest::addColumn<QString>("connected");

    for (int unitType : { leadingUnit, trailingUnit }) {
        const QString connected = unitType == leadingUnit ? "CALYX2 connected" : "EBONY connected";
        for (int size : { 0, 59, 60, 121, 130 })
            QTest::addRow("unit %d, %d bytes", unitType, size) << unitType << 0 << size << false << true << connected;
        // A few megabytes, driven tick by tick so that the test does not
        // wait for thousands of 1 ms timer ticks.
        QTest::addRow("unit %d, 3 MiB", unitType) << unitType << 0 << 3 * 1024 * 1024 + 17 << true << true << connected;
    }
    // Both halves receive the identical stream.
    QTest::newRow("pair") << 14 << 13 << 1000 << false << true << "ARDEN connected";
    // Only statusTransferComplete completes the transfer bar.
    QTest::newRow("no statusTransferComplete") << trailingUnit << 0 << 100 << false << false << "EBONY connected";
}

// From "Update Device" to the success message and the end of the program.
void TestReportTransfer::wholeTransfer()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(int, size);
    QFETCH(bool, byTicks);
    QFETCH(bool, reportsTransferComplete);
    QFETCH(QString, connected);
    const QByteArray image = randomImage(size, quint32(size * 31 + unitType));
    const QList<QByteArray> expected = expectedReports(unitType, image);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    HidSim::ControllerSettings settings;
    settings.reportsTransferComplete = reportsTransferComplete;
    Rig rig(unitType, settings);
    QVERIFY(rig.connect(image));
    LogCapture log;

    if (byTicks) {
        rig.startWithoutTimer();
        QVERIFY(rig.tickUntilQuit([&] { return rig.boxes.count() == 2; }, expected.size() + 100));
    } else {
        QVERIFY(rig.pressUntilQuit());
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
    QCOMPARE(rig.boxes.texts(), (QStringList { connected, successText }));
    QCOMPARE(rig.boxes.boxes().last().title, QStringLiteral("Info"));

    QProgressBar *transferBar = rig.bar("progressBarTransfer");
    QProgressBar *updateBar = rig.bar("progressBarUpdate");
    if (reportsTransferComplete) {
        QCOMPARE(rig.label("labelTransfer")->text(), QStringLiteral("Transfer: completed"));
        QCOMPARE(transferBar->value(), 100);
        QVERIFY(!transferBar->isEnabled());
    } else {
        QCOMPARE(rig.label("labelTransfer")->text(), QStringLiteral("Transfer: in progress"));
    }
    QCOMPARE(updateBar->value(), 100);
    QVERIFY(!updateBar->isEnabled());
    QCOMPARE(rig.label("labelUpdate")->text(), QStringLiteral("Update: finished"));
    QVERIFY(!rig.label("labelUpdate")->isEnabled());
    QVERIFY(!rig.button("updateDeviceButton")->isEnabled());
    QVERIFY(!rig.button("downloadLogFile")->isEnabled());
}

// The tick that receives statusReady also sends the first data report, and
// the transfer bar shows the share already sent before each report.
void TestReportTransfer::tickByTick()
{
    const QByteArray image = randomImage(130, 7);
    const QList<QByteArray> expected = expectedReports(leadingUnit, image);
    Rig rig(leadingUnit);
    QVERIFY(rig.connect(image));
    QProgressBar *bar = rig.bar("progressBarTransfer");
    QLabel *transferLabel = rig.label("labelTransfer");
    rig.startWithoutTimer();

    rig.tick();
    compareStreams(rig.controller->writtenReports(), expected.mid(0, 1));
    QCOMPARE(transferLabel->text(), QStringLiteral("Transfer:"));

    rig.tick();
    compareStreams(rig.controller->writtenReports(), expected.mid(0, 2));
    QCOMPARE(transferLabel->text(), QStringLiteral("Transfer: in progress"));
    QVERIFY(transferLabel->isEnabled());
    QVERIFY(bar->isEnabled());
    QCOMPARE(bar->value(), 0);

    rig.tick();
    QCOMPARE(bar->value(), 46);
    rig.tick();
    QCOMPARE(bar->value(), 92);
    compareStreams(rig.controller->writtenReports(), expected);
}

void TestReportTransfer::acknowledgement_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<bool>("onPartner");  // the left half answers `status`, else the rig's controller
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");  // empty: the transfer goes on

    QTest::newRow("0xA timeout") << trailingUnit << 0 << false << 0xA << timeoutText;
    QTest::newRow("0x6 internal error") << trailingUnit << 0 << false << 0x6
                                        << QStringLiteral("Transfer failed.\nDevice internal error.");
    QTest::newRow("0xB packets skipped") << trailingUnit << 0 << false << 0xB << skippedText;
    for (bool onLeft : { false, true }) {
        const char *half = onLeft ? "left" : "right";
        QTest::addRow("%s half 0xA", half) << 16 << 15 << onLeft << 0xA << timeoutText;
        QTest::addRow("%s half 0xB", half) << 16 << 15 << onLeft << 0xB << skippedText;
        QTest::addRow("%s half 0x6 is not acted on", half) << 16 << 15 << onLeft << 0x6 << QString();
        QTest::addRow("%s half 0x8, the other's 0x9 is enough", half) << 16 << 15 << onLeft << 0x8 << QString();
    }
}

// A refused transferStart: an "Error" box, no firmware data, and the window
// goes on polling for a verdict.
void TestReportTransfer::acknowledgement()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(bool, onPartner);
    QFETCH(int, status);
    QFETCH(QString, text);
    const QByteArray image = randomImage(300, 11);
    const QList<QByteArray> expected = expectedReports(unitType, image);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType);
    (onPartner ? left : rig.controller)->setStartReply(quint8(status));
    QVERIFY(rig.connect(image));
    LogCapture log;
    rig.startWithoutTimer();

    rig.tick(2);
    QCOMPARE(rig.boxes.texts().mid(1), text.isEmpty() ? QStringList() : QStringList { text });
    if (!text.isEmpty()) {
        QCOMPARE(rig.boxes.boxes().last().title, QStringLiteral("Error"));
        QCOMPARE(rig.boxes.boxes().last().icon, QMessageBox::Critical);
        rig.tick(2);
        QCOMPARE(log.count(QStringLiteral("waitingApplyingUpdate ")), 2);
        QCOMPARE(rig.label("labelTransfer")->text(), QStringLiteral("Transfer:"));
    }
    // transferStart, then the first data report unless refused.
    for (const HidSim::Controller &half : { rig.controller, left }) {
        if (half)
            compareStreams(half->writtenReports(), expected.mid(0, text.isEmpty() ? 2 : 1));
    }
}

void TestReportTransfer::verdicts_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<bool>("onPartner");  // the left half gives `verdict`, else the rig's controller
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("text");  // empty: no error shown

    QTest::newRow("0xC wrong md5") << leadingUnit << 0 << false << 0xC << wrongMd5Text;
    QTest::newRow("0x6 internal error") << leadingUnit << 0 << false << 0x6
                                        << QStringLiteral("Updating failed.\nDevice internal error.");
    QTest::newRow("0x7 wrong file") << leadingUnit << 0 << false << 0x7 << QStringLiteral(
        "Updating failed. Wrong file or some internal error.\n"
        "Check the connections between PC and the unit and to try the update again.");
    // Both halves must answer; the code shown is the left half's
    // (secondDevice), whatever the right half said.
    QTest::newRow("left half rejects, right accepts") << 14 << 13 << true << 0xC << wrongMd5Text;
    QTest::newRow("right half rejects, left accepts") << 14 << 13 << false << 0xC << QString();
}

// An error verdict is shown and the window keeps polling: no quit.
void TestReportTransfer::verdicts()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(bool, onPartner);
    QFETCH(int, verdict);
    QFETCH(QString, text);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType);
    (onPartner ? left : rig.controller)->setVerdict(quint8(verdict));
    QVERIFY(rig.connect(randomImage(200, 13)));
    LogCapture log;

    rig.press();
    if (!text.isEmpty())
        QVERIFY(rig.boxes.waitForBoxes(2));
    log.clear();
    QVERIFY(waitForPolls(log, 3));
    TestLoop::spin(50);

    if (text.isEmpty()) {
        QVERIFY(!rig.boxes.texts().join('|').contains(QLatin1String("Wrong md5")));
        QCOMPARE(rig.label("labelTransfer")->text(), QStringLiteral("Transfer: completed"));
        return;
    }
    QCOMPARE(rig.boxes.texts().mid(1), QStringList { text });
    QCOMPARE(rig.boxes.boxes()[1].title, QStringLiteral("Error"));
    QCOMPARE(rig.boxes.boxes()[1].icon, QMessageBox::Critical);
    QCOMPARE(rig.label("labelUpdate")->text(), QStringLiteral("Update:"));
    QCOMPARE(rig.bar("progressBarUpdate")->value(), 0);
}

// While the controller applies the image the update bar moves by one every
// second tick, stops at 99 however long it takes, and shows 100 only on the
// controller's statusUpdateFinished.
void TestReportTransfer::updateBarStopsAt99()
{
    HidSim::ControllerSettings settings;
    settings.applyTimeMs = 10 * 60 * 1000;  // finishes only when the test says so
    Rig rig(trailingUnit, settings);
    QVERIFY(rig.connect(randomImage(100, 19)));
    QProgressBar *updateBar = rig.bar("progressBarUpdate");
    rig.startWithoutTimer();

    QVERIFY(rig.tickUntil([&] {
        return rig.label("labelUpdate")->text() == QLatin1String("Update: in progress. Do not power off device!");
    }, 100));
    QVERIFY(updateBar->isEnabled());

    // Statuses without a verdict make each result read return at once.
    const int ticks = 260;
    for (int i = 0; i < ticks; ++i)
        rig.controller->queueInputReport(statusReport(trailingUnit, 0x0));
    QList<int> values;
    for (int i = 0; i < ticks; ++i) {
        rig.tick();
        values.append(updateBar->value());
    }
    QCOMPARE(values.first(), 0);
    for (int i = 1; i < values.size(); ++i) {
        QVERIFY(values[i] - values[i - 1] == 0 || values[i] - values[i - 1] == 1);
        QVERIFY(values[i] <= 99);
    }
    QCOMPARE(values.last(), 99);
    QCOMPARE(values.indexOf(99), 199);
    QCOMPARE(rig.boxes.count(), 1);

    rig.controller->queueInputReport(statusReport(trailingUnit, 0xF));
    QVERIFY(rig.tickUntilQuit([&] { return rig.boxes.count() == 2; }, 1));
    QCOMPARE(updateBar->value(), 100);
    QVERIFY(!updateBar->isEnabled());
    QCOMPARE(rig.boxes.boxes().last().text, successText);
}

QTEST_MAIN(TestReportTransfer)
#include "tst_reporttransfer.moc"
