// The update checker against the real network stack, with the loopback
// server standing in as the process's web proxy: every request of the
// checker, whatever its host, arrives at the server.

#include "checkerharness.h"
#include "httpserver.h"

#include "update/updatechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#endif

Q_DECLARE_METATYPE(HttpServer::Response)

namespace {

const QByteArray ebonyChangeLog = "EBONY 2.4: steadier transfers";
const QByteArray updaterChangeLog = "Updater 0.15: new models";

QString programFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

// The program directory is known only once the application object exists.
QString updateFile() { return programFile(QStringLiteral("updater.sb")); }
QString temporaryFile() { return programFile(QStringLiteral("updater.sb.upd")); }
QString backupFile() { return programFile(QStringLiteral("updater.sb.bkp")); }
QString overrideFile() { return programFile(QStringLiteral("SUPER_MEGA_UPDATE.sb")); }

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The file's bytes, or a null array when there is no such file.
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    QByteArray bytes = file.readAll();
    if (bytes.isNull())
        bytes = QByteArray("");
    return bytes;
}

void removeProgramFiles()
{
    for (const QString &path : { updateFile(), backupFile(), overrideFile() })
        QFile::remove(path);
    QDir().rmdir(temporaryFile());
    QFile::remove(temporaryFile());
}

HttpServer::Response failingResponse(const QString &kind)
{
    if (kind == QLatin1String("401"))
        return HttpServer::Response::unauthorized();
    if (kind == QLatin1String("404"))
        return HttpServer::Response::notFound();
    if (kind == QLatin1String("301"))
        return HttpServer::Response::redirect(301, "http://mirror.tavoro.test/moved");
    if (kind == QLatin1String("302"))
        return HttpServer::Response::redirect(302, "http://mirror.tavoro.test/moved");
    HttpServer::Response closedEarly = HttpServer::Response::ok(QByteArray(4000, 'x'));
    closedEarly.closeAfter = 100;
    return closedEarly;
}

#ifdef Q_OS_UNIX
// Lowers the largest file this process may write, as a full disk would.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
    }

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};
#endif

} // namespace

class UpdateCheckerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void manifestOutcomes_data();
    void manifestOutcomes();
    void requestsGoToTheDownloadHostWithTheUserAgent();
    void downloadAddresses_data();
    void downloadAddresses();
    void secondDownloadOfAnAddressIsRefused();
    void replyFailures_data();
    void replyFailures();
    void unknownSizeShowsFullProgress();
    void oversizedDownloadIsReportedOnce();
    void changeLogTextIsClearedBetweenOffers();
    void firmwareStorage_data();
    void firmwareStorage();
    void overrideFileSkipsTheOnlineCheck();
    void staleReplyFinishingLateIsIgnored();
    void updaterDownloadAddressIsOpened_data();
    void updaterDownloadAddressIsOpened();
    void missingOpenerIsLogged();

private:
    void serveStandardFiles();
    // Runs a check for an EBONY unit at 2.3 up to the firmware offer.
    void offerFirmware(UpdateChecker &checker, SignalTrace &trace);
    // Accepts the offer and waits for the download's last signal.
    void acceptFirmware(UpdateChecker &checker, SignalTrace &trace, int expectedSignals = 1);

    HttpServer server;
};

void UpdateCheckerTest::initTestCase()
{
    QVERIFY(server.listen());
    server.becomeHttpProxy();
}

void UpdateCheckerTest::init()
{
    server.reset();
    removeProgramFiles();
}

void UpdateCheckerTest::cleanup()
{
    removeProgramFiles();
}

void UpdateCheckerTest::serveStandardFiles()
{
    server.route("/fw/ebony.txt", HttpServer::Response::ok(ebonyChangeLog));
    server.route("/updater/changes.txt", HttpServer::Response::ok(updaterChangeLog));
    server.route("/fw/calyx2.txt", HttpServer::Response::ok("CALYX2 3.1"));
    server.route("/fw/log", HttpServer::Response::ok("found by its query"));
    server.route("/fw/ebony.sb", HttpServer::Response::ok("EBONY image 2.4", "application/octet-stream"));
}

void UpdateCheckerTest::offerFirmware(UpdateChecker &checker, SignalTrace &trace)
{
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24")));
    const int before = trace.events.size();
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();
    QVERIFY(trace.waitForCount(before + 1));
    QVERIFY(trace.events.last().startsWith(QLatin1String("findNewVersion|24|")));
}

