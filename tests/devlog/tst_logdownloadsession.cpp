// The device log download through the session, as a face drives it: the
// file of the run, the request and acknowledgements the controller
// receives, the progress and the end the session reports, and a stop.

#include "protocol/models.h"
#include "protocol/reports.h"
#include "devicelogfiles.h"
#include "devlog/logdownloader.h"
#include "eventloop.h"
#include "session/updatesession.h"
#include "sessionrecorder.h"

#include <hidsim.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QtTest>

#include <memory>

namespace {

// The session starts its log thread when it opens the device log. Calls
// queued before the thread's event loop exists reach it without the
// wake-up that orders them for the race detector; in the program the
// window opens it long before that.
struct Run
{
    explicit Run(bool connect)
    {
        session.openDeviceLog();
        TestLoop::spin(100);
        if (connect)
            QVERIFY(session.connectFirst());
    }

    UpdateSession session;
    SessionRecorder face { session };
};

HidSim::Controller attachEbony(const QByteArray &log)
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(12)->productId;
    HidSim::ControllerSettings settings;
    settings.unitType = 12;
    settings.log = log;
    return HidSim::attach(description, settings);
}

QString logPath()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(deviceLogFiles().value(0));
}

} // namespace

class TestLogDownloadSession : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void withoutDevice();
    void completeDownload_data();
    void completeDownload();
    void stop_data();
    void stop();
};

void TestLogDownloadSession::init()
{
    HidSim::reset();
    removeDeviceLogFiles();
}

void TestLogDownloadSession::cleanup()
{
    HidSim::reset();
}

// The run's file, named after the moment the log was opened, stays empty
// when the log is asked for with no controller connected.
void TestLogDownloadSession::withoutDevice()
{
    HidSim::Controller controller = attachEbony(patternedLog(100));
    const QDateTime before = QDateTime::currentDateTime();
    Run run(false);
    const QStringList names = deviceLogFiles();
    QCOMPARE(names.size(), 1);
    QVERIFY(names.first() >= LogDownloader::logFileName(before));
    QVERIFY(names.first() <= LogDownloader::logFileName(QDateTime::currentDateTime()));

    run.session.startLogDownload();
    QVERIFY(run.face.waitFor("logFinished"));
    TestLoop::spin(100);

    QCOMPARE(run.face.lines, QStringList { "logFinished Incomplete|" + logPath() + '|' });
    QVERIFY(controller->writtenReports().isEmpty());
    QCOMPARE(deviceLogContents(), QByteArray());
}

void TestLogDownloadSession::completeDownload_data()
{
    // What stands at the names the device log may take: nothing, a
    // directory, or the file of an earlier run, which must stay as it is.
    QTest::addColumn<QString>("takenBy");

    QTest::newRow("file written") << QString();
    QTest::newRow("file name taken") << "directory";
    QTest::newRow("file name in use") << "file";
}

void TestLogDownloadSession::completeDownload()
{
    QFETCH(QString, takenBy);

    const QByteArray log = patternedLog(9 * 63 + 20);
    const QByteArray earlierLog("an earlier run's log");
    HidSim::Controller controller = attachEbony(log);
    const QDir programDir(QCoreApplication::applicationDirPath());
    QStringList taken;
    for (int second = 0; !takenBy.isEmpty() && second < 3; ++second) {
        taken.append(programDir.filePath(LogDownloader::logFileName(QDateTime::currentDateTime().addSecs(second))));
        if (takenBy == QLatin1String("directory")) {
            QVERIFY(programDir.mkpath(taken.last()));
        } else {
            QFile earlier(taken.last());
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write(earlierLog) == earlierLog.size());
        }
    }
    Run run(true);
    controller->clearWrittenReports();

    run.session.startLogDownload();
    QVERIFY(run.face.waitFor("logFinished", 20000));
    for (const QString &path : taken) {
        if (takenBy == QLatin1String("directory")) {
            QVERIFY(programDir.rmdir(path));
        } else {
            QFile earlier(path);
            QVERIFY(earlier.open(QIODevice::ReadOnly));
            QCOMPARE(earlier.readAll(), earlierLog);
            earlier.close();
            QVERIFY(earlier.remove());
        }
    }

    const QStringList finished = run.face.starting("logFinished");
    QCOMPARE(finished.size(), 1);
    if (takenBy == QLatin1String("directory")) {
        QVERIFY2(finished.first().startsWith("logFinished FileNotWritten|" + programDir.path() + '/'),
                 qPrintable(finished.first()));
        QVERIFY(!finished.first().endsWith('|'));  // the system's reason
    } else {
        QCOMPARE(finished.first(), "logFinished Complete|" + logPath() + '|');
    }
    // A name of its own beside the earlier file.
    if (takenBy == QLatin1String("file"))
        QVERIFY2(logPath().endsWith("-2_log.enc"), qPrintable(logPath()));
    QCOMPARE(run.face.starting("logProgress"),
             QStringList({ "logProgress 10", "logProgress 20", "logProgress 30", "logProgress 40", "logProgress 50",
                           "logProgress 60", "logProgress 70", "logProgress 80", "logProgress 90" }));
    QCOMPARE(deviceLogContents(),
             takenBy == QLatin1String("directory") ? QByteArray("<not one device log file>") : log);

    // The request in the trailing layout, then one acknowledgement per
    // reply: the header, nine parts and the last part.
    QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() == 12; }));
    const QList<QByteArray> written = controller->writtenReports();
    QCOMPARE(countCode(written, Report::logRequest, 60), 1);
    QCOMPARE(quint8(written.first().at(62)), quint8(1));
    QCOMPARE(countCode(written, Report::logAck), 11);
}

