#include "transferfixture.h"

#include "eventloop.h"
#include "protocol/models.h"

#include <QRegularExpression>
#include <QTest>

using namespace TransferFixture;

// The transfer engine when things go wrong: failed writes, a controller
// unplugged in the middle, the transfer stopped and started again, and
// update files that are missing or cannot be read whole.
class TestTransferFaults : public TransferTest
{
    Q_OBJECT

private slots:
    void failedDataWriteIsRetriedOnce();
    void nothingSent_data();
    void nothingSent();
    void unplugDuringData_data();
    void unplugDuringData();
    void readErrorsWhileApplying_data();
    void readErrorsWhileApplying();
    void lostBeforeReady_data();
    void lostBeforeReady();
    void interrupted_data();
    void interrupted();
    void killTimerAndRestart();
};

namespace {

constexpr int unit = 12;  // EBONY

} // namespace

// A data write that fails is made once more at once; the controller gets
// the report once and the numbering goes on without a gap.
void TestTransferFaults::failedDataWriteIsRetriedOnce()
{
    const QByteArray image = randomImage(400, 23);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    rig.startWithoutTimer();

    rig.tick();  // transferStart
    rig.controller->failWrite(1);
    rig.tick();  // statusReady, then data report 1: fails, sent again
    rig.controller->failWrite(2);
    rig.tick(3);

    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image).mid(0, 5));
    QVERIFY(rig.reported("transferFailed").isEmpty());
}

void TestTransferFaults::nothingSent_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("logLine");  // logged once; empty: none asked

    QTest::newRow("transferStart not written") << "write" << "StartNotWritten" << "report is not send ret -1";
    QTest::newRow("no update file") << "missing" << "FileNotLoaded" << QString();
    // A file that yields fewer bytes than its size says must not be
    // announced with the digest of the part that was read. sysfs attributes
    // are such files: their size is a whole page, their content a few bytes.
    // Files cut short or failing half-way through a read (a network share,
    // a bad disk) look the same to the program.
    QTest::newRow("update file read short") << "short" << "FileNotLoaded" << QString();
}

// "Update Device" that cannot even start: the failure, no firmware sent,
// and the engine only waits for a verdict.
void TestTransferFaults::nothingSent()
{
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    QFETCH(QString, logLine);
    const QString shortFile = QStringLiteral("/sys/devices/system/cpu/online");
    if (fault == QLatin1String("short")) {
#ifdef Q_OS_WIN
        QSKIP("needs a symbolic link to a Linux sysfs file (QFile::link makes a shortcut on Windows)");
#endif
        QFile probe(shortFile);
        if (!probe.open(QIODevice::ReadOnly) || probe.size() <= probe.readAll().size())
            QSKIP("no file here whose size exceeds its content");
    }
    Rig rig(unit);
    QVERIFY(rig.connect(randomImage(100, 29)));
    if (fault == QLatin1String("write"))
        rig.controller->failWrite(1);
    else if (fault == QLatin1String("missing"))
        removeUpdateFiles();
    else
        linkUpdateFile(shortFile);
    LogCapture log;

    rig.press();
    QVERIFY(waitForPolls(log, 3));
    QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed " + failure });
    QVERIFY(rig.controller->writtenReports().isEmpty());
    if (!logLine.isEmpty())
        QCOMPARE(log.lines().filter(logLine).size(), 1);
}

void TestTransferFaults::unplugDuringData_data()
{
    QTest::addColumn<int>("writes");  // that reach the controller: 42 are the whole transfer
    QTest::addColumn<TransferEngine::Phase>("phase");
    QTest::addColumn<int>("polls");  // of the result phase
    QTest::addColumn<QString>("loss");  // the loss's log line

    const QString applying = "connection lost while applying the update";
    QTest::newRow("right after transferStart") << 1 << TransferEngine::Phase::PartlySent << 0
                                               << "connection lost while waiting for statusReady";
    QTest::newRow("in mid-transfer") << 10 << TransferEngine::Phase::PartlySent << 2 << applying;
    QTest::newRow("all but the end report") << 41 << TransferEngine::Phase::PartlySent << 2 << applying;
    QTest::newRow("right after the end report") << 42 << TransferEngine::Phase::AwaitingVerdict << 2 << applying;
}

