// The window's answers to the update checker, driven through its slots:
// what the boxes say, what each answer changes, and when the program ends.

#include "ui/mainwindow.h"
#include "update/versiontext.h"

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
Q_DECLARE_METATYPE(QMessageBox::Icon)

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
        // Let a request to quit take effect, else end the loop. The timer
        // ends with this run, so that a slow run cannot leave it to end the
        // next run's loop (and its box) early.
        QTimer fallback;
        fallback.setSingleShot(true);
        QObject::connect(&fallback, &QTimer::timeout, [] { QCoreApplication::exit(2); });
        return TestLoop::runUntilQuit(
            [&] {
                action();
                fallback.start(100);
            },
            5000);
    }

    bool invoke(const QByteArray &slot)
    {
        return run([&] { QMetaObject::invokeMethod(&window, slot.constData()); });
    }

    bool invoke(const QByteArray &slot, const QString &first, const QString &second)
    {
        return run([&] {
            QMetaObject::invokeMethod(&window, slot.constData(), Q_ARG(QString, first), Q_ARG(QString, second));
        });
    }
};

} // namespace

class UpdatePromptsTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidSim::reset(); }

    void texts_data()
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

    void texts()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }

    void offerBoxes_data()
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
    void offerBoxes()
    {
        QFETCH(QByteArray, slot);
        QFETCH(QString, text);
        QFETCH(QMessageBox::StandardButton, answer);

        Session session;
        QSignalSpy firmware(&session.window, &MainWindow::needDownloadNewFirmware);
        QSignalSpy updater(&session.window, &MainWindow::needDownloadNewMainFirmware);
        QSignalSpy neither(&session.window, &MainWindow::notNeedDownloadNewFirmware);
        session.boxes.answerNext(answer);
        QVERIFY(!session.invoke(slot, QStringLiteral("25"), QStringLiteral("Faster transfers")));

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
    void offerThatCannotBeAnswered()
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

    void statusBoxes_data()
    {
        QTest::addColumn<QByteArray>("slot");
        QTest::addColumn<bool>("quits");
        QTest::addColumn<QMessageBox::Icon>("icon");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");

        QTest::newRow("latest version keeps running") << QByteArray("onYouHaveLastVersion") << false
                                                      << QMessageBox::Information << "Info"
                                                      << "Your unit has the latest software";
        QTest::newRow("updater download ends the program")
            << QByteArray("onStartDownloadMainUpdate") << true << QMessageBox::Information << "Info"
            << "Wait for download new Tavoro Updater.\nClose program and insall new version Tavoro Updater.\nTry again "
               "update unit.";
        QTest::newRow("problem ends the program") << QByteArray("onYouHaveProblem") << true << QMessageBox::Critical
                                                  << "Error" << "Problem with internet connection\n";
    }

    // Each box sits on the window with a single OK; some end the program.
    void statusBoxes()
    {
        QFETCH(QByteArray, slot);
        QFETCH(bool, quits);
        QFETCH(QMessageBox::Icon, icon);
        QFETCH(QString, title);
        QFETCH(QString, text);

        Session session;
        const bool quit = slot == "onYouHaveProblem"
                              ? session.invoke(slot, QStringLiteral("Problem with internet connection"), QString(""))
                              : session.invoke(slot);
        QCOMPARE(quit, quits);

        QCOMPARE(session.boxes.count(), 1);
        const MessageBoxDriver::Box box = session.boxes.boxes().first();
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        QCOMPARE(box.icon, icon);
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(box.hasParent);
    }
};

QTEST_MAIN(UpdatePromptsTest)
#include "tst_updateprompts.moc"
