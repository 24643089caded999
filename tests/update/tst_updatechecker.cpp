// The update checker against the real network stack, with the loopback
// server standing in as the process's web proxy: every request of the
// checker, whatever its host, arrives at the server.

#include "checkerharness.h"
#include "httpserver.h"
#include "update/versiontext.h"

#ifdef Q_OS_UNIX
#include "filesizelimit.h"
#endif

Q_DECLARE_METATYPE(HttpServer::Response)

namespace {

const QByteArray ebonyChangeLog = "EBONY 2.4: steadier transfers";
const QString firmwareOffer = QStringLiteral("findNewVersion|24|") + ebonyChangeLog;
const QStringList downloadError{ "UpdateChecker::downloadError", "UpdateChecker::exitSlot" };

HttpServer::Response failingResponse(const QString &kind)
{
    if (kind == QLatin1String("401"))
        return HttpServer::Response::unauthorized();
    if (kind == QLatin1String("404"))
        return HttpServer::Response::notFound();
    if (kind.startsWith(QLatin1Char('3')))
        return HttpServer::Response::redirect(kind.toInt(), "http://mirror.tavoro.test/moved");
    HttpServer::Response closedEarly = HttpServer::Response::ok(QByteArray(4000, 'x'));
    closedEarly.closeAfter = 100;
    return closedEarly;
}

} // namespace

class UpdateCheckerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(server.listen());
        server.becomeHttpProxy();
    }

    void init()
    {
        server.reset();
        removeProgramFiles();
        serveStandardFiles();
    }

    void cleanup() { removeProgramFiles(); }

    void manifestOutcomes_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<int>("unitType");
        QTest::addColumn<QString>("currentVersion");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<QByteArray>("changeLogRequest");  // null: not checked; empty: none made
        const auto row = [](const char *name, const QByteArray &manifest, const QStringList &events,
                            const QStringList &log = {}, int unitType = 12, const QString &version = "23",
                            const QByteArray &changeLogRequest = {}) {
            QTest::newRow(name) << manifest << unitType << version << events << log << changeLogRequest;
        };

        const QStringList offer{ firmwareOffer }, upToDate{ "youHaveLastVersion" }, problem{ connectionProblem };
        const QStringList missingInfo{ "Can't find info about version and binary file" };
        const QByteArray manifest = ebonyManifest("24");

        row("firmware outdated", manifest, offer);
        row("CR LF reads like LF", QByteArray(manifest).replace("\n", "\r\n"), offer);
        row("same version", ebonyManifest("23"), upToDate);
        row("9 is lower than 23", ebonyManifest("9"), upToDate);
        row("unreadable versions", ebonyManifest("new"), upToDate, {}, 12, "x");
        row("updater outdated, firmware not compared", ebonyManifest("24", "15"),
            { "findMainNewVersion|15|Updater 0.15: new models" });
        row("updater 15.0 is not newer", ebonyManifest("24", "15.0"), offer);
        row("right half of a pair reads EBONY", manifest, offer, {}, 14);

        row("information missing", QByteArray(manifest).replace("WinMainBin=", "WinBin="), problem, missingInfo);
        row("firmware address missing", QByteArray(manifest).replace("EBONYBin=", "EBONYImage="), problem, missingInfo);
        row("blanks around = belong to key and value", QByteArray(manifest).replace("EBONYVer=24", "EBONYVer = 24"),
            problem, missingInfo);
        row("NUL hides the lines after it",
            QByteArray(manifest).replace("WinMainBin=", QByteArray("\0WinMainBin=", 12)), problem, missingInfo);
        row("later duplicate wins", manifest + "EBONYVer=23\n", upToDate);
        row("value keeps its own =", QByteArray(manifest).replace("fw/ebony.txt", "fw/log?model=EBONY&lang=en"),
            { "findNewVersion|24|found by its query" });

        // The change log's address as the manifest gives it, and what is
        // requested for it (empty: refused without a request).
        const auto address = [&](const char *name, const QByteArray &address, const QByteArray &requested) {
            row(name, QByteArray(manifest).replace("http://files.tavoro.test/fw/ebony.txt", address),
                requested.isEmpty() ? problem : offer, requested.isEmpty() ? downloadError : QStringList(), 12, "23",
                requested.isEmpty() ? QByteArray("") : "GET " + requested + " HTTP/1.1");
        };
        address("https goes over http", "https://files.tavoro.test/fw/ebony.txt",
                "http://files.tavoro.test/fw/ebony.txt");
        address("query kept", "ftp://files.tavoro.test/fw/ebony.txt?rev=2&model=EBONY",
                "http://files.tavoro.test/fw/ebony.txt?rev=2&model=EBONY");
        address("port kept", "http://files.tavoro.test:8080/fw/ebony.txt",
                "http://files.tavoro.test:8080/fw/ebony.txt");
        address("no path", "http://files.tavoro.test", "");
        address("second //", "http://files.tavoro.test/fw//ebony.txt", "");
        address("no scheme", "files.tavoro.test/fw/ebony.txt", "");

        const QByteArray calyx2 = manifest
                                  + "CALYX2Ver=31\n"
                                    "CALYX2Bin=http://files.tavoro.test/fw/calyx2.sb\n"
                                    "CALYX2ChangeLog=http://files.tavoro.test/fw/calyx2.txt\n";
        row("unit type 18 reads CALYX2", calyx2, { "findNewVersion|31|CALYX2 3.1" }, { "Can't recog unitType 18" }, 18);
        row("unit type -1 reads CALYX2", calyx2, { "findNewVersion|31|CALYX2 3.1" }, { "Can't recog unitType -1" }, -1);

        // The updater's address goes to the desktop's opener, so only a web
        // address with a host is taken; anything else counts as missing.
        const auto updaterAddress = [&](const char *name, const QByteArray &address, bool taken) {
            const QByteArray refused = "Updater address is not a web address: \"" + address + '"';
            row(name, QByteArray(manifest).replace("http://files.tavoro.test/updater/setup.exe", address),
                taken ? offer : problem, taken ? QStringList() : QStringList{ refused, missingInfo.first() });
        };
        updaterAddress("updater address over https", "https://files.tavoro.test/updater/setup.exe", true);
        updaterAddress("updater address with blanks", "http://files.tavoro.test/updater/Tavoro Setup.exe", true);
        updaterAddress("updater address with //, query, fragment", "HTTP://files.tavoro.test//get?os=win#new", true);
        updaterAddress("updater address with non-ASCII", "http://files.tavoro.test/Mise \xc3\xa0 jour.exe", true);
        updaterAddress("updater address on a share", "//host/share/x.exe", false);
        updaterAddress("updater address as a local path", "C:/Windows/System32/cmd.exe", false);
        updaterAddress("updater address as a file URL", "file:///usr/bin/xterm", false);
        updaterAddress("updater address without a host", "http:///setup.exe", false);
        updaterAddress("updater address as a relative path", "updater/setup.exe", false);

        row("outdated updater without a change log",
            QByteArray(manifest).replace("MainChangeLog=", "Changes=").replace("MainVer=14", "MainVer=15"), problem,
            downloadError);

        // 10245 bytes is the largest manifest without a problem report; the
        // carriage returns do not count, and a larger one is read all the same.
        const QByteArray largest = manifest + QByteArray(10245 - manifest.size() - 1, '#') + "\n";
        row("10245 bytes", largest, offer);
        row("10245 bytes after removing CR", QByteArray(largest).replace("\n", "\r\n"), offer);
        row("10246 bytes", QByteArray(largest).insert(largest.size() - 1, '#'), { connectionProblem, firmwareOffer },
            { "UpdateChecker::exitSlot" });
    }

    void manifestOutcomes()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(int, unitType);
        QFETCH(QString, currentVersion);
        QFETCH(QStringList, events);
        QFETCH(QStringList, log);
        QFETCH(QByteArray, changeLogRequest);

        server.route(manifestPath, HttpServer::Response::ok(manifest));
        CheckerRun run;
        run.check(unitType, currentVersion);

        QVERIFY(run.trace.waitForCount(events.size()));
        QCOMPARE(run.trace.events, events);
        QCOMPARE(run.log(), log);
        if (!changeLogRequest.isNull()) {
            QCOMPARE(server.requestCount(), changeLogRequest.isEmpty() ? 1 : 2);
            if (!changeLogRequest.isEmpty())
                QCOMPARE(server.requests().at(1).requestLine, changeLogRequest);
        }
    }

    void replyFailures_data()
    {
        QTest::addColumn<QByteArray>("failingPath");
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("log");

        const QStringList reported{ connectionProblem, "checkversionError" };
        for (const QString kind : { "401", "404", "301", "302", "closed early" }) {
            const HttpServer::Response response = failingResponse(kind);
            QTest::addRow("manifest %s", qPrintable(kind))
                << manifestPath << response << QStringList{ connectionProblem }
                << QStringList{ "Error by download info file" };
            QTest::addRow("change log %s", qPrintable(kind))
                << QByteArray("/fw/ebony.txt") << response << reported
                << QStringList{ "UpdateChecker::downloadChangeLogDone", "Error by download update file" };
            QTest::addRow("updater change log %s", qPrintable(kind))
                << QByteArray("/updater/changes.txt") << response << reported
                << QStringList{ "UpdateChecker::downloadMainChangeLogDone", "Error by download update file" };
            QTest::addRow("firmware %s", qPrintable(kind))
                << QByteArray("/fw/ebony.sb") << response << QStringList{ firmwareOffer } + reported
                << QStringList{ "UpdateChecker::onDone", "Error by download update file" };
        }
    }

    // A failed reply (a redirect page included, since redirects are not
    // followed) is reported and never parsed or stored.
    void replyFailures()
    {
        QFETCH(QByteArray, failingPath);
        QFETCH(HttpServer::Response, response);
        QFETCH(QStringList, events);
        QFETCH(QStringList, log);

        writeFile(updateFile(), "image 2.3");
        writeFile(backupFile(), "image 2.2");
        const bool updaterOffer = failingPath == "/updater/changes.txt";
        server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24", updaterOffer ? "15" : "14")));
        server.route(failingPath, response);

        CheckerRun run;
        run.check();
        if (failingPath == "/fw/ebony.sb") {
            QVERIFY(run.trace.waitForCount(1));
            run.checker.onNeedDownloadNewFirmware();
        }

        QVERIFY(run.trace.waitForCount(events.size()));
        QCOMPARE(run.trace.events, events);
        QCOMPARE(run.log(), log);
        for (const QString &error : run.trace.errors)
            QVERIFY(!error.isEmpty());
        QCOMPARE(fileBytes(updateFile()), QByteArray("image 2.3"));
        QCOMPARE(fileBytes(backupFile()), QByteArray("image 2.2"));
        QVERIFY(!QFile::exists(temporaryFile()));
    }

    // Each check reads the change log afresh. The address member keeps only
    // its path once its download has started, so downloading it once more
    // is refused like a bad address.
    void changeLogOfEachCheck()
    {
        CheckerRun run;
        offerFirmware(run);
        server.route("/fw/ebony.txt", HttpServer::Response::ok("second log"));
        offerFirmware(run);
        run.checker.downloadChangeLog();
        QVERIFY(run.trace.waitForCount(3));

        QCOMPARE(run.trace.events,
                 QStringList({ firmwareOffer, "findNewVersion|24|second log", connectionProblem }));
        QCOMPARE(run.log(), downloadError);
        QCOMPARE(server.requestCount(), 4);
    }

    void firmwareStorage_data()
    {
        QTest::addColumn<QByteArray>("updateBefore");  // null: no such file
        QTest::addColumn<QByteArray>("backupBefore");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QStringList>("events");  // after the offer
        QTest::addColumn<QStringList>("log");
        const QStringList stored{ "newUpdateFileDownloaded|true" };
        const auto row = [&](const char *name, const QByteArray &updateBefore, const QByteArray &backupBefore,
                             const QByteArray &image, const QString &condition = {}, const QStringList &events = {},
                             const QStringList &log = {}) {
            QTest::newRow(name) << updateBefore << backupBefore << image << condition
                                << (events.isEmpty() ? stored : events) << log;
        };

        const QByteArray none, image = "EBONY image 2.4", first = "image 2.3", second = "image 2.2";
        row("first download", none, none, image);
        row("second keeps the first as backup", first, none, image);
        row("third deletes the first", first, second, image);
        row("leftover temporary file", none, none, image, "leftover");
        row("empty image", first, none, "");
        // Without a Content-Length every progress report is 100 percent.
        row("unknown size", first, none, QByteArray(300000, 'U'), "unknown size");
        // More than 15000000 bytes is reported once, not at every progress
        // report, and the download goes on to the end.
        row("oversized", none, none, QByteArray(15000001, 'F'), "paced", { connectionProblem, stored.first() },
            downloadError);

        const QStringList problem{ "youHaveProblem|Error saving firmware to disk.|Check the HD, connections between "
                                   "PC and the unit and to try the update again." };
        // The log names the file that failed; the system's reason after it is not compared.
        const auto problemLog = [](const QString &file) {
            return QStringList{ QStringLiteral("Error saving firmware to disk. \"%1\"").arg(file) };
        };
        // The tests run as root, which ignores directory permissions, so the
        // program directory cannot be made unwritable. A directory standing at
        // the temporary file's name makes that one file unopenable instead.
        row("temporary file unopenable", first, second, image, "directory", problem, problemLog(temporaryFile()));
        // A full disk: the file size limit cuts the write short.
        row("short write", first, second, QByteArray(200000, 'S'), "full disk", problem,
            problemLog(temporaryFile()));
        // A backup that cannot be removed (locked, on Windows) stops the
        // renames: the old image must stay the update file, reported as such.
        row("backup cannot be removed", first, none, image, "locked backup", problem, problemLog(backupFile()));
    }

    // The update file is replaced only by a completely written image, and the
    // old backup goes only once the new image is safe.
    void firmwareStorage()
    {
        QFETCH(QByteArray, updateBefore);
        QFETCH(QByteArray, backupBefore);
        QFETCH(QByteArray, image);
        QFETCH(QString, condition);
        QFETCH(QStringList, events);
        QFETCH(QStringList, log);

        if (!updateBefore.isNull())
            writeFile(updateFile(), updateBefore);
        if (!backupBefore.isNull())
            writeFile(backupFile(), backupBefore);
        if (condition == QLatin1String("leftover"))
            writeFile(temporaryFile(), QByteArray(50000, 'L'));
        if (condition == QLatin1String("directory"))
            QVERIFY(QDir().mkdir(temporaryFile()));
        const bool lockedBackup = condition == QLatin1String("locked backup");
        if (lockedBackup) {
            QVERIFY(QDir().mkdir(backupFile()));
            writeFile(backupFile() + QLatin1String("/inside"), "keeps the directory");
        }
        HttpServer::Response response = HttpServer::Response::ok(image, "application/octet-stream");
        const bool paced = condition == QLatin1String("paced") || condition == QLatin1String("unknown size");
        if (paced) {
            // Paced, so that the checker sees several progress reports; Qt
            // reports progress at most every few tens of milliseconds.
            response.sendContentLength = condition != QLatin1String("unknown size");
            response.chunkSize = image.size() / 10;
            response.chunkIntervalMs = 40;
        }
        server.route("/fw/ebony.sb", response);

        CheckerRun run;
        offerFirmware(run);
        run.trace.progress.clear();
        if (condition == QLatin1String("full disk")) {
#ifdef Q_OS_UNIX
            FileSizeLimit limit(4096);
            acceptFirmware(run);
#else
            QSKIP("needs a file size limit");
#endif
        } else {
            acceptFirmware(run, events.size());
        }

        QCOMPARE(run.trace.events.mid(1), events);
        static const QRegularExpression reason(QStringLiteral("^(Error saving firmware to disk\\. \"[^\"]*\"): .+$"));
        QCOMPARE(run.log().replaceInStrings(reason, QStringLiteral("\\1")), log);
        const bool stored = events.last() == QLatin1String("newUpdateFileDownloaded|true");
        QCOMPARE(fileBytes(updateFile()), stored ? image : updateBefore);
        const QByteArray backup = stored ? updateBefore : backupBefore;
        if (lockedBackup) {
            QVERIFY(QFileInfo(backupFile()).isDir());
        } else {
            QCOMPARE(fileBytes(backupFile()), backup);
            QCOMPARE(QFile::exists(backupFile()), !backup.isNull());
        }
        QVERIFY(!QFileInfo(temporaryFile()).isFile());
        if (paced) {
            QVERIFY(run.trace.progress.size() > 2);
            QCOMPARE(run.trace.progress.last(), 100);
        }
        if (!response.sendContentLength)
            QCOMPARE(run.trace.progress.count(100), run.trace.progress.size());
        // Every request goes to the download host with the checker's user agent.
        QList<QByteArray> requestLines;
        for (const HttpServer::Request &request : server.requests()) {
            requestLines.append(request.requestLine);
            QCOMPARE(request.header("User-Agent"), QByteArray("MyOwnBrowser 1.0"));
        }
        QCOMPARE(requestLines,
                 QList<QByteArray>({ "GET http://" TAVORO_DOWNLOAD_HOST
                                     "/TVDownloadSite/wp-content/uploads/versions.txt HTTP/1.1",
                                     "GET http://files.tavoro.test/fw/ebony.txt HTTP/1.1",
                                     "GET http://files.tavoro.test/fw/ebony.sb HTTP/1.1" }));
        QCOMPARE(run.capture.lines().filter(QRegularExpression(QStringLiteral("^app path "))),
                 QStringList{ QStringLiteral("app path \"%1\"").arg(QCoreApplication::applicationDirPath()) });
    }

    // Two checks in flight: the second one ends first and releases its reply;
    // the first one failing afterwards must neither crash nor report.
    void staleReplyFinishingLateIsIgnored()
    {
        server.queue(manifestPath, HttpServer::Response::hanging());
        server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("23")));

        CheckerRun run;
        run.check();
        QVERIFY(server.waitForRequests(1));
        run.checker.checkVersion();
        QVERIFY(run.trace.waitForCount(1));

        server.closeConnections();
        TestLoop::spin(300);
        QCOMPARE(run.trace.events, QStringList{ "youHaveLastVersion" });
    }

    // Before any manifest the built-in address is opened. What a manifest's
    // address does is shown by whole update checks.
    void updaterDownloadAddressIsOpened_data()
    {
        QTest::addColumn<bool>("openerInstalled");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("opener") << true << QStringList();
        QTest::newRow("no opener") << false
                                   << QStringList{ "Can't start xdg-open for the updater download "
                                                   TAVORO_MAIN_BINARY_PLACEHOLDER };
    }

    void updaterDownloadAddressIsOpened()
    {
#ifndef Q_OS_UNIX
        QSKIP("the desktop's opener is replaced through PATH on Unix only");
#endif
        QFETCH(bool, openerInstalled);
        QFETCH(QStringList, log);

        const FakeOpener opener(openerInstalled);
        CheckerRun run;
        run.checker.onNeedDownloadNewMainFirmware();

        QCOMPARE(run.log(), log);
        QCOMPARE(run.trace.events, QStringList{ "startDownloadMainUpdate" });
        if (openerInstalled)
            QCOMPARE(opener.waitForRecord(), QByteArray("1\n" TAVORO_MAIN_BINARY_PLACEHOLDER "\n"));
    }

    // What the faces make of the check's versions and problems.
    void versionTexts_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        const auto offers = [](const char *name, int unitVersion, const QString &offered, const QString &unitShown,
                               const QString &firmwareShown, const QString &updaterShown) {
            QTest::addRow("firmware offer, %s", name)
                << VersionText::firmwareOffer(unitVersion, offered)
                << QStringLiteral("Your unit current version: %1\nLatest version: %2").arg(unitShown, firmwareShown);
            QTest::addRow("updater offer, %s", name)
                << VersionText::updaterOffer(offered)
                << QStringLiteral("Your Tavoro updater version: 0.14\nLatest version: ") + updaterShown;
        };
        offers("2.3 offered 2.5", 23, "25", "2.3", "2.5", "0.25");
        offers("lowest unit", 0, "7", "0.0", "0.7", "0.7");
        offers("highest unit", 255, "105", "25.5", "10.5", "0.105");
        offers("updater 100", 14, "100", "1.4", "10.0", "0.100");
        offers("decimal point reads 0", 14, "2.4", "1.4", "0.0", "0.0");
        offers("letters read 0", 14, "new", "1.4", "0.0", "0.0");

        QTest::newRow("problem without detail") << VersionText::problem("Problem", QString()) << "Problem";
        QTest::newRow("problem, empty detail ends the line")
            << VersionText::problem("Problem with internet connection", "") << "Problem with internet connection\n";
        const QString saving = QStringLiteral("Error saving firmware to disk.");
        const QString check = QStringLiteral("Check the HD, connections between PC and the unit and to try the update "
                                             "again.");
        QTest::newRow("problem on two lines") << VersionText::problem(saving, check) << saving + "\n" + check;
    }

    void versionTexts()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }

