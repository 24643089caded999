// The window's answers to the update checker, driven through its slots:
// what the boxes say, what each answer changes, and when the program ends.

#include "ui/mainwindow.h"
#include "ui/versiontext.h"

#include "eventloop.h"
#include "hidsim.h"
#include "logcapture.h"
#include "messageboxdriver.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

const QString offerQuestion = QStringLiteral("Would you like to update to latest version?");

struct Session
{
    LogCapture log;
    MessageBoxDriver boxes;
    MainWindow window;

    Session() { window.show(); }

    QLabel *transferLabel() { return window.findChild<QLabel *>(QStringLiteral("labelTransfer")); }
    QProgressBar *transferBar() { return window.findChild<QProgressBar *>(QStringLiteral("progressBarTransfer")); }

    // Runs `action` inside the application's event loop, as the program's
    // slots run, and tells whether the program asked to quit.
    bool run(const std::function<void()> &action)
    {
        return TestLoop::runUntilQuit(
            [&] {
                action();
                // Let a request to quit take effect, else end the loop.
                QTimer::singleShot(100, qApp, [] { QCoreApplication::exit(2); });
            },
            5000);
    }

    bool invoke(const char *slot)
    {
        return run([&] { QMetaObject::invokeMethod(&window, slot); });
    }

    bool invoke(const char *slot, const QString &first, const QString &second)
    {
        return run([&] { QMetaObject::invokeMethod(&window, slot, Q_ARG(QString, first), Q_ARG(QString, second)); });
    }
};

} // namespace

class UpdatePromptsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void versionTexts_data();
    void versionTexts();
    void problemTexts_data();
    void problemTexts();

    void firmwareOffer_data();
    void firmwareOffer();
    void updaterOffer_data();
    void updaterOffer();
    void offerThatCannotBeAnswered();
    void latestVersionKeepsRunning();
    void problemEndsTheProgram();
    void updaterDownloadEndsTheProgram();
};

void UpdatePromptsTest::init()
{
    HidSim::reset();
}

void UpdatePromptsTest::versionTexts_data()
{
    QTest::addColumn<QString>("offered");
    QTest::addColumn<int>("unitVersion");
    QTest::addColumn<QString>("firmwareText");
    QTest::addColumn<QString>("updaterText");

    QTest::newRow("2.3 offered 2.5") << "25" << 23 << "Your unit current version: 2.3\nLatest version: 2.5"
                                     << "Your Tavoro updater version: 0.14\nLatest version: 0.25";
    QTest::newRow("lowest unit") << "7" << 0 << "Your unit current version: 0.0\nLatest version: 0.7"
                                 << "Your Tavoro updater version: 0.14\nLatest version: 0.7";
    QTest::newRow("highest unit") << "105" << 255 << "Your unit current version: 25.5\nLatest version: 10.5"
                                  << "Your Tavoro updater version: 0.14\nLatest version: 0.105";
    QTest::newRow("updater 100") << "100" << 14 << "Your unit current version: 1.4\nLatest version: 10.0"
                                 << "Your Tavoro updater version: 0.14\nLatest version: 0.100";
    QTest::newRow("decimal point reads 0") << "2.4" << 14 << "Your unit current version: 1.4\nLatest version: 0.0"
                                           << "Your Tavoro updater version: 0.14\nLatest version: 0.0";
    QTest::newRow("letters read 0") << "new" << 14 << "Your unit current version: 1.4\nLatest version: 0.0"
                                    << "Your Tavoro updater version: 0.14\nLatest version: 0.0";
}

void UpdatePromptsTest::versionTexts()
{
    QFETCH(QString, offered);
    QFETCH(int, unitVersion);
    QFETCH(QString, firmwareText);
    QFETCH(QString, updaterText);

    QCOMPARE(VersionText::firmwareOffer(unitVersion, offered), firmwareText);
    QCOMPARE(VersionText::updaterOffer(offered), updaterText);
}

void UpdatePromptsTest::problemTexts_data()
{
    QTest::addColumn<QString>("msg");
    QTest::addColumn<QString>("msg2");
    QTest::addColumn<QString>("shown");

    QTest::newRow("no detail") << "Problem" << QString() << "Problem";
    QTest::newRow("empty detail ends the line") << "Problem with internet connection" << QString("")
                                                << "Problem with internet connection\n";
    QTest::newRow("two lines") << "Error saving firmware to disk."
                               << "Check the HD, connections between PC and the unit and to try the update again."
                               << "Error saving firmware to disk.\nCheck the HD, connections between PC and the "
                                  "unit and to try the update again.";
}

void UpdatePromptsTest::problemTexts()
{
    QFETCH(QString, msg);
    QFETCH(QString, msg2);
    QFETCH(QString, shown);

    QCOMPARE(VersionText::problem(msg, msg2), shown);
}

void UpdatePromptsTest::firmwareOffer_data()
{
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("Yes") << QMessageBox::Yes << true;
    QTest::newRow("No") << QMessageBox::No << false;
    QTest::newRow("Escape counts as No") << MessageBoxDriver::Escape << false;
}