void UpdateCheckerTest::acceptFirmware(UpdateChecker &checker, SignalTrace &trace, int expectedSignals)
{
    const int before = trace.events.size();
    checker.onNeedDownloadNewFirmware();
    QVERIFY(trace.waitForCount(before + expectedSignals, 30000));
}

void UpdateCheckerTest::manifestOutcomes_data()
{
    QTest::addColumn<QByteArray>("manifest");
    QTest::addColumn<int>("unitType");
    QTest::addColumn<QString>("currentVersion");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("log");

    const QString firmwareOffer = QStringLiteral("findNewVersion|24|") + ebonyChangeLog;
    const QString upToDate = QStringLiteral("youHaveLastVersion");
    const QStringList quiet;
    const QStringList missingInfo{ QStringLiteral("Can't find info about version and binary file") };
    const QByteArray manifest = ebonyManifest("24");
    QByteArray crlf = manifest;
    crlf.replace("\n", "\r\n");

    QTest::newRow("firmware outdated") << manifest << 12 << "23" << QStringList{ firmwareOffer } << quiet;
    QTest::newRow("CR LF reads like LF") << crlf << 12 << "23" << QStringList{ firmwareOffer } << quiet;
    QTest::newRow("same version") << ebonyManifest("23") << 12 << "23" << QStringList{ upToDate } << quiet;
    QTest::newRow("9 is lower than 23") << ebonyManifest("9") << 12 << "23" << QStringList{ upToDate } << quiet;
    QTest::newRow("unreadable versions") << ebonyManifest("new") << 12 << "x" << QStringList{ upToDate } << quiet;
    QTest::newRow("updater outdated, firmware not compared")
        << ebonyManifest("24", "15") << 12 << "23"
        << QStringList{ QStringLiteral("findMainNewVersion|15|") + updaterChangeLog } << quiet;
    QTest::newRow("updater 15.0 is not newer") << ebonyManifest("24", "15.0") << 12 << "23"
                                               << QStringList{ firmwareOffer } << quiet;
    QTest::newRow("updater 14 is current") << ebonyManifest("23", "14") << 12 << "23"
                                           << QStringList{ upToDate } << quiet;
    QTest::newRow("right half of a pair reads EBONY") << manifest << 14 << "23"
                                                      << QStringList{ firmwareOffer } << quiet;

    QTest::newRow("information missing")
        << QByteArray(manifest).replace("WinMainBin=", "WinBin=") << 12 << "23"
        << QStringList{ connectionProblem } << missingInfo;
    QTest::newRow("blanks around = belong to key and value")
        << QByteArray(manifest).replace("EBONYVer=24", "EBONYVer = 24") << 12 << "23"
        << QStringList{ connectionProblem } << missingInfo;
    QTest::newRow("NUL hides the lines after it")
        << QByteArray(manifest).replace("WinMainBin=", QByteArray("\0WinMainBin=", 12)) << 12 << "23"
        << QStringList{ connectionProblem } << missingInfo;
    QTest::newRow("later duplicate wins") << manifest + "EBONYVer=23\n" << 12 << "23"
                                          << QStringList{ upToDate } << quiet;
    QTest::newRow("value keeps its own =")
        << QByteArray(manifest).replace("http://files.tavoro.test/fw/ebony.txt",
                                        "http://files.tavoro.test/fw/log?model=EBONY&lang=en")
        << 12 << "23" << QStringList{ QStringLiteral("findNewVersion|24|found by its query") } << quiet;

    const QByteArray calyx2 = manifest
                              + "CALYX2Ver=31\n"
                                "CALYX2Bin=http://files.tavoro.test/fw/calyx2.sb\n"
                                "CALYX2ChangeLog=http://files.tavoro.test/fw/calyx2.txt\n";
    QTest::newRow("unit type 18 reads CALYX2")
        << calyx2 << 18 << "23" << QStringList{ QStringLiteral("findNewVersion|31|CALYX2 3.1") }
        << QStringList{ QStringLiteral("Can't recog unitType 18") };
    QTest::newRow("unit type -1 reads CALYX2")
        << calyx2 << -1 << "23" << QStringList{ QStringLiteral("findNewVersion|31|CALYX2 3.1") }
        << QStringList{ QStringLiteral("Can't recog unitType -1") };

    QTest::newRow("outdated updater without a change log")
        << QByteArray(manifest).replace("MainChangeLog=", "Changes=").replace("MainVer=14", "MainVer=15")
        << 12 << "23" << QStringList{ connectionProblem }
        << QStringList{ QStringLiteral("UpdateChecker::downloadError"), QStringLiteral("UpdateChecker::exitSlot") };

    // 10245 bytes is the largest manifest without a problem report; the
    // carriage returns do not count, and a larger one is read all the same.
    const QByteArray padding(10245 - manifest.size() - 1, '#');
    QTest::newRow("10245 bytes") << manifest + padding + "\n" << 12 << "23" << QStringList{ firmwareOffer } << quiet;
    QByteArray withCarriageReturns = manifest + padding + "\n";
    withCarriageReturns.replace("\n", "\r\n");
    QTest::newRow("10245 bytes after removing CR") << withCarriageReturns << 12 << "23"
                                                   << QStringList{ firmwareOffer } << quiet;
    QTest::newRow("10246 bytes") << manifest + padding + "#\n" << 12 << "23"
                                 << QStringList{ connectionProblem, firmwareOffer }
                                 << QStringList{ QStringLiteral("UpdateChecker::exitSlot") };
}