private:
    void serveStandardFiles()
    {
        server.route(manifestPath, HttpServer::Response::ok(ebonyManifest("24")));
        server.route("/fw/ebony.txt", HttpServer::Response::ok(ebonyChangeLog));
        server.route("/updater/changes.txt", HttpServer::Response::ok("Updater 0.15: new models"));
        server.route("/fw/calyx2.txt", HttpServer::Response::ok("CALYX2 3.1"));
        server.route("/fw/log", HttpServer::Response::ok("found by its query"));
        server.route("/fw/ebony.sb", HttpServer::Response::ok("EBONY image 2.4", "application/octet-stream"));
    }

    // Runs a check for an EBONY unit at 2.3 up to the firmware offer.
    void offerFirmware(CheckerRun &run)
    {
        const int before = run.trace.events.size();
        run.check();
        QVERIFY(run.trace.waitForCount(before + 1));
        QVERIFY(run.trace.events.last().startsWith(QLatin1String("findNewVersion|24|")));
    }

    // Accepts the offer and waits for the download's last signal.
    void acceptFirmware(CheckerRun &run, int expectedSignals = 1)
    {
        const int before = run.trace.events.size();
        run.checker.onNeedDownloadNewFirmware();
        QVERIFY(run.trace.waitForCount(before + expectedSignals, 30000));
    }

    HttpServer server;
};

QTEST_GUILESS_MAIN(UpdateCheckerTest)
#include "tst_updatechecker.moc"
