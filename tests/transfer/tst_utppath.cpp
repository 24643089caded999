#include "transferfixture.h"

#include "protocol/models.h"
#include "eventloop.h"
#include "transfer/libraryprogressscope.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace TransferFixture;

// The MOSS controller's path: transferStart, the closed library moves the
// file, transferEnd, then the controller's verdict.
class TestUtpPath : public TransferTest
{
    Q_OBJECT

private slots:
    void wholeTransfer_data();
    void wholeTransfer();
    void readyBeforeTransferStart();
    void acknowledgementErrors_data();
    void acknowledgementErrors();
    void otherStatusOnlyLogged();
    void failedTransferEnd_data();
    void failedTransferEnd();
    void stopDuringLibraryCall_data();
    void stopDuringLibraryCall();
};

namespace {

constexpr int moss = mossUnitType;

// transferStart for `image`, then transferEnd.
QList<QByteArray> bracketReports(const QByteArray &image)
{
    QByteArray end(65, '\0');
    end[1] = char(0xD0);
    return { expectedReports(moss, image).first(), end };
}

} // namespace

void TestUtpPath::wholeTransfer_data()
{
    QTest::addColumn<bool>("fileVanishes");
    QTest::addColumn<QString>("result");  // the library's result line
    QTest::newRow("library moves the file") << false << "^updateThruUTP result 0$";
    // The library cannot open the file (it went away after "Update Device"
    // read it): the result is logged, transferEnd still goes out and the
    // controller decides.
    QTest::newRow("library fails, only logged") << true << "^updateThruUTP result [1-9]";
}

void TestUtpPath::wholeTransfer()
{
    QFETCH(bool, fileVanishes);
    QFETCH(QString, result);
    const QByteArray image = randomImage(fileVanishes ? 5000 : 1024 * 1024, 47);
    Rig rig(moss);
    QVERIFY(rig.connect(image));
    LogCapture log;

    rig.press();
    if (fileVanishes)
        removeUpdateFiles();
    QVERIFY(TestLoop::waitFor([&] { return rig.finished(); }, 20000));

    QCOMPARE(rig.controller->writtenReports(), bracketReports(image));
    const QStringList lines = log.lines();
    const int access = lines.indexOf(QStringLiteral("get access from device "));
    QVERIFY(access >= 0);
    QCOMPARE(lines.indexOf(QStringLiteral("updateThruUTP try")), access + 1);
    QCOMPARE(lines.filter(QRegularExpression(QStringLiteral("^updateThruUTP result"))).size(), 1);
    QVERIFY(QRegularExpression(result).match(lines.value(access + 2)).hasMatch());
    QCOMPARE(lines.indexOf(QStringLiteral("transfer finished ")), access + 3);

    // The library reported its progress through the callback, and let go
    // of it after the call.
    const QStringList progress = rig.reported("libraryProgress");
    if (!fileVanishes)
        QVERIFY(progress.size() >= 3);
    for (int i = 1; i < progress.size(); ++i)
        QVERIFY(progress[i].section(' ', 1).section('/', 0, 0).toInt()
                >= progress[i - 1].section(' ', 1).section('/', 0, 0).toInt());
    libraryProgressCallback(7, 9);
    QCOMPARE(rig.reported("libraryProgress"), progress);

    // No simulated update progress for this model.
    QCOMPARE(rig.reports.filter(QRegularExpression(QStringLiteral("^(transfer|update)"))),
             QStringList({ "transferStarted", "transferCompleted OnItsOwn", "updateFinished OnItsOwn" }));
}

// A statusReady that arrives before transferStart still runs the library;
// transferStart follows in the same tick and transferEnd in the next.
void TestUtpPath::readyBeforeTransferStart()
{
    const QByteArray image = randomImage(777, 59);
    Rig rig(moss);
    QVERIFY(rig.connect(image));
    LogCapture log;
    rig.startWithoutTimer();
    rig.controller->queueInputReport(statusReport(moss, 0x9));

    rig.tick();
    QCOMPARE(log.count(QStringLiteral("updateThruUTP try")), 1);
    QCOMPARE(rig.controller->writtenReports(), bracketReports(image).mid(0, 1));

    rig.tick();
    QCOMPARE(rig.controller->writtenReports(), bracketReports(image));
    QCOMPARE(log.count(QStringLiteral("updateThruUTP try")), 1);
}

void TestUtpPath::acknowledgementErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("failure");
    QTest::newRow("0xA") << 0xA << "packet received 0xa0 0x0 0x0" << "DeviceTimeout";
    QTest::newRow("0x6") << 0x6 << "packet received 0x60 0x0 0x0" << "DeviceInternalError";
    QTest::newRow("0xB") << 0xB << "packet received 0xb0 0x0 0x0" << "PacketsSkipped";
}

