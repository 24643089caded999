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

    void offerBoxes_data();
    void offerBoxes();
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

void UpdatePromptsTest::offerBoxes_data()
{
    QTest::addColumn<QByteArray>("slot");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QMessageBox::StandardButton>("answer");

    const QString firmware = QStringLiteral("Your unit current version: 0.0\nLatest version: 2.5");
    const QString updater = QStringLiteral("Your Tavoro updater version: 0.14\nLatest version: 0.25");
    QTest::newRow("firmware, No") << QByteArray("onFindNewVersion") << firmware << QMessageBox::No;
    QTest::newRow("firmware, Escape") << QByteArray("onFindNewVersion") << firmware << MessageBoxDriver::Escape;
    QTest::newRow("updater, No") << QByteArray("onFindMainNewVersion") << updater << QMessageBox::No;
    QTest::newRow("updater, Escape") << QByteArray("onFindMainNewVersion") << updater << MessageBoxDriver::Escape;
}

// Both offers share one box. No, and Escape with it, changes nothing; what
// Yes does is shown by whole update checks.
void UpdatePromptsTest::offerBoxes()
{
    QFETCH(QByteArray, slot);
    QFETCH(QString, text);
    QFETCH(QMessageBox::StandardButton, answer);

    Session session;
    QSignalSpy firmware(&session.window, &MainWindow::needDownloadNewFirmware);
    QSignalSpy updater(&session.window, &MainWindow::needDownloadNewMainFirmware);
    QSignalSpy neither(&session.window, &MainWindow::notNeedDownloadNewFirmware);
    session.boxes.answerNext(answer);
    QVERIFY(!session.invoke(slot.constData(), QStringLiteral("25"), QStringLiteral("Faster transfers")));

    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.text, text);
    QCOMPARE(box.informativeText, offerQuestion);
    QCOMPARE(box.detailedText, QStringLiteral("Faster transfers"));
    QCOMPARE(box.title, QString());
    QCOMPARE(box.icon, QMessageBox::NoIcon);
    QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(box.defaultButton, QMessageBox::Yes);
    QVERIFY(!box.hasParent);

    QCOMPARE(firmware.count() + updater.count() + neither.count(), 0);
    QVERIFY(!session.transferLabel()->isEnabled());
    QCOMPARE(session.transferLabel()->text(), QStringLiteral("Transfer:"));
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