void UpdateCheckerTest::manifestOutcomes()
{
    QFETCH(QByteArray, manifest);
    QFETCH(int, unitType);
    QFETCH(QString, currentVersion);
    QFETCH(QStringList, events);
    QFETCH(QStringList, log);

    serveStandardFiles();
    server.route(manifestPath, HttpServer::Response::ok(manifest));
    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);

    checker.setUnitType(unitType);
    checker.setCurrentVersion(currentVersion);
    checker.checkVersion();

    QVERIFY(trace.waitForCount(events.size()));
    QCOMPARE(trace.events, events);
    QCOMPARE(programLog(capture), log);
}

void UpdateCheckerTest::requestsGoToTheDownloadHostWithTheUserAgent()
{
    serveStandardFiles();
    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);
    acceptFirmware(checker, trace);

    const QList<HttpServer::Request> requests = server.requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests.at(0).requestLine,
             QByteArray("GET http://" TAVORO_DOWNLOAD_HOST "/TVDownloadSite/wp-content/uploads/versions.txt HTTP/1.1"));
    QCOMPARE(requests.at(1).requestLine, QByteArray("GET http://files.tavoro.test/fw/ebony.txt HTTP/1.1"));
    QCOMPARE(requests.at(2).requestLine, QByteArray("GET http://files.tavoro.test/fw/ebony.sb HTTP/1.1"));
    for (const HttpServer::Request &request : requests)
        QCOMPARE(request.header("User-Agent"), QByteArray("MyOwnBrowser 1.0"));

    const QStringList debugLines = capture.lines().filter(QRegularExpression(QStringLiteral("^app path ")));
    QCOMPARE(debugLines, QStringList{ QStringLiteral("app path \"%1\"").arg(QCoreApplication::applicationDirPath()) });
}

void UpdateCheckerTest::downloadAddresses_data()
{
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("requestLine");  // empty: refused without a request

    QTest::newRow("https goes over http")
        << QByteArray("https://files.tavoro.test/fw/ebony.txt")
        << QByteArray("GET http://files.tavoro.test/fw/ebony.txt HTTP/1.1");
    QTest::newRow("query kept") << QByteArray("ftp://files.tavoro.test/fw/ebony.txt?rev=2&model=EBONY")
                                << QByteArray("GET http://files.tavoro.test/fw/ebony.txt?rev=2&model=EBONY HTTP/1.1");
    QTest::newRow("port kept") << QByteArray("http://files.tavoro.test:8080/fw/ebony.txt")
                               << QByteArray("GET http://files.tavoro.test:8080/fw/ebony.txt HTTP/1.1");
    QTest::newRow("no path") << QByteArray("http://files.tavoro.test") << QByteArray();
    QTest::newRow("second //") << QByteArray("http://files.tavoro.test/fw//ebony.txt") << QByteArray();
    QTest::newRow("no scheme") << QByteArray("files.tavoro.test/fw/ebony.txt") << QByteArray();
}

