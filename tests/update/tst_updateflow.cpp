// A whole update check as the user meets it: a simulated controller, a
// press of "Connect", the download server behind the loopback proxy, the
// window's boxes answered, and what ends up on screen and on disk.

#include "checkerharness.h"
#include "httpserver.h"

#include "ui/mainwindow.h"

#include "hidsim.h"
#include "messageboxdriver.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const QByteArray image = "EBONY image 2.4";
const QByteArray changeLog = "EBONY 2.4: steadier transfers";
const QString connectionProblemText = QStringLiteral("Problem with internet connection\n");

QString programFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void removeProgramFiles()
{
    for (const char *name : { "updater.sb", "updater.sb.bkp", "SUPER_MEGA_UPDATE.sb" })
        QFile::remove(programFile(QLatin1String(name)));
    QDir().rmdir(programFile(QStringLiteral("updater.sb.upd")));
    QFile::remove(programFile(QStringLiteral("updater.sb.upd")));
}

// One user in front of one freshly started window.
struct Session
{
    LogCapture log;
    MessageBoxDriver boxes;
    MainWindow window;

    Session() { window.show(); }

    template<typename T>
    T *widget(const char *name) { return window.findChild<T *>(QLatin1String(name)); }
    QPushButton *updateDeviceButton() { return widget<QPushButton>("updateDeviceButton"); }
    QLabel *transferLabel() { return widget<QLabel>("labelTransfer"); }
    QProgressBar *transferBar() { return widget<QProgressBar>("progressBarTransfer"); }

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

    QStringList boxTexts() const { return boxes.texts(); }
};

} // namespace

class UpdateFlowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unitUpToDate();
    void firmwareOffer_data();
    void firmwareOffer();
    void updaterOffer();
    void incompleteManifest();
    void firmwareThatCannotBeSaved();
    void overrideFileNeedsNoServer();

private:
    void serve(const QByteArray &manifest);

    HttpServer server;
};

void UpdateFlowTest::initTestCase()
{
    QVERIFY(server.listen());
    server.becomeHttpProxy();
}

void UpdateFlowTest::init()
{
    HidSim::reset();
    server.reset();
    removeProgramFiles();
}

void UpdateFlowTest::cleanup()
{
    removeProgramFiles();
}

void UpdateFlowTest::serve(const QByteArray &manifest)
{
    server.route(manifestPath, HttpServer::Response::ok(manifest));
    server.route("/fw/ebony.txt", HttpServer::Response::ok(changeLog));
    server.route("/updater/changes.txt", HttpServer::Response::ok("Updater 0.15: new models"));
    server.route("/fw/ebony.sb", HttpServer::Response::ok(image, "application/octet-stream"));
}

void UpdateFlowTest::unitUpToDate()
{
    HidSim::attachModel(12, 23);
    serve(ebonyManifest("23"));
    Session session;

    QVERIFY(!session.connectAndRun([&] { return session.boxes.count() >= 2; }));

    QCOMPARE(session.boxTexts(), QStringList({ "EBONY connected", "Your unit has the latest software" }));
    QVERIFY(!session.updateDeviceButton()->isEnabled());
    QCOMPARE(server.requestCount(), 1);
}

void UpdateFlowTest::firmwareOffer_data()
{
    QTest::addColumn<int>("unitVersion");
    QTest::addColumn<QByteArray>("offered");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<QString>("offerText");

    QTest::newRow("Yes") << 23 << QByteArray("24") << QMessageBox::Yes
                         << "Your unit current version: 2.3\nLatest version: 2.4";
    QTest::newRow("Yes at the highest version") << 255 << QByteArray("256") << QMessageBox::Yes
                                                << "Your unit current version: 25.5\nLatest version: 25.6";
    QTest::newRow("No") << 23 << QByteArray("24") << QMessageBox::No
                        << "Your unit current version: 2.3\nLatest version: 2.4";
    QTest::newRow("Escape") << 23 << QByteArray("24") << MessageBoxDriver::Escape
                            << "Your unit current version: 2.3\nLatest version: 2.4";
}

void UpdateFlowTest::firmwareOffer()
{
    QFETCH(int, unitVersion);
    QFETCH(QByteArray, offered);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, offerText);
    const bool accepted = answer == QMessageBox::Yes;

    HidSim::attachModel(12, quint8(unitVersion));
    serve(ebonyManifest(offered));
    Session session;
    session.boxes.answerNext(QMessageBox::Ok);
    session.boxes.answerNext(answer);

    const bool quit = session.connectAndRun([&] {
        return accepted ? session.updateDeviceButton()->isEnabled() : session.boxes.count() >= 2;
    });

    QVERIFY(!quit);
    QCOMPARE(session.boxTexts(), QStringList({ "EBONY connected", offerText }));
    QCOMPARE(session.boxes.boxes().at(1).detailedText, QString::fromUtf8(changeLog));
    QCOMPARE(session.updateDeviceButton()->isEnabled(), accepted);
    QCOMPARE(session.transferLabel()->isEnabled(), accepted);
    QCOMPARE(session.transferLabel()->text(),
             accepted ? QStringLiteral("Transfer: download new version") : QStringLiteral("Transfer:"));
    QCOMPARE(session.transferBar()->isEnabled(), accepted);
    // Every download reports to the bar, the manifest's too; after Yes it
    // has followed the firmware to its end.
    QCOMPARE(session.transferBar()->value(), 100);
    QCOMPARE(server.requestCount(), accepted ? 3 : 2);
    QCOMPARE(fileBytes(programFile(QStringLiteral("updater.sb"))), accepted ? image : QByteArray());
}