// Unplugged during the transfer: the reads fail at once, and the second
// tick in a row with a failed read ends the transfer with one report
// instead of polling a controller that has gone a thousand times a second.
// Data writes fail quietly, and the engine reaches the result phase, where
// the reads fail. The phase tells whether the controller got the whole
// image. The session
// closes the dead handles: a press of "Update Device" and a tick then
// touch none.
void TestTransferFaults::unplugDuringData()
{
    QFETCH(int, writes);
    QFETCH(TransferEngine::Phase, phase);
    QFETCH(int, polls);
    QFETCH(QString, loss);
    const QByteArray image = randomImage(60 * 40, 31);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    LogCapture log;
    rig.controller->unplugAfterWrites(writes);

    rig.press();
    QVERIFY(TestLoop::waitFor([&] { return !rig.reported("transferFailed").isEmpty(); }));
    TestLoop::spin(50);

    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image).mid(0, writes));
    QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed ConnectionLost" });
    QCOMPARE(log.count(QStringLiteral("waitingApplyingUpdate ")), polls);
    QCOMPARE(log.lines().filter(QStringLiteral("connection lost")).size(), 1);
    QCOMPARE(log.lines().filter(loss).size(), 1);
    QVERIFY(!rig.session.transferEngine()->isRunning());
    QCOMPARE(rig.session.controllerPhase(), phase);
    QVERIFY(!updateFileHeldOpen());

    QCOMPARE(HidSim::openHandleCount(), 0);
    const QStringList reports = rig.reports;
    rig.press();
    rig.tick();
    QVERIFY(!rig.session.transferEngine()->isRunning());
    QCOMPARE(rig.reports, reports);
    QCOMPARE(rig.controller->writtenReports().size(), writes);
}

void TestTransferFaults::readErrorsWhileApplying_data()
{
    QTest::addColumn<QList<int>>("failingReads");  // numbers of the reads from now on
    QTest::addColumn<bool>("lost");

    QTest::newRow("one") << QList<int> { 1 } << false;
    QTest::newRow("two apart") << QList<int> { 1, 3 } << false;
    QTest::newRow("two in a row") << QList<int> { 2, 3 } << true;
}

// While the controller applies the image, a single failed read is a
// passing fault; only two in a row mean the controller has gone.
void TestTransferFaults::readErrorsWhileApplying()
{
    QFETCH(QList<int>, failingReads);
    QFETCH(bool, lost);
    Rig rig(unit, applyingUntilTold());
    QVERIFY(rig.connect(randomImage(100, 41)));
    QVERIFY(rig.tickUntilApplying());

    // Statuses without a verdict make each successful read return at once.
    for (int i = failingReads.size(); i < 4; ++i)
        rig.controller->queueInputReport(statusReport(unit, 0x0));
    for (int nth : failingReads)
        rig.controller->failRead(nth);
    rig.tick(4);

    QCOMPARE(rig.reported("transferFailed"), lost ? QStringList { "transferFailed ConnectionLost" } : QStringList());
    rig.controller->queueInputReport(statusReport(unit, 0xF));
    rig.tick();
    QCOMPARE(rig.finished(), !lost);
}

void TestTransferFaults::lostBeforeReady_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("failure");  // empty: the update finishes
    QTest::addColumn<int>("ticks");        // within which it ends

    const int moss = mossUnitType, right = 16, left = 15;  // BRISK
    // Read errors on the ready poll: the controller went on transferStart.
    QTest::newRow("gone after transferStart") << unit << 0 << "unplug" << "ConnectionLost" << 5;
    QTest::newRow("pair, right half gone after transferStart") << right << left << "unplug" << "ConnectionLost" << 5;
    QTest::newRow("pair, left half gone after transferStart") << right << left << "unplug left" << "ConnectionLost"
                                                              << 5;
    QTest::newRow("MOSS gone after transferStart") << moss << 0 << "unplug" << "ConnectionLost" << 5;
    QTest::newRow("one read error on the ready poll passes") << unit << 0 << "read error" << QString() << 20;
}

