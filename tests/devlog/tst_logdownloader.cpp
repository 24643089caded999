// The log downloader on its own worker thread, against a simulated
// controller, wired as the update session wires it but for the
// acknowledgements (see Rig).

#include "protocol/reports.h"
#include "devicelogfiles.h"
#include "devlog/logdownloader.h"
#include "eventloop.h"
#include "logcapture.h"

#include <hidsim.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include "filesizelimit.h"
#endif

namespace {

QByteArray reply(quint8 code)
{
    QByteArray payload(Report::payloadSize, '\0');
    payload[0] = char(code);
    return payload;
}

bool onlyPayloadByteSet(const QByteArray &report, int offset, quint8 value)
{
    QByteArray expected(Report::outputSize, '\0');
    expected[offset + 1] = char(value);
    return report == expected;
}

} // namespace

// A downloader on a worker thread. Acknowledgements are queued to this
// thread and relayed back to the downloader's thread, so that a test can
// act before each; the session lets the downloader acknowledge on its own.
class Rig : public QObject
{
    Q_OBJECT

public:
    // `handle` (may be null) is closed with the rig.
    explicit Rig(hid_device *handle, int unitType = 3, uint stackSize = 0)
        : handle(handle)
    {
        downloader = new LogDownloader(nullptr);
        if (stackSize)
            thread.setStackSize(stackSize);
        downloader->moveToThread(&thread);
        connect(downloader, &LogDownloader::needwaitLogFileMd5, downloader, &LogDownloader::waitLogFileMd5);
        connect(downloader, &LogDownloader::needreadLogPart, downloader, &LogDownloader::readLogPart);
        connect(downloader, &LogDownloader::needresendMessage, downloader, &LogDownloader::resendMessage);
        connect(downloader, &LogDownloader::needdataCompleted, this, &Rig::relay);
        connect(this, &Rig::acknowledge, downloader, &LogDownloader::dataCompleted);
        connect(downloader, &LogDownloader::logDownloadProgress, this, [this](int value) { progress.append(value); });
        connect(downloader, &LogDownloader::logFileFailed, this,
                [this](const QString &reason) { fileFailures.append(reason); });
        connect(downloader, &LogDownloader::logDownloadFinished, this, [this](bool complete) {
            ++finished;
            lastComplete = complete;
        });
        // Calls queued before the thread's event loop exists would be
        // delivered without the wake-up that orders them for the race
        // detector; the session's thread has long been running by then too.
        // The flag is set on the new thread itself and the connection stays
        // until the rig goes: a slot object read on one thread and freed on
        // another is a hand-over the detector cannot see inside Qt.
        connect(&thread, &QThread::started, &thread, [this] { threadRunning = true; },
                Qt::DirectConnection);
        thread.start();
        TestLoop::waitFor([this] { return threadRunning.load(); });
        // As connecting a unit does, from this thread.
        if (handle)
            downloader->setDevice(handle, unitType);
    }

    ~Rig() override
    {
        // As the session does: the downloader is deleted on its own thread.
        downloader->deleteLater();
        thread.requestInterruption();
        thread.quit();
        thread.wait();
        if (handle)
            hid_close(handle);
    }

    // As the session's start and stop do.
    void start() { downloader->startDownload(1); }
    void stop()
    {
        downloader->stopTransfer();
        downloader->dumpFile();
    }

    LogDownloader *downloader;
    std::atomic<bool> threadRunning { false };
    QThread thread;
    QList<int> progress;
    QList<int> relayed;
    int finished = 0;
    bool lastComplete = false;  // what the last logDownloadFinished said
    QStringList fileFailures;   // the reasons logFileFailed gave
    // Runs on this thread before the nth relayed acknowledgement (from 1)
    // goes back to the downloader.
    std::function<void(int)> beforeAcknowledgement;

signals:
    void acknowledge(int type);

private:
    void relay(int type)
    {
        relayed.append(type);
        if (beforeAcknowledgement)
            beforeAcknowledgement(relayed.size());
        emit acknowledge(type);
    }

    hid_device *handle;
};

class TestLogDownloader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void fileNamedAfterStart();
    void progressPercent_data();
    void progressPercent();

    void completeDownload_data();
    void completeDownload();
    void headerWaitSkipsOtherReports();
    void unexpectedRepliesAreResent_data();
    void unexpectedRepliesAreResent();
    void lastPartCountBeyondReport();
    void partCountMismatchStartsOver_data();
    void partCountMismatchStartsOver();
    void halts_data();
    void halts();
    void stopDuringPartLoop_data();
    void stopDuringPartLoop();
    void headerWaitEnds_data();
    void headerWaitEnds();

private:
    HidSim::Controller attach(int unitType, const QByteArray &log);
    hid_device *open(const HidSim::Controller &controller);
};