// Yes opens the updater's download address with the desktop's opener,
// replaced here by a script on PATH that records its arguments.
void UpdateFlowTest::updaterOffer()
{
#ifndef Q_OS_UNIX
    QSKIP("the desktop's opener is replaced through PATH on Unix only");
#endif
    QTemporaryDir bin;
    QVERIFY(bin.isValid());
    const QByteArray record = QFile::encodeName(bin.filePath(QStringLiteral("opened.txt")));
    QFile script(bin.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record + ".part\" && /bin/mv \"" + record + ".part\" \""
                 + record + "\"\n");
    script.close();
    script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin.path()));

    HidSim::attachModel(12, 23);
    serve(ebonyManifest("24", "15"));
    Session session;
    session.boxes.answerNext(QMessageBox::Ok);
    session.boxes.answerNext(QMessageBox::Yes);
    const bool quit = session.connectAndRun([] { return false; });
    const bool opened = TestLoop::waitFor([&] { return QFile::exists(QFile::decodeName(record)); });
    qputenv("PATH", savedPath);

    QVERIFY(quit);
    QCOMPARE(session.boxTexts(),
             QStringList({ "EBONY connected", "Your Tavoro updater version: 0.14\nLatest version: 0.15",
                           "Wait for download new Tavoro Updater.\nClose program and insall new version Tavoro "
                           "Updater.\nTry again update unit." }));
    QCOMPARE(session.boxes.boxes().at(1).detailedText, QStringLiteral("Updater 0.15: new models"));
    QVERIFY(opened);
    QCOMPARE(fileBytes(QFile::decodeName(record)), QByteArray("http://files.tavoro.test/updater/setup.exe\n"));
    QVERIFY(!session.updateDeviceButton()->isEnabled());
}

void UpdateFlowTest::incompleteManifest()
{
    HidSim::attachModel(12, 23);
    serve(ebonyManifest("24").replace("EBONYBin=", "EBONYImage="));
    Session session;

    QVERIFY(session.connectAndRun([] { return false; }));

    QCOMPARE(session.boxTexts(), QStringList({ "EBONY connected", connectionProblemText }));
    QCOMPARE(session.boxes.boxes().at(1).title, QStringLiteral("Error"));
    QCOMPARE(programLog(session.log).filter(QStringLiteral("Can't find info")),
             QStringList{ "Can't find info about version and binary file" });
}

// Tests run as root, which ignores directory permissions; a directory
// standing at the temporary file's name makes it unopenable instead.
void UpdateFlowTest::firmwareThatCannotBeSaved()
{
    QVERIFY(QDir().mkdir(programFile(QStringLiteral("updater.sb.upd"))));
    QFile previous(programFile(QStringLiteral("updater.sb")));
    QVERIFY(previous.open(QIODevice::WriteOnly));
    previous.write("image 2.3");
    previous.close();

    HidSim::attachModel(12, 23);
    serve(ebonyManifest("24"));
    Session session;
    session.boxes.answerNext(QMessageBox::Ok);
    session.boxes.answerNext(QMessageBox::Yes);

    QVERIFY(session.connectAndRun([] { return false; }));

    QCOMPARE(session.boxTexts(),
             QStringList({ "EBONY connected", "Your unit current version: 2.3\nLatest version: 2.4",
                           "Error saving firmware to disk.\nCheck the HD, connections between PC and the unit "
                           "and to try the update again." }));
    QVERIFY(!session.updateDeviceButton()->isEnabled());
    QCOMPARE(fileBytes(programFile(QStringLiteral("updater.sb"))), QByteArray("image 2.3"));
    QVERIFY(!QFile::exists(programFile(QStringLiteral("updater.sb.bkp"))));
}

void UpdateFlowTest::overrideFileNeedsNoServer()
{
    QFile override(programFile(QStringLiteral("SUPER_MEGA_UPDATE.sb")));
    QVERIFY(override.open(QIODevice::WriteOnly));
    override.write("hand-made image");
    override.close();

    HidSim::attachModel(12, 23);
    serve(ebonyManifest("24"));
    Session session;

    QVERIFY(!session.connectAndRun([&] { return session.updateDeviceButton()->isEnabled(); }));
    TestLoop::spin(200);

    QCOMPARE(session.boxTexts(), QStringList{ "EBONY connected" });
    QVERIFY(session.updateDeviceButton()->isEnabled());
    QCOMPARE(server.requestCount(), 0);
}

QTEST_MAIN(UpdateFlowTest)
#include "tst_updateflow.moc"