void UpdateCheckerTest::downloadAddresses()
{
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, requestLine);

    serveStandardFiles();
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24").replace(
                                   "http://files.tavoro.test/fw/ebony.txt", address)));
    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();
    QVERIFY(trace.waitForCount(1));

    if (requestLine.isEmpty()) {
        QCOMPARE(trace.events, QStringList{ connectionProblem });
        QCOMPARE(programLog(capture), QStringList({ "UpdateChecker::downloadError", "UpdateChecker::exitSlot" }));
        QCOMPARE(server.requestCount(), 1);
    } else {
        QCOMPARE(trace.events, QStringList{ QStringLiteral("findNewVersion|24|") + ebonyChangeLog });
        QCOMPARE(server.requestCount(), 2);
        QCOMPARE(server.requests().at(1).requestLine, requestLine);
        QCOMPARE(server.requests().at(1).header("User-Agent"), QByteArray("MyOwnBrowser 1.0"));
    }
}

// The address member keeps only its path once its download has started.
void UpdateCheckerTest::secondDownloadOfAnAddressIsRefused()
{
    serveStandardFiles();
    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);

    checker.downloadChangeLog();
    QVERIFY(trace.waitForCount(2));
    QCOMPARE(trace.events.last(), connectionProblem);
    QCOMPARE(programLog(capture), QStringList({ "UpdateChecker::downloadError", "UpdateChecker::exitSlot" }));
    QCOMPARE(server.requestCount(), 2);
}

void UpdateCheckerTest::replyFailures_data()
{
    QTest::addColumn<QByteArray>("failingPath");
    QTest::addColumn<HttpServer::Response>("response");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QStringList>("log");

    const QString firmwareOffer = QStringLiteral("findNewVersion|24|") + ebonyChangeLog;
    for (const QString kind : { "401", "404", "301", "302", "closed early" }) {
        const HttpServer::Response response = failingResponse(kind);
        QTest::addRow("manifest %s", qPrintable(kind))
            << manifestPath << response << QStringList{ connectionProblem }
            << QStringList{ "Error by download info file" };
        QTest::addRow("change log %s", qPrintable(kind))
            << QByteArray("/fw/ebony.txt") << response
            << QStringList{ connectionProblem, "checkversionError" }
            << QStringList{ "UpdateChecker::downloadChangeLogDone", "Error by download update file" };
        QTest::addRow("updater change log %s", qPrintable(kind))
            << QByteArray("/updater/changes.txt") << response
            << QStringList{ connectionProblem, "checkversionError" }
            << QStringList{ "UpdateChecker::downloadMainChangeLogDone", "Error by download update file" };
        QTest::addRow("firmware %s", qPrintable(kind))
            << QByteArray("/fw/ebony.sb") << response
            << QStringList{ firmwareOffer, connectionProblem, "checkversionError" }
            << QStringList{ "UpdateChecker::onDone", "Error by download update file" };
    }
}

// A failed reply (a redirect page included, since redirects are not
// followed) is reported and never parsed or stored.
void UpdateCheckerTest::replyFailures()
{
    QFETCH(QByteArray, failingPath);
    QFETCH(HttpServer::Response, response);
    QFETCH(QStringList, events);
    QFETCH(QStringList, log);

    writeFile(updateFile(), "image 2.3");
    writeFile(backupFile(), "image 2.2");
    serveStandardFiles();
    const bool updaterOffer = failingPath == "/updater/changes.txt";
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24", updaterOffer ? "15" : "14")));
    server.route(failingPath, response);

    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();
    if (failingPath == "/fw/ebony.sb") {
        QVERIFY(trace.waitForCount(1));
        checker.onNeedDownloadNewFirmware();
    }

    QVERIFY(trace.waitForCount(events.size()));
    QCOMPARE(trace.events, events);
    QCOMPARE(programLog(capture), log);
    for (const QString &error : trace.errors)
        QVERIFY(!error.isEmpty());
    QCOMPARE(fileBytes(updateFile()), QByteArray("image 2.3"));
    QCOMPARE(fileBytes(backupFile()), QByteArray("image 2.2"));
    QVERIFY(!QFile::exists(temporaryFile()));
}

// Without a Content-Length every progress report is 100 percent.
void UpdateCheckerTest::unknownSizeShowsFullProgress()
{
    const QByteArray image(300000, 'U');
    serveStandardFiles();
    HttpServer::Response response = HttpServer::Response::ok(image, "application/octet-stream");
    response.sendContentLength = false;
    // Qt reports progress at most every few tens of milliseconds.
    response.chunkSize = 30000;
    response.chunkIntervalMs = 40;
    server.route("/fw/ebony.sb", response);

    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);
    trace.progress.clear();
    acceptFirmware(checker, trace);

    QCOMPARE(trace.events.last(), QStringLiteral("newUpdateFileDownloaded|true"));
    QCOMPARE(fileBytes(updateFile()), image);
    QVERIFY(trace.progress.size() > 1);
    QVERIFY(std::all_of(trace.progress.begin(), trace.progress.end(), [](int percent) { return percent == 100; }));
}