void TestLogDownloader::init()
{
    HidSim::reset();
    removeDeviceLogFiles();
}

void TestLogDownloader::cleanup()
{
    HidSim::reset();
}

HidSim::Controller TestLogDownloader::attach(int unitType, const QByteArray &log)
{
    HidSim::DeviceDescription description;
    description.vendorId = 0x1234;
    description.productId = 0x5678;
    HidSim::ControllerSettings settings;
    settings.unitType = unitType;
    settings.sendsVersionReport = false;
    settings.log = log;
    return HidSim::attach(description, settings);
}

hid_device *TestLogDownloader::open(const HidSim::Controller &controller)
{
    return hid_open_path(controller->path().c_str());
}

void TestLogDownloader::fileNamedAfterStart()
{
    QCOMPARE(LogDownloader::logFileName(QDateTime(QDate(2021, 3, 3), QTime(9, 5, 7))),
             QStringLiteral("2021-03-03_09_05_07_log.enc"));
    QCOMPARE(LogDownloader::logFileName(QDateTime(QDate(2021, 12, 31), QTime(23, 59, 58))),
             QStringLiteral("2021-12-31_23_59_58_log.enc"));
    QCOMPARE(LogDownloader::logFileName(QDateTime(QDate(2021, 3, 3), QTime(9, 5, 7)), 12),
             QStringLiteral("2021-03-03_09_05_07-12_log.enc"));
}

void TestLogDownloader::progressPercent_data()
{
    QTest::addColumn<int>("received");
    QTest::addColumn<int>("total");
    QTest::addColumn<int>("percent");

    QTest::newRow("first of ten") << 1 << 10 << 10;
    QTest::newRow("truncated") << 2 << 3 << 66;
    QTest::newRow("no header yet") << 1 << 0 << 0;
    QTest::newRow("more parts than announced") << 12 << 10 << 100;
    QTest::newRow("negative count") << 1 << -5 << 0;
    QTest::newRow("past 32-bit product") << (1 << 30) << 0x7FFFFFFF << 50;
}

void TestLogDownloader::progressPercent()
{
    QFETCH(int, received);
    QFETCH(int, total);
    QFETCH(int, percent);
    QCOMPARE(LogDownloader::progressPercent(received, total), percent);
}

void TestLogDownloader::completeDownload_data()
{
    QTest::addColumn<int>("logSize");
    QTest::addColumn<QList<int>>("progress");
    QTest::addColumn<int>("diskFullAt");  // the bytes the disk takes, 0: all; the exchange is the same

    const QList<int> tenths { 10, 20, 30, 40, 50, 60, 70, 80, 90 };
    QTest::newRow("nine parts and 20 bytes") << 9 * 63 + 20 << tenths << 0;
    QTest::newRow("empty last part") << 2 * 63 << QList<int> { 33, 66 } << 0;
    QTest::newRow("last part only") << 1 << QList<int>() << 0;
    QTest::newRow("logClose") << 0 << QList<int>() << 0;
    QTest::newRow("disk full") << 9 * 63 + 20 << tenths << 2 * 63;
    // In the last write: no later one fails and tells of it.
    QTest::newRow("disk full inside the last part") << 9 * 63 + 20 << tenths << 9 * 63 + 10;
}

void TestLogDownloader::completeDownload()
{
    QFETCH(int, logSize);
    QFETCH(QList<int>, progress);
    QFETCH(int, diskFullAt);

    const QByteArray log = patternedLog(logSize);
    HidSim::Controller controller = attach(3, log);
#ifdef Q_OS_UNIX
    std::optional<FileSizeLimit> limit;
    if (diskFullAt)
        limit.emplace(diskFullAt);
#else
    if (diskFullAt)
        QSKIP("needs a file size limit");
#endif
    Rig rig(open(controller));
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished > 0; }));
    const int parts = logSize ? logSize / 63 + 1 : 0;
    const int acknowledgements = logSize ? parts + 1 : 0;
    QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() == 1 + acknowledgements; }));
    TestLoop::spin(50);
#ifdef Q_OS_UNIX
    limit.reset();
#endif

    // The system's reason, as a full disk gives one.
    QCOMPARE(rig.fileFailures, diskFullAt ? QStringList { qt_error_string(EFBIG) } : QStringList());
    QCOMPARE(deviceLogContents(), diskFullAt ? log.left(diskFullAt) : log);
    QCOMPARE(rig.progress, progress);
    QCOMPARE(rig.finished, 1);
    QVERIFY(rig.lastComplete);

    const QList<QByteArray> written = controller->writtenReports();
    QCOMPARE(written.size(), 1 + acknowledgements);
    QByteArray request(Report::outputSize, '\0');
    request[1] = char(0x10);
    request[2] = char(0x01);
    QCOMPARE(written.first(), request);
    for (int i = 1; i < written.size(); ++i)
        QVERIFY2(onlyPayloadByteSet(written.at(i), 0, 0x30), qPrintable(QString::number(i)));
    // Every part is acknowledged as it goes; the last one with type 1.
    if (logSize)
        QCOMPARE(rig.relayed.last(), 1);
}