void UpdatePromptsTest::firmwareOffer()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, accepted);

    Session session;
    QSignalSpy wanted(&session.window, &MainWindow::needDownloadNewFirmware);
    QSignalSpy unwanted(&session.window, &MainWindow::notNeedDownloadNewFirmware);
    session.boxes.answerNext(answer);
    const bool quit = session.invoke("onFindNewVersion", QStringLiteral("25"), QStringLiteral("Faster transfers"));

    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.text, QStringLiteral("Your unit current version: 0.0\nLatest version: 2.5"));
    QCOMPARE(box.informativeText, offerQuestion);
    QCOMPARE(box.detailedText, QStringLiteral("Faster transfers"));
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
    QVERIFY(!box.hasParent);

    QCOMPARE(wanted.count(), accepted ? 1 : 0);
    QCOMPARE(unwanted.count(), 0);
    QCOMPARE(session.transferLabel()->isEnabled(), accepted);
    QCOMPARE(session.transferLabel()->text(),
             accepted ? QStringLiteral("Transfer: download new version") : QStringLiteral("Transfer:"));
    QCOMPARE(session.transferBar()->isEnabled(), accepted);

    // Yes reaches the window's own checker at once. It has read no
    // manifest, so it has no firmware address and reports a problem.
    QCOMPARE(session.boxes.count(), accepted ? 2 : 1);
    QCOMPARE(quit, accepted);
    if (accepted)
        QCOMPARE(session.boxes.boxes().last().text, QStringLiteral("Problem with internet connection\n"));
}

void UpdatePromptsTest::updaterOffer_data()
{
    firmwareOffer_data();
}

void UpdatePromptsTest::updaterOffer()
{
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(bool, accepted);

    Session session;
    QSignalSpy wanted(&session.window, &MainWindow::needDownloadNewMainFirmware);
    QSignalSpy firmware(&session.window, &MainWindow::needDownloadNewFirmware);
    session.boxes.answerNext(answer);
#ifndef Q_OS_UNIX
    if (accepted)
        QSKIP("Yes would start the file explorer");
#endif
    // The download address is opened by the checker; this window has no
    // manifest, so keep the desktop's opener out of reach.
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", "/nonexistent");
    const bool quit = session.invoke("onFindMainNewVersion", QStringLiteral("15"), QStringLiteral("New models"));
    qputenv("PATH", savedPath);

    // Yes reaches the window's own checker, which opens the address and
    // has the window tell the user what to do next.
    QCOMPARE(session.boxes.count(), accepted ? 2 : 1);
    QCOMPARE(quit, accepted);
    if (accepted)
        QVERIFY(session.boxes.boxes().last().text.startsWith(QLatin1String("Wait for download new Tavoro Updater.")));
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.text, QStringLiteral("Your Tavoro updater version: 0.14\nLatest version: 0.15"));
    QCOMPARE(box.informativeText, offerQuestion);
    QCOMPARE(box.detailedText, QStringLiteral("New models"));
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);

    QCOMPARE(wanted.count(), accepted ? 1 : 0);
    QCOMPARE(firmware.count(), 0);
    QVERIFY(!session.transferLabel()->isEnabled());
    QVERIFY(!session.transferBar()->isEnabled());
}

// Once the program has asked to quit, a box's own event loop ends at once:
// the offer then gets neither Yes nor No.
void UpdatePromptsTest::offerThatCannotBeAnswered()
{
    Session session;
    QSignalSpy wanted(&session.window, &MainWindow::needDownloadNewFirmware);
    QSignalSpy unwanted(&session.window, &MainWindow::notNeedDownloadNewFirmware);

    QCoreApplication::quit();
    session.window.onFindNewVersion(QStringLiteral("25"), QString());
    // The next run of the application's loop clears the request to quit.
    session.run([] {});

    QCOMPARE(wanted.count(), 0);
    QCOMPARE(unwanted.count(), 1);
    // The system's error text follows on the next line of the log.
    const QStringList warnings = session.log.lines().filter(QStringLiteral("Bug with"));
    QCOMPARE(warnings.size(), 1);
    QVERIFY(warnings.first().startsWith(QLatin1String("Bug with avaible download window\n (")));
    QVERIFY(!session.transferLabel()->isEnabled());
}

void UpdatePromptsTest::latestVersionKeepsRunning()
{
    Session session;
    QVERIFY(!session.invoke("onYouHaveLastVersion"));

    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Info"));
    QCOMPARE(box.text, QStringLiteral("Your unit has the latest software"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.hasParent);
}

void UpdatePromptsTest::problemEndsTheProgram()
{
    Session session;
    QVERIFY(session.invoke("onYouHaveProblem", QStringLiteral("Problem with internet connection"), QString("")));

    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, QStringLiteral("Problem with internet connection\n"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QVERIFY(box.hasParent);
}

void UpdatePromptsTest::updaterDownloadEndsTheProgram()
{
    Session session;
    QVERIFY(session.invoke("onStartDownloadMainUpdate"));

    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Info"));
    QCOMPARE(box.text, QStringLiteral("Wait for download new Tavoro Updater.\nClose program and insall new "
                                      "version Tavoro Updater.\nTry again update unit."));
    QCOMPARE(box.icon, QMessageBox::Information);
}

QTEST_MAIN(UpdatePromptsTest)
#include "tst_updateprompts.moc"