// Announcing more than 15000000 bytes is reported once, not at every
// progress report, and the download goes on to the end.
void UpdateCheckerTest::oversizedDownloadIsReportedOnce()
{
    const QByteArray image(15000001, 'F');
    serveStandardFiles();
    // Paced, so that the checker sees several progress reports.
    HttpServer::Response response = HttpServer::Response::ok(image, "application/octet-stream");
    response.chunkSize = 1000000;
    response.chunkIntervalMs = 50;
    server.route("/fw/ebony.sb", response);

    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);
    acceptFirmware(checker, trace, 2);

    QCOMPARE(trace.events.mid(1), QStringList({ connectionProblem, "newUpdateFileDownloaded|true" }));
    QCOMPARE(programLog(capture), QStringList({ "UpdateChecker::downloadError", "UpdateChecker::exitSlot" }));
    QVERIFY(trace.progress.size() > 2);
    QCOMPARE(trace.progress.last(), 100);
    QCOMPARE(QFileInfo(updateFile()).size(), qint64(image.size()));
}

void UpdateCheckerTest::changeLogTextIsClearedBetweenOffers()
{
    serveStandardFiles();
    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);

    server.route("/fw/ebony.txt", HttpServer::Response::ok("second log"));
    offerFirmware(checker, trace);

    QCOMPARE(trace.events, QStringList({ QStringLiteral("findNewVersion|24|") + ebonyChangeLog,
                                         QStringLiteral("findNewVersion|24|second log") }));
}

void UpdateCheckerTest::firmwareStorage_data()
{
    QTest::addColumn<QByteArray>("updateBefore");  // null: no such file
    QTest::addColumn<QByteArray>("backupBefore");
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<bool>("stored");

    const QByteArray none;
    const QByteArray image = "EBONY image 2.4";
    QTest::newRow("first download") << none << none << "" << image << true;
    QTest::newRow("second keeps the first as backup") << QByteArray("image 2.3") << none << "" << image << true;
    QTest::newRow("third deletes the first") << QByteArray("image 2.3") << QByteArray("image 2.2") << ""
                                             << image << true;
    QTest::newRow("leftover temporary file") << none << none << "leftover" << image << true;
    QTest::newRow("empty image") << QByteArray("image 2.3") << none << "" << QByteArray("") << true;
    // The tests run as root, which ignores directory permissions, so the
    // program directory cannot be made unwritable. A directory standing at
    // the temporary file's name makes that one file unopenable instead.
    QTest::newRow("temporary file unopenable") << QByteArray("image 2.3") << QByteArray("image 2.2")
                                               << "directory" << image << false;
    // A full disk: the file size limit cuts the write short.
    QTest::newRow("short write") << QByteArray("image 2.3") << QByteArray("image 2.2") << "full disk"
                                 << QByteArray(200000, 'S') << false;
}

// The update file is replaced only by a completely written image, and the
// old backup goes only once the new image is safe.
void UpdateCheckerTest::firmwareStorage()
{
    QFETCH(QByteArray, updateBefore);
    QFETCH(QByteArray, backupBefore);
    QFETCH(QString, obstacle);
    QFETCH(QByteArray, image);
    QFETCH(bool, stored);

    if (!updateBefore.isNull())
        writeFile(updateFile(), updateBefore);
    if (!backupBefore.isNull())
        writeFile(backupFile(), backupBefore);
    if (obstacle == QLatin1String("leftover"))
        writeFile(temporaryFile(), QByteArray(50000, 'L'));
    if (obstacle == QLatin1String("directory"))
        QVERIFY(QDir().mkdir(temporaryFile()));
    serveStandardFiles();
    server.route("/fw/ebony.sb", HttpServer::Response::ok(image, "application/octet-stream"));

    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    offerFirmware(checker, trace);
    if (obstacle == QLatin1String("full disk")) {
#ifdef Q_OS_UNIX
        FileSizeLimit limit(4096);
        acceptFirmware(checker, trace);
#else
        QSKIP("needs a file size limit");
#endif
    } else {
        acceptFirmware(checker, trace);
    }

    if (stored) {
        QCOMPARE(trace.events.mid(1), QStringList{ "newUpdateFileDownloaded|true" });
        QCOMPARE(programLog(capture), QStringList());
        QCOMPARE(fileBytes(updateFile()), image);
        QCOMPARE(fileBytes(backupFile()), updateBefore);
        QCOMPARE(QFile::exists(backupFile()), !updateBefore.isNull());
    } else {
        QCOMPARE(trace.events.mid(1),
                 QStringList{ "youHaveProblem|Error saving firmware to disk.|Check the HD, connections between "
                              "PC and the unit and to try the update again." });
        QCOMPARE(programLog(capture), QStringList{ "Error saving firmware to disk." });
        QCOMPARE(fileBytes(updateFile()), updateBefore);
        QCOMPARE(fileBytes(backupFile()), backupBefore);
    }
    QVERIFY(!QFileInfo(temporaryFile()).isFile());
}