// A controller that goes while the host waits for statusReady ends the
// transfer with one failure, before the whole image.
void TestTransferFaults::lostBeforeReady()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(QString, fault);
    QFETCH(QString, failure);
    QFETCH(int, ticks);
    const QByteArray image = randomImage(100, 43);  // transferStart, a data report, the end report
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType);
    QVERIFY(rig.connect(image));
    const LogCapture log;  // keeps thousands of polls out of the test's output

    if (fault == QLatin1String("unplug"))
        rig.controller->unplugAfterWrites(1);
    else if (fault == QLatin1String("unplug left"))
        left->unplugAfterWrites(1);
    else if (fault == QLatin1String("read error"))
        rig.controller->failRead(2);  // the first poll after transferStart
    rig.startWithoutTimer();
    QVERIFY(rig.tickUntil([&] { return rig.finished() || !rig.reported("transferFailed").isEmpty(); }, ticks));
    if (failure.isEmpty()) {
        QVERIFY(rig.reported("transferFailed").isEmpty());
        return;
    }
    QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed " + failure });
    QCOMPARE(rig.session.controllerPhase(), TransferEngine::Phase::PartlySent);
    rig.tick(3);
    QCOMPARE(rig.reported("transferFailed").size(), 1);
}

void TestTransferFaults::interrupted_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("partner");  // the left half of a pair, 0: none
    QTest::addColumn<int>("ticks");    // before the interruption; 0: until the controller applies the image
    QTest::addColumn<bool>("unplugged");  // else stopped
    QTest::addColumn<TransferEngine::Phase>("phase");

    QTest::newRow("pair stopped right after transferStart") << 16 << 15 << 1 << false
                                                            << TransferEngine::Phase::PartlySent;
    QTest::newRow("pair stopped in mid-transfer") << 14 << 13 << 5 << false << TransferEngine::Phase::PartlySent;
    QTest::newRow("stopped while applying") << unit << 0 << 0 << false << TransferEngine::Phase::Applying;
    QTest::newRow("lost while applying") << unit << 0 << 0 << true << TransferEngine::Phase::Applying;
}

// A stop or a loss leaves the phase at what the controller holds: the face
// tells from it whether the controller may be installing.
void TestTransferFaults::interrupted()
{
    QFETCH(int, unitType);
    QFETCH(int, partner);
    QFETCH(int, ticks);
    QFETCH(bool, unplugged);
    QFETCH(TransferEngine::Phase, phase);
    HidSim::Controller left = partner ? HidSim::attachModel(partner) : nullptr;
    Rig rig(unitType, applyingUntilTold());
    QVERIFY(rig.connect(randomImage(60 * 10, 47)));

    if (ticks > 0) {
        rig.startWithoutTimer();
        rig.tick(ticks);
    } else {
        QVERIFY(rig.tickUntilApplying());
    }
    if (unplugged) {
        rig.controller->unplug();
        rig.tick(2);
        QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed ConnectionLost" });
    } else {
        rig.session.stopTransfer();
        QCOMPARE(rig.reported("transferStopped").size(), 1);
    }
    QCOMPARE(rig.session.controllerPhase(), phase);
}

// A second press stops the transfer ("kill timer"), a third continues it
// from where it stopped: no report is sent twice and none is missing.
void TestTransferFaults::killTimerAndRestart()
{
    const QByteArray image = randomImage(60 * 300 + 5, 37);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    LogCapture log;

    rig.press();
    QVERIFY(TestLoop::waitFor([&] { return rig.controller->writtenReports().size() > 20; }));
    rig.press();
    QVERIFY(log.contains(QStringLiteral("kill timer")));
    QVERIFY(!rig.session.transferEngine()->isRunning());

    const int stoppedAt = rig.controller->writtenReports().size();
    TestLoop::spin(50);
    QCOMPARE(rig.controller->writtenReports().size(), stoppedAt);

    QVERIFY(rig.pressUntilFinished(30000));
    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image));
    QCOMPARE(rig.controller->receivedImage(), image);
    // The file was read again on each press, and found every time (by its
    // absolute path: "/..." or, on Windows, "C:/...").
    QVERIFY(rig.reported("transferFailed").isEmpty());
    QCOMPARE(log.lines().filter(QRegularExpression(QStringLiteral("^file opened \"(/|[A-Za-z]:/)"))).size(), 3);
}

QTEST_GUILESS_MAIN(TestTransferFaults)
#include "tst_transferfaults.moc"

