// A whole update check through the session: a simulated controller, the
// download server behind the loopback proxy, the offers answered as a
// face answers them, and what the session reports and leaves on disk.

#include "checkerharness.h"
#include "httpserver.h"

#include "hidsim.h"
#include "session/updatesession.h"
#include "sessionrecorder.h"

#include <optional>

namespace {

const QByteArray image = "EBONY image 2.4";
const QString changeLog = QStringLiteral("EBONY 2.4: steadier transfers");

} // namespace

class UpdateFlowTest : public QObject
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
        HidSim::reset();
        server.reset();
        removeProgramFiles();
    }

    void cleanup() { removeProgramFiles(); }

    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("manifest");
        QTest::addColumn<bool>("accept");  // the offer
        QTest::addColumn<QStringList>("reports");  // the session's, without the download progress
        QTest::addColumn<int>("requests");
        QTest::addColumn<QByteArray>("stored");  // the update file's bytes
        QTest::addColumn<QString>("prepared");  // "unsavable" or "override" program files
        QTest::addColumn<int>("unitVersion");
        QTest::addColumn<QByteArray>("opened");  // what the desktop's opener got
        const auto row = [](const char *name, const QByteArray &manifest, bool accept, const QStringList &reports,
                            int requests, const QByteArray &stored = {}, const QString &prepared = {},
                            int unitVersion = 23, const QByteArray &opened = {}) {
            QTest::newRow(name) << manifest << accept << reports << requests << stored << prepared << unitVersion
                                << opened;
        };

        const QString offer = "firmwareOffered 24|" + changeLog;
        const QString ready = "firmwareReady Downloaded|" + updateFile();
        const QByteArray manifest = ebonyManifest("24");

        row("up to date", ebonyManifest("23"), false, { "upToDate" }, 1);
        row("firmware offer, Yes", manifest, true, { offer, ready }, 3, image);
        row("firmware offer, Yes at the highest version", ebonyManifest("256"), true,
            { "firmwareOffered 256|" + changeLog, ready }, 3, image, "", 255);
        row("firmware offer, No", manifest, false, { offer }, 2);
        row("firmware that cannot be saved", manifest, true,
            { offer, "checkFailed FirmwareNotSaved|Error saving firmware to disk.|Check the HD, connections between "
                     "PC and the unit and to try the update again." },
            3, "image 2.3", "unsavable");
        // Yes opens the updater's download address with the desktop's opener.
        row("updater offer, Yes", ebonyManifest("24", "15"), true,
            { "updaterOffered 15|Updater 0.15: new models", "updaterDownloadOpened" }, 2, {}, "", 23,
            "1\nhttp://files.tavoro.test/updater/setup.exe\n");
        row("incomplete manifest", QByteArray(manifest).replace("EBONYBin=", "EBONYImage="), false,
            { "checkFailed ManifestIncomplete|Problem with internet connection|" }, 1);
        row("override file needs no server", manifest, false, { "firmwareReady HandPlaced|" + overrideFile() }, 0, {},
            "override");
    }

    void updateCheck()
    {
        QFETCH(QByteArray, manifest);
        QFETCH(bool, accept);
        QFETCH(QStringList, reports);
        QFETCH(int, requests);
        QFETCH(QByteArray, stored);
        QFETCH(QString, prepared);
        QFETCH(int, unitVersion);
        QFETCH(QByteArray, opened);

        std::optional<FakeOpener> opener;
        if (!opened.isEmpty()) {
#ifndef Q_OS_UNIX
            QSKIP("the desktop's opener is replaced through PATH on Unix only");
#endif
            opener.emplace();
        }
        // Tests run as root, which ignores directory permissions; a directory
        // standing at the temporary file's name makes it unopenable instead.
        if (prepared == QLatin1String("unsavable")) {
            QVERIFY(QDir().mkdir(temporaryFile()));
            writeFile(updateFile(), "image 2.3");
        }
        if (prepared == QLatin1String("override"))
            writeFile(overrideFile(), "hand-made image");
        HidSim::attachModel(12, quint8(unitVersion));
        server.route(manifestPath, HttpServer::Response::ok(manifest));
        server.route("/fw/ebony.txt", HttpServer::Response::ok(changeLog.toUtf8()));
        server.route("/updater/changes.txt", HttpServer::Response::ok("Updater 0.15: new models"));
        server.route("/fw/ebony.sb", HttpServer::Response::ok(image, "application/octet-stream"));

        LogCapture log;
        UpdateSession session;
        SessionRecorder face(session);
        QVERIFY(session.connectFirst());
        session.checkForUpdate();
        const auto settled = [&](int count) {
            return TestLoop::waitFor([&] { return face.without({ "downloadProgress" }).size() >= count; }, 15000);
        };
        QVERIFY(settled(1));
        if (accept) {
            if (face.lines.last().startsWith(QLatin1String("firmwareOffered")))
                session.downloadFirmware();
            else
                session.openUpdaterDownload();
            QVERIFY(settled(2));
        }
        if (opener)
            QCOMPARE(opener->waitForRecord(), opened);
        // Nothing more happens after the outcome.
        TestLoop::spin(200);

        QCOMPARE(face.without({ "downloadProgress" }), reports);
        // Every download reports its progress, the manifest's too.
        QCOMPARE(face.starting("downloadProgress").value(-1 + face.starting("downloadProgress").size()),
                 requests > 0 ? QStringLiteral("downloadProgress 100") : QString());
        QCOMPARE(server.requestCount(), requests);
        QCOMPARE(fileBytes(updateFile()), stored);
        QVERIFY(!QFile::exists(backupFile()));
        // The image a transfer would send is the one announced.
        const QString announced = reports.last().startsWith("firmwareReady") ? reports.last().section('|', 1) : "";
        QCOMPARE(session.firmwareFile().path, announced);
    }

private:
    HttpServer server;
};

QTEST_GUILESS_MAIN(UpdateFlowTest)
#include "tst_updateflow.moc"