void UpdateCheckerTest::overrideFileSkipsTheOnlineCheck()
{
    writeFile(overrideFile(), "hand-made image");
    serveStandardFiles();
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24")));

    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();

    QVERIFY(trace.waitForCount(2));
    TestLoop::spin(200);
    QCOMPARE(trace.events, QStringList({ "changeUpdateFileName|" + overrideFile(), "newUpdateFileDownloaded|true" }));
    QCOMPARE(server.requestCount(), 0);
}

// Two checks in flight: the second one ends first and releases its reply;
// the first one failing afterwards must neither crash nor report.
void UpdateCheckerTest::staleReplyFinishingLateIsIgnored()
{
    server.queue(manifestPath, HttpServer::Response::hanging());
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("23")));

    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();
    QVERIFY(server.waitForRequests(1));
    checker.checkVersion();
    QVERIFY(trace.waitForCount(1));

    server.closeConnections();
    TestLoop::spin(300);
    QCOMPARE(trace.events, QStringList{ "youHaveLastVersion" });
}

void UpdateCheckerTest::updaterDownloadAddressIsOpened_data()
{
    QTest::addColumn<bool>("manifestRead");
    QTest::addColumn<QString>("opened");
    QTest::newRow("from the manifest") << true << "http://files.tavoro.test/updater/setup.exe";
    QTest::newRow("before any manifest") << false << TAVORO_MAIN_BINARY_PLACEHOLDER;
}

// The desktop's opener (xdg-open here) is replaced by a script on PATH
// that records its arguments.
void UpdateCheckerTest::updaterDownloadAddressIsOpened()
{
#ifndef Q_OS_UNIX
    QSKIP("the desktop's opener is replaced through PATH on Unix only");
#endif
    QFETCH(bool, manifestRead);
    QFETCH(QString, opened);

    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QString record = bin.filePath(QStringLiteral("opened.txt"));
    writeFile(bin.filePath(QStringLiteral("xdg-open")),
              "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record.toUtf8() + ".part\" && /bin/mv \""
                  + record.toUtf8() + ".part\" \"" + record.toUtf8() + "\"\n");
    QFile::setPermissions(bin.filePath(QStringLiteral("xdg-open")), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));

    serveStandardFiles();
    server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24", "15")));
    UpdateChecker checker;
    SignalTrace trace(checker);
    if (manifestRead) {
        checker.setUnitType(12);
        checker.setCurrentVersion(QStringLiteral("23"));
        checker.checkVersion();
        QVERIFY(trace.waitForCount(1));
    }
    checker.onNeedDownloadNewMainFirmware();
    const bool ran = TestLoop::waitFor([&] { return QFile::exists(record); });
    qputenv("PATH", savedPath);

    QVERIFY(ran);
    QCOMPARE(trace.events.last(), QStringLiteral("startDownloadMainUpdate"));
    QCOMPARE(fileBytes(record), "1\n" + opened.toUtf8() + "\n");
}

void UpdateCheckerTest::missingOpenerIsLogged()
{
#ifndef Q_OS_UNIX
    QSKIP("the desktop's opener is replaced through PATH on Unix only");
#endif
    QTemporaryDir emptyBin;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(emptyBin.path()));

    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.onNeedDownloadNewMainFirmware();
    qputenv("PATH", savedPath);

    QCOMPARE(trace.events, QStringList{ "startDownloadMainUpdate" });
    QCOMPARE(programLog(capture),
             QStringList{ "Can't start xdg-open for the updater download " TAVORO_MAIN_BINARY_PLACEHOLDER });
}

QTEST_GUILESS_MAIN(UpdateCheckerTest)
#include "tst_updatechecker.moc"