// A refused transferStart: the failure, then only the result step; the
// library is not called and no transferEnd is written.
void TestUtpPath::acknowledgementErrors()
{
    QFETCH(int, status);
    QFETCH(QString, logLine);
    QFETCH(QString, failure);
    const QByteArray image = randomImage(100, 61);
    Rig rig(moss);
    rig.controller->setStartReply(quint8(status));
    QVERIFY(rig.connect(image));
    LogCapture log;

    rig.press();
    QVERIFY(waitForPolls(log, 3));
    QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed " + failure });

    QVERIFY(log.contains(logLine));
    QVERIFY(!log.contains(QStringLiteral("updateThruUTP try")));
    QCOMPARE(rig.controller->writtenReports(), bracketReports(image).mid(0, 1));
}

void TestUtpPath::otherStatusOnlyLogged()
{
    Rig rig(moss);
    rig.controller->setSilent(true);
    QVERIFY(rig.connect(randomImage(100, 67)));
    LogCapture log;
    rig.startWithoutTimer();

    QByteArray report = statusReport(moss, 0xE);
    report[1] = char(0x12);
    rig.controller->queueInputReport(report);
    rig.tick(2);

    QVERIFY(log.contains(QStringLiteral("packet received 0xe0 0x12 0x0")));
    QVERIFY(rig.reports.isEmpty());
    QCOMPARE(rig.controller->writtenReports().size(), 1);
    QVERIFY(!log.contains(QStringLiteral("waitingApplyingUpdate ")));
}

void TestUtpPath::failedTransferEnd_data()
{
    QTest::addColumn<bool>("fileVanishes");  // the library then fails
    QTest::addColumn<TransferEngine::Phase>("phase");
    // The library's call has moved the file: the controller holds the whole
    // image, and may install it, whether or not transferEnd follows.
    QTest::newRow("library moved the file") << false << TransferEngine::Phase::AwaitingVerdict;
    QTest::newRow("library failed") << true << TransferEngine::Phase::PartlySent;
}

void TestUtpPath::failedTransferEnd()
{
    QFETCH(bool, fileVanishes);
    QFETCH(TransferEngine::Phase, phase);
    Rig rig(moss);
    QVERIFY(rig.connect(randomImage(100, 71)));
    LogCapture log;
    rig.controller->failWrite(2);

    rig.press();
    if (fileVanishes)
        removeUpdateFiles();
    QVERIFY(TestLoop::waitFor([&] { return !rig.reported("transferFailed").isEmpty(); }));
    QCOMPARE(rig.reported("transferFailed"), QStringList { "transferFailed EndNotWritten" });
    QCOMPARE(log.lines().filter(QStringLiteral("report is not send ret -1")).size(), 1);
    QCOMPARE(rig.controller->writtenReports().size(), 1);
    QCOMPARE(rig.session.controllerPhase(), phase);
}

void TestUtpPath::stopDuringLibraryCall_data()
{
    QTest::addColumn<bool>("fileCutShort");  // the library fails after its first progress
    QTest::addColumn<QString>("result");
    QTest::addColumn<TransferEngine::Phase>("phase");
    QTest::newRow("library moves the file") << false << "updateThruUTP result 0"
                                            << TransferEngine::Phase::AwaitingVerdict;
    QTest::newRow("library fails") << true << "updateThruUTP result 3" << TransferEngine::Phase::PartlySent;
}

// Ctrl+C comes in through the events the library's progress callback
// processes. The library runs on to its end; then the engine stops without
// transferEnd, and nothing follows its stopped(). The phase tells whether
// the controller holds the whole image.
void TestUtpPath::stopDuringLibraryCall()
{
    QFETCH(bool, fileCutShort);
    QFETCH(QString, result);
    QFETCH(TransferEngine::Phase, phase);
    // A sysfs attribute's size is a whole page, its content a few bytes.
    const QString shortFile = QStringLiteral("/sys/devices/system/cpu/online");
    if (fileCutShort) {
#ifdef Q_OS_WIN
        QSKIP("needs a symbolic link to a Linux sysfs file");
#endif
        QFile probe(shortFile);
        if (!probe.open(QIODevice::ReadOnly) || probe.size() <= probe.readAll().size())
            QSKIP("no file here whose size exceeds its content");
    }
    const QByteArray image = randomImage(1024 * 1024, 73);
    Rig rig(moss);
    QVERIFY(rig.connect(image));
    LogCapture log;
    QObject::connect(&rig.session, &UpdateSession::libraryProgress, &rig.session, &UpdateSession::stopTransfer);

    rig.press();
    if (fileCutShort)
        linkUpdateFile(shortFile);
    QVERIFY(TestLoop::waitFor([&] { return !rig.reported("transferStopped").isEmpty(); }));
    TestLoop::spin(50);
    QCOMPARE(rig.reports.filter(QRegularExpression(QStringLiteral("^(?!libraryProgress)"))),
             QStringList({ "transferStarted", "transferStopped" }));
    QCOMPARE(log.lines().filter(QRegularExpression(QStringLiteral("^(updateThruUTP result|transfer stopped)"))),
             QStringList({ result, "transfer stopped" }));
    QCOMPARE(rig.controller->writtenReports(), bracketReports(image).mid(0, 1));
    QCOMPARE(rig.session.controllerPhase(), phase);
}

QTEST_GUILESS_MAIN(TestUtpPath)
#include "tst_utppath.moc"