void TestLogDownloadSession::stop_data()
{
    QTest::addColumn<QString>("when");

    QTest::newRow("during the header wait") << "header";
    QTest::newRow("during the part loop") << "parts";
    QTest::newRow("after an unplug") << "unplug";
    // The session goes while its log thread waits in a read: the thread
    // must have ended, promptly, before the link closes the handle it reads.
    QTest::newRow("session destroyed in the header wait") << "destroy";
}

void TestLogDownloadSession::stop()
{
    QFETCH(QString, when);

    const QByteArray log = patternedLog(60 * 63);
    HidSim::Controller controller = attachEbony(log);
    auto run = std::make_unique<Run>(true);
    controller->clearWrittenReports();

    if (when == QLatin1String("header") || when == QLatin1String("destroy"))
        controller->setSilent(true);
    else if (when == QLatin1String("unplug"))
        controller->unplugAfterWrites(4);

    bool stopped = false;
    const auto stopLog = [&] {
        if (!stopped)
            run->session.stopLogDownload();
        stopped = true;
    };
    if (when == QLatin1String("parts")) {
        connect(&run->session, &UpdateSession::logProgress, this, [&](int percent) {
            if (percent >= 10)
                stopLog();
        });
    }
    run->session.startLogDownload();
    if (when == QLatin1String("destroy")) {
        // The header wait alone would hold the log thread for 15 s: the
        // session breaks it off rather than waiting for it. 5 s stands for
        // "hangs", not for a duration.
        QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() == 1; }));
        TestLoop::spin(100);
        const QDeadlineTimer hangs(5000);
        run.reset();
        QVERIFY2(!hangs.hasExpired(), "the session waited for the log thread's header wait to end");
        QCOMPARE(deviceLogContents(), QByteArray());
        QCOMPARE(HidSim::openHandleCount(), 0);
        const QStringList misuse = HidSim::takeMisuse();
        QVERIFY2(misuse.isEmpty(), qPrintable(misuse.join(QLatin1Char('\n'))));
        return;
    }
    if (when != QLatin1String("parts")) {
        TestLoop::spin(300);
        stopLog();
    }
    QVERIFY(run->face.waitFor("logFinished"));
    QCOMPARE(run->face.starting("logFinished").first(), "logFinished Incomplete|" + logPath() + '|');

    // Nothing is read or acknowledged after the stop, even when the
    // controller has something to say.
    TestLoop::spin(100);
    const int writes = controller->writtenReports().size();
    controller->setSilent(false);
    QByteArray header(Report::payloadSize, '\0');
    header[0] = char(Report::logHeader);
    header[36] = 1;
    controller->queueInputReport(header);
    TestLoop::spin(300);
    QCOMPARE(controller->writtenReports().size(), writes);
    const QByteArray saved = deviceLogContents();
    QVERIFY(saved.size() < log.size());
    QCOMPARE(saved, log.left(saved.size()));
    QCOMPARE(saved.size() % 63, 0);
}

QTEST_GUILESS_MAIN(TestLogDownloadSession)
#include "tst_logdownloadsession.moc"