void TestLogDownloader::headerWaitSkipsOtherReports()
{
    const QByteArray log = patternedLog(200);
    HidSim::Controller controller = attach(3, log);
    QByteArray strayPart = reply(Report::logPart);
    strayPart.fill('x', 40);
    strayPart[0] = char(Report::logPart);
    controller->queueInputReport(strayPart);
    controller->queueInputReport(reply(0x90));
    Rig rig(open(controller));
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished > 0; }));
    QCOMPARE(deviceLogContents(), log);
}

void TestLogDownloader::unexpectedRepliesAreResent_data()
{
    QTest::addColumn<int>("replies");
    QTest::addColumn<uint>("stackSize");

    QTest::newRow("one") << 1 << 0u;
    // Each must be answered without growing the stack of a thread as small
    // as the program's on Windows.
    QTest::newRow("a long run, small stack") << 20000 << 256u * 1024;
}

void TestLogDownloader::unexpectedRepliesAreResent()
{
    QFETCH(int, replies);
    QFETCH(uint, stackSize);

    const QByteArray log = patternedLog(3 * 63 + 5);
    HidSim::Controller controller = attach(3, log);
    Rig rig(open(controller), 3, stackSize);
    rig.beforeAcknowledgement = [&](int n) {
        if (n == 2) {
            for (int i = 0; i < replies; ++i)
                controller->queueInputReport(reply(0x41));
        }
    };
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished > 0; }, 60000));
    QCOMPARE(deviceLogContents(), log);
    const QList<QByteArray> written = controller->writtenReports();
    QCOMPARE(countCode(written, Report::logResend), replies);
    for (const QByteArray &report : written) {
        if (quint8(report.at(1)) == Report::logResend)
            QVERIFY(onlyPayloadByteSet(report, 0, 0x70));
    }
    QCOMPARE(rig.progress, (QList<int> { 25, 50, 75 }));
}

void TestLogDownloader::lastPartCountBeyondReport()
{
    // A log of one part; ahead of the controller's own last part comes one
    // that claims 200 bytes but can hold only 62.
    HidSim::Controller controller = attach(3, patternedLog(10));
    QByteArray last = reply(Report::logLastPart);
    last[1] = char(200);
    for (int i = 2; i < Report::payloadSize; ++i)
        last[i] = char('a' + i % 26);
    Rig rig(open(controller));
    rig.beforeAcknowledgement = [&](int n) {
        if (n == 1)
            controller->queueInputReport(last);
    };
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished > 0; }));
    QCOMPARE(deviceLogContents(), last.mid(2));
}

void TestLogDownloader::partCountMismatchStartsOver_data()
{
    QTest::addColumn<bool>("miscountsAgain");
    QTest::addColumn<QStringList>("logLines");

    QTest::newRow("once") << false << QStringList();
    QTest::newRow("every time") << true
        << QStringList{ "log download kept after a second miscount: parts received 1 of 6" };
}

void TestLogDownloader::partCountMismatchStartsOver()
{
    QFETCH(bool, miscountsAgain);
    QFETCH(QStringList, logLines);
    LogCapture capture;

    // A last part right after the header: one part of the six announced.
    // The broken round is dropped and the whole log asked for again, once.
    const QByteArray log = patternedLog(5 * 63 + 7);
    HidSim::Controller controller = attach(3, log);
    QByteArray bogusLast = reply(Report::logLastPart);
    bogusLast[1] = 10;
    Rig rig(open(controller));
    rig.beforeAcknowledgement = [&](int n) {
        if (n == 1 || (n == 2 && miscountsAgain)) {
            bogusLast.replace(2, 10, QByteArray(10, char('A' + n)));
            controller->queueInputReport(bogusLast);
        }
    };
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished > 0; }));
    QCOMPARE(deviceLogContents(), miscountsAgain ? QByteArray(10, 'C') : log);
    QCOMPARE(countCode(controller->writtenReports(), Report::logRequest), 2);
    QCOMPARE(rig.relayed.last(), 1);
    QCOMPARE(rig.lastComplete, !miscountsAgain);
    QCOMPARE(capture.lines().filter(QStringLiteral("log download")), logLines);
}

