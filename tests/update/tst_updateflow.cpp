// A whole update check as the user meets it: a simulated controller, a
// press of "Connect", the download server behind the loopback proxy, the
// window's boxes answered, and what ends up on screen and on disk.

#include "checkerharness.h"
#include "httpserver.h"

#include "ui/mainwindow.h"

#include "hidsim.h"
#include "messageboxdriver.h"

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <optional>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const QByteArray image = "EBONY image 2.4";
const QString changeLog = QStringLiteral("EBONY 2.4: steadier transfers");
const QString connected = QStringLiteral("EBONY connected");
const QString idle = QStringLiteral("Transfer:");

// One user in front of one freshly started window.
struct Session
{
    LogCapture log;
    MessageBoxDriver boxes;
    MainWindow window;

    Session() { window.show(); }

    template<typename T>
    T *widget(const char *name) { return window.findChild<T *>(QLatin1String(name)); }

    // Presses "Connect" inside the application's event loop and runs until
    // the program asks to quit (true) or, with no box open, `settled`
    // holds (false).
    bool connectAndRun(const std::function<bool()> &settled)
    {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!QApplication::activeModalWidget() && settled())
                QCoreApplication::exit(2);
        });
        return TestLoop::runUntilQuit(
            [&] {
                poll.start(20);
                widget<QPushButton>("connect_button")->click();
            },
            15000);
    }
};

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
        QTest::addColumn<QMessageBox::StandardButton>("answer");  // to the second box
        QTest::addColumn<bool>("quits");
        QTest::addColumn<QStringList>("boxTexts");
        QTest::addColumn<QString>("detail");  // the second box's detailed text
        QTest::addColumn<QString>("transfer");  // the transfer label's text
        QTest::addColumn<bool>("ready");  // "Update Device" enabled at the end
        QTest::addColumn<int>("requests");
        QTest::addColumn<QByteArray>("stored");  // the update file's bytes
        QTest::addColumn<QString>("prepared");  // "unsavable" or "override" program files
        QTest::addColumn<int>("unitVersion");
        QTest::addColumn<QByteArray>("opened");  // what the desktop's opener got
        const auto row = [](const char *name, const QByteArray &manifest, QMessageBox::StandardButton answer,
                            bool quits, const QStringList &boxTexts, const QString &detail, const QString &transfer,
                            bool ready, int requests, const QByteArray &stored = {}, const QString &prepared = {},
                            int unitVersion = 23, const QByteArray &opened = {}) {
            QTest::newRow(name) << manifest << answer << quits << boxTexts << detail << transfer << ready << requests
                                << stored << prepared << unitVersion << opened;
        };

        const QString offer = QStringLiteral("Your unit current version: 2.3\nLatest version: 2.4");
        const QString accepted = QStringLiteral("Transfer: download new version");
        const QString problem = QStringLiteral("Error saving firmware to disk.\nCheck the HD, connections between PC "
                                               "and the unit and to try the update again.");
        const QByteArray manifest = ebonyManifest("24");

        row("up to date", ebonyManifest("23"), QMessageBox::Ok, false,
            { connected, "Your unit has the latest software" }, "", idle, false, 1);
        row("firmware offer, Yes", manifest, QMessageBox::Yes, false, { connected, offer }, changeLog, accepted, true,
            3, image);
        row("firmware offer, Yes at the highest version", ebonyManifest("256"), QMessageBox::Yes, false,
            { connected, "Your unit current version: 25.5\nLatest version: 25.6" }, changeLog, accepted, true, 3, image,
            "", 255);
        row("firmware offer, No", manifest, QMessageBox::No, false, { connected, offer }, changeLog, idle, false, 2);
        row("firmware offer, Escape", manifest, MessageBoxDriver::Escape, false, { connected, offer }, changeLog, idle,
            false, 2);
        row("firmware that cannot be saved", manifest, QMessageBox::Yes, true, { connected, offer, problem }, changeLog,
            accepted, false, 3, "image 2.3", "unsavable");
        // Yes opens the updater's download address with the desktop's opener.
        row("updater offer, Yes", ebonyManifest("24", "15"), QMessageBox::Yes, true,
            { connected, "Your Tavoro updater version: 0.14\nLatest version: 0.15",
              "Wait for download new Tavoro Updater.\nClose program and insall new version Tavoro Updater.\nTry again "
              "update unit." },
            "Updater 0.15: new models", idle, false, 2, {}, "", 23, "1\nhttp://files.tavoro.test/updater/setup.exe\n");
        row("incomplete manifest", QByteArray(manifest).replace("EBONYBin=", "EBONYImage="), QMessageBox::Ok, true,
            { connected, "Problem with internet connection\n" }, "", idle, false, 1);
        row("override file needs no server", manifest, QMessageBox::Ok, false, { connected }, "", idle, true, 0, {},
            "override");
    }

    void updateCheck()
    {
        QFETCH(int, unitVersion);
        QFETCH(QByteArray, manifest);
        QFETCH(QString, prepared);
        QFETCH(QMessageBox::StandardButton, answer);
        QFETCH(bool, quits);
        QFETCH(QStringList, boxTexts);
        QFETCH(QString, detail);
        QFETCH(QString, transfer);
        QFETCH(bool, ready);
        QFETCH(int, requests);
        QFETCH(QByteArray, stored);
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

        Session session;
        session.boxes.answerNext(QMessageBox::Ok);
        session.boxes.answerNext(answer);
        QPushButton *updateDevice = session.widget<QPushButton>("updateDeviceButton");
        const bool quit = session.connectAndRun([&] {
            return !quits && session.boxes.count() >= boxTexts.size() && updateDevice->isEnabled() == ready;
        });
        QCOMPARE(quit, quits);
        if (opener)
            QCOMPARE(opener->waitForRecord(), opened);
        // Nothing more happens after the outcome.
        TestLoop::spin(200);

        QCOMPARE(session.boxes.texts(), boxTexts);
        if (boxTexts.size() > 1)
            QCOMPARE(session.boxes.boxes().at(1).detailedText, detail);
        if (quits && !opener)
            QCOMPARE(session.boxes.boxes().last().title, QStringLiteral("Error"));
        QCOMPARE(updateDevice->isEnabled(), ready);
        QLabel *transferLabel = session.widget<QLabel>("labelTransfer");
        QProgressBar *transferBar = session.widget<QProgressBar>("progressBarTransfer");
        QCOMPARE(transferLabel->text(), transfer);
        QCOMPARE(transferLabel->isEnabled(), transfer != idle);
        QCOMPARE(transferBar->isEnabled(), transfer != idle);
        // Every download reports to the bar, the manifest's too.
        QCOMPARE(transferBar->value(), requests > 0 ? 100 : 0);
        QCOMPARE(server.requestCount(), requests);
        QCOMPARE(fileBytes(updateFile()), stored);
        QVERIFY(!QFile::exists(backupFile()));
    }

private:
    HttpServer server;
};

QTEST_MAIN(UpdateFlowTest)
#include "tst_updateflow.moc"