void TestLogDownloader::halts_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("partsWritten");

    QTest::newRow("silent after an acknowledgement") << "silent" << 3;
    QTest::newRow("unplugged") << "unplug" << 3;
    QTest::newRow("acknowledgement not written") << "failWrite" << 3;
    QTest::newRow("request not written") << "failRequest" << 0;
}

void TestLogDownloader::halts()
{
    QFETCH(QString, fault);
    QFETCH(int, partsWritten);

    HidSim::Controller controller = attach(3, patternedLog(20 * 63));
    Rig rig(open(controller));
    const int faultyAcknowledgement = partsWritten + 1;  // the header's comes first
    rig.beforeAcknowledgement = [&](int n) {
        if (n != faultyAcknowledgement)
            return;
        if (fault == QLatin1String("silent"))
            controller->setSilent(true);
        else if (fault == QLatin1String("unplug"))
            controller->unplugAfterWrites(1);
        else if (fault == QLatin1String("failWrite"))
            controller->failWrite(1);
    };
    if (fault == QLatin1String("failRequest"))
        controller->failWrite(1);
    rig.start();

    // Nothing more happens until the user stops the download.
    QVERIFY(TestLoop::waitFor([&] { return rig.relayed.size() >= partsWritten + 1 || partsWritten == 0; }));
    TestLoop::spin(400);
    QCOMPARE(rig.finished, 0);
    const int writes = controller->writtenReports().size();

    rig.stop();
    QVERIFY(TestLoop::waitFor([&] { return rig.finished == 2; }));
    TestLoop::spin(100);
    QCOMPARE(controller->writtenReports().size(), writes);
    QCOMPARE(deviceLogContents(), patternedLog(partsWritten * 63));
}

void TestLogDownloader::stopDuringPartLoop_data()
{
    QTest::addColumn<bool>("whileReading");

    // The stop lands while the acknowledgement of part 5 is on its way back
    // to the downloader, or once that acknowledgement has reached the device
    // and the downloader goes on to read part 6, before this thread has heard
    // of it.
    QTest::newRow("before the acknowledgement") << false;
    QTest::newRow("while the next part is read") << true;
}

void TestLogDownloader::stopDuringPartLoop()
{
    QFETCH(bool, whileReading);

    const QByteArray log = patternedLog(50 * 63);
    HidSim::Controller controller = attach(3, log);
    Rig rig(open(controller));
    rig.beforeAcknowledgement = [&](int n) {
        if (n != 6)
            return;
        if (!whileReading) {
            rig.stop();
            return;
        }
        QTimer::singleShot(0, &rig, [&] {
            QDeadlineTimer giveUp(5000);
            while (countCode(controller->writtenReports(), Report::logAck) < 6 && !giveUp.hasExpired())
                QThread::yieldCurrentThread();
            QThread::msleep(5);
            rig.stop();
        });
    };
    rig.start();

    QVERIFY(TestLoop::waitFor([&] { return rig.finished == 2; }));
    TestLoop::spin(200);
    QCOMPARE(rig.finished, 2);
    QVERIFY(!rig.lastComplete);

    // Every part read went whole into the file and was acknowledged; the
    // parts after the stop were never read.
    const int acknowledged = rig.relayed.size();
    QVERIFY(acknowledged >= 6 && acknowledged <= 7);
    QVERIFY(whileReading || acknowledged == 6);
    QCOMPARE(deviceLogContents(), log.left((acknowledged - 1) * 63));
    QCOMPARE(countCode(controller->writtenReports(), Report::logAck), acknowledged);
}

void TestLogDownloader::headerWaitEnds_data()
{
    QTest::addColumn<bool>("unplugged");
    QTest::addColumn<QStringList>("log");

    QTest::newRow("device gone") << true << QStringList();
    // The whole wait: 15 seconds of silence.
    QTest::newRow("no header in time") << false
        << QStringList{ "log download gave up: no log header within 15000 ms" };
}

// The download ends without a header, and says why in the program log.
void TestLogDownloader::headerWaitEnds()
{
    QFETCH(bool, unplugged);
    QFETCH(QStringList, log);
    LogCapture capture;

    HidSim::Controller controller = attach(3, patternedLog(100));
    controller->setSilent(true);
    Rig rig(open(controller));
    rig.start();
    QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() == 1; }));

    if (unplugged)
        controller->unplug();
    QVERIFY(TestLoop::waitFor([&] { return rig.finished == 1; }, LogDownloader::headerWaitLimitMs + 5000));
    QCOMPARE(rig.relayed.size(), 0);
    QVERIFY(!rig.lastComplete);
    QCOMPARE(deviceLogContents(), QByteArray());
    QCOMPARE(capture.lines().filter(QStringLiteral("log download")), log);
}

QTEST_GUILESS_MAIN(TestLogDownloader)
#include "tst_logdownloader.moc"
