#include "ui/mainwindow.h"

#include "protocol/models.h"
#include "protocol/reports.h"
#include "logcapture.h"
#include "sessionrecorder.h"
#include "eventloop.h"
#include "hidsim.h"
#include "messageboxdriver.h"
#include "update/firmwarefiles.h"

#include <QDir>
#include <QFile>
#include <QLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QMetaEnum>
#include <QToolBar>

Q_DECLARE_METATYPE(QMessageBox::StandardButton)

namespace {

// Attaches controllers of `unitTypes` (version 1.4) and places the override
// file, which keeps the update check after "Connect" off the network.
// Returns the first.
HidSim::Controller attachWithOverride(const QList<int> &unitTypes)
{
    HidSim::reset();
    HidSim::Controller first;
    for (int unitType : unitTypes) {
        const HidSim::Controller controller = HidSim::attachModel(unitType, 14);
        if (!first)
            first = controller;
    }
    QFile override(FirmwareFiles::overrideFilePath());
    override.open(QIODevice::WriteOnly);
    return first;
}

template<typename Enum>
Enum enumValue(const QString &key)
{
    return Enum(QMetaEnum::fromType<Enum>().keyToValue(qPrintable(key)));
}

// The device log requests `controller` received (the trailing layout's).
int logRequests(const HidSim::Controller &controller)
{
    const QList<QByteArray> written = controller->writtenReports();
    return int(std::count_if(written.begin(), written.end(), [](const QByteArray &report) {
        return quint8(report.at(61)) == Report::logRequest;
    }));
}

} // namespace

// The window right after start-up (only "Connect" can be used), and the
// window as the face of the update session.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetsAfterConstruction_data();
    void widgetsAfterConstruction();
    void windowFrame();
    void buttonRowIsLaidOut();
    void connectShowsTheModel_data();
    void connectShowsTheModel();
    void sessionReportsShown_data();
    void sessionReportsShown();
    void cleanup();
};

void TestMainWindow::widgetsAfterConstruction_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("hidden");

    QTest::newRow("transfer bar") << "progressBarTransfer" << QRect(20, 160, 451, 21) << "" << false << false;
    QTest::newRow("update bar") << "progressBarUpdate" << QRect(20, 260, 451, 21) << "" << false << false;
    QTest::newRow("transfer label") << "labelTransfer" << QRect(20, 120, 411, 16) << "Transfer:" << false << false;
    QTest::newRow("update label") << "labelUpdate" << QRect(20, 230, 411, 16) << "Update:" << false << false;
    QTest::newRow("connect") << "connect_button" << QRect() << "Connect" << true << false;
    QTest::newRow("update device") << "updateDeviceButton" << QRect() << "Update Device" << false << false;
    QTest::newRow("download log") << "downloadLogFile" << QRect(250, 380, 231, 23) << "Download log file" << false << true;
    QTest::newRow("stop log") << "stopDownloadingFile" << QRect(250, 350, 231, 23) << "Stop downloading log file" << false << true;
}

void TestMainWindow::widgetsAfterConstruction()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(bool, hidden);

    MainWindow window;
    window.show();
    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    if (geometry.isValid())
        QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(widget->isEnabled(), enabled);
    QCOMPARE(widget->isHidden(), hidden);

    if (auto *button = qobject_cast<QPushButton *>(widget))
        QCOMPARE(button->text(), text);
    else if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    else if (auto *bar = qobject_cast<QProgressBar *>(widget)) {
        QCOMPARE(bar->value(), 0);
        QCOMPARE(bar->maximum(), 100);
    }
}

void TestMainWindow::windowFrame()
{
    MainWindow window;
    QCOMPARE(window.objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(window.size(), QSize(488, 440));
    QCOMPARE(window.windowTitle(), QStringLiteral("Tavoro updater"));
    QVERIFY(!window.findChild<QMenuBar *>());
    QVERIFY(!window.findChild<QToolBar *>());
    QVERIFY(!window.findChild<QStatusBar *>());
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
    QCOMPARE(window.findChild<QProgressBar *>("progressBarTransfer")->whatsThis(),
             QStringLiteral("Transfer progress"));
    // Every run has its device log file, empty unless the log is fetched.
    QCOMPARE(QDir(QCoreApplication::applicationDirPath()).entryList({ "*_log.enc" }).size(), 1);
}

void TestMainWindow::buttonRowIsLaidOut()
{
    MainWindow window;
    window.show();
    auto *row = window.findChild<QWidget *>("layoutWidget");
    QCOMPARE(row->geometry(), QRect(10, 410, 471, 32));
    QCOMPARE(row->layout()->spacing(), 6);
    QCOMPARE(row->layout()->contentsMargins(), QMargins());
    auto *connectButton = window.findChild<QPushButton *>("connect_button");
    auto *updateButton = window.findChild<QPushButton *>("updateDeviceButton");
    QCOMPARE(connectButton->parentWidget(), row);
    QCOMPARE(updateButton->parentWidget(), row);
    QCOMPARE(row->layout()->indexOf(connectButton), 0);
    QCOMPARE(row->layout()->indexOf(updateButton), 1);
    QVERIFY(connectButton->geometry().right() < updateButton->geometry().left());
}

void TestMainWindow::connectShowsTheModel_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<QString>("announcement");  // empty: nothing found

    // The announcement of each unit type, as the user must see it.
    const char *const announcements[unitTypeCount] = {
        "CALYX4 connected", "CALYX2 connected", "DORIC connected", "GLYPH PRO connected",
        "GLYPH IO connected", "HALO2 connected", "HALO4 connected", "IRIS/IRIS S connected",
        "JADE/JADE S connected", "KITE connected", "LARK connected", "MOSS connected",
        "EBONY connected", "ARDEN connected", "ARDEN connected", "BRISK connected",
        "BRISK connected", "FJORD connected",
    };
    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const QList<int> attached = isHalf(unitType) ? QList<int> { unitType, otherHalf(unitType) }
                                                     : QList<int> { unitType };
        QTest::addRow("%d %s", unitType, modelForUnitType(unitType)->name) << attached << announcements[unitType];
    }
    QTest::newRow("nothing attached") << QList<int>() << QString();
}

// "Connect": the model's announcement, or the not-found error, and the
// version the offer then shows.
void TestMainWindow::connectShowsTheModel()
{
    QFETCH(QList<int>, attached);
    QFETCH(QString, announcement);

    attachWithOverride(attached);
    MessageBoxDriver boxes;
    MainWindow window;
    window.show();
    auto *connectButton = window.findChild<QPushButton *>("connect_button");
    connectButton->click();

    QCOMPARE(boxes.count(), 1);
    const MessageBoxDriver::Box box = boxes.boxes().first();
    const bool found = !announcement.isEmpty();
    QCOMPARE(box.title, found ? QStringLiteral("Info") : QStringLiteral("Error"));
    QCOMPARE(box.text, found ? announcement : QStringLiteral("Device is not found.\nPlease connect."));
    QCOMPARE(box.icon, found ? QMessageBox::Information : QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.hasParent);
    QCOMPARE(connectButton->isEnabled(), !found);
    if (!found)
        return;

    boxes.answerNext(QMessageBox::No);
    window.onFindNewVersion(QStringLiteral("2.0"), QString());
    QVERIFY(boxes.boxes().last().text.startsWith(QStringLiteral("Your unit current version: 1.4\n")));
}

void TestMainWindow::sessionReportsShown_data()
{
    QTest::addColumn<int>("unitType");
    // What the session reports, as SessionRecorder writes it, or "press
    // <button>"; several are separated by "; ".
    QTest::addColumn<QString>("report");
    QTest::addColumn<QMessageBox::StandardButton>("answer");  // to the box
    QTest::addColumn<QString>("widgets");  // the widgets afterwards, as shown() writes them
    QTest::addColumn<QString>("title");    // of the box; empty: none, or an offer when there is a text
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("asks");   // what the window then asks of the session
    QTest::addColumn<bool>("quits");
    QTest::addColumn<int>("ticks");  // of a real transfer of the update file before the report

    const int ebony = 12, moss = mossUnitType;
    const QString idle = "Transfer:|0/100 off|Update:|0/100 off|connect off, update on";
    const QString retry = "Check the connections between PC and the unit and to try the update again.";
    const QString logHidden = "log off hidden, stop off hidden";
    const auto row = [&](const char *name, int unitType, const QString &report, const QString &widgets,
                         const QString &title = {}, const QString &text = {}, bool quits = false, int ticks = 0,
                         QMessageBox::StandardButton answer = QMessageBox::Ok, const QString &asks = {}) {
        QTest::newRow(name) << unitType << report << answer
                            << (widgets.count('|') == 4 ? widgets + '|' + logHidden : widgets) << title << text
                            << asks << quits << ticks;
    };
    const auto failure = [&](const char *report, const QString &title, const QString &text, bool quits = false) {
        row(report, ebony, report, idle, title, text, quits);
    };

    // The check.
    const QString offer = "Your unit current version: 1.4\nLatest version: 2.5";
    const QString updaterOffer = "Your Tavoro updater version: 0.14\nLatest version: 0.25";
    row("firmware offer, Yes", ebony, "firmwareOffered 25|Faster transfers",
        "Transfer: download new version|0/100 on|Update:|0/100 off|connect off, update on", "", offer, false, 0,
        QMessageBox::Yes, "needDownloadNewFirmware");
    row("firmware offer, No", ebony, "firmwareOffered 25|Faster transfers", idle, "", offer, false, 0,
        QMessageBox::No);
    row("firmware offer, Escape", ebony, "firmwareOffered 25|Faster transfers", idle, "", offer, false, 0,
        MessageBoxDriver::Escape);
    // Once the program has asked to quit, a box's own event loop ends at
    // once: the offer then gets neither Yes nor No.
    row("firmware offer after a request to quit", ebony, "quit; firmwareOffered 25|Faster transfers", idle, "", "",
        true, 0, QMessageBox::Ok, "notNeedDownloadNewFirmware");
    row("updater offer, Yes", ebony, "updaterOffered 25|Faster transfers", idle, "", updaterOffer, false, 0,
        QMessageBox::Yes, "needDownloadNewMainFirmware");
    row("updater offer, No", ebony, "updaterOffered 25|Faster transfers", idle, "", updaterOffer, false, 0,
        QMessageBox::No);
    row("updater offer, Escape", ebony, "updaterOffered 25|Faster transfers", idle, "", updaterOffer, false, 0,
        MessageBoxDriver::Escape);
    row("up to date", ebony, "upToDate", idle, "Info", "Your unit has the latest software");
    row("check failed", ebony, "checkFailed Connection|Problem with internet connection|", idle, "Error",
        "Problem with internet connection\n", true);
    row("firmware not saved", ebony,
        "checkFailed FirmwareNotSaved|Error saving firmware to disk.|Check the HD, connections between PC and the "
        "unit and to try the update again.",
        idle, "Error", "Error saving firmware to disk.\nCheck the HD, connections between PC and the unit and to "
                       "try the update again.", true);
    row("download progress", ebony, "downloadProgress 40", "Transfer:|40/100 off|Update:|0/100 off|connect off, update on");
    row("firmware ready", ebony, "firmwareReady Downloaded|/nowhere/updater.sb", idle);
    row("updater download opened", ebony, "updaterDownloadOpened", idle, "Info",
        "Wait for download new Tavoro Updater.\nClose program and insall new version Tavoro Updater.\n"
        "Try again update unit.", true);

    // The transfer.
    row("Update Device pressed", ebony, "press updateDeviceButton",
        "Transfer:|0/100 off|Update:|0/100 off|connect off, update off");
    row("started", ebony, "transferStarted", "Transfer: in progress|0/100 on|Update:|0/100 off|connect off, update on");
    row("progress", ebony, "transferProgress 46", "Transfer:|46/100 off|Update:|0/100 off|connect off, update on");
    row("library progress", moss, "libraryProgress 5/10", "Transfer:|5/10 off|Update:|0/100 off|connect off, update on");
    const QString installing = "Transfer: completed|100/100 off|Update: in progress. Do not power off device!|0/100 %1"
                               "|connect off, update on";
    row("completed", ebony, "transferCompleted Watched", installing.arg("on"));
    row("completed, closed library: no update bar", moss, "transferCompleted OnItsOwn", installing.arg("off"));
    row("update progress", ebony, "installProgress 12", "Transfer:|0/100 off|Update:|12/100 off|connect off, update on");
    row("finished", ebony, "updateFinished Watched",
        "Transfer:|0/100 off|Update: finished|100/100 off|connect off, update on", "Info",
        "Update installed correctly, please close program, and disconnect/power off your controller.\n"
        "When reconnected/power ON your device will have the latest software.", true);
    row("finished, closed library", moss, "updateFinished OnItsOwn", idle, "Info",
        "Updating started, please close program, and wait for device updating automatically finished.\n"
        "Please do NOT power off device until updating finished.", true);

    failure("transferFailed FileNotLoaded", "Error", "File updater is not found.\nCheck the HD free space and try again.");
    failure("transferFailed StartNotWritten", "Error HID device", retry);
    failure("transferFailed DeviceTimeout", "Error", "Transfer timeout failed.\n" + retry);
    failure("transferFailed DeviceInternalError", "Error", "Transfer failed.\nDevice internal error.");
    failure("transferFailed PacketsSkipped", "Error", "Transfer failed. Packets skipped.\n" + retry);
    failure("transferFailed WrongMd5", "Error", "Transfer failed. Wrong md5.\n" + retry);
    failure("transferFailed UpdateInternalError", "Error", "Updating failed.\nDevice internal error.");
    failure("transferFailed WrongFile", "Error", "Updating failed. Wrong file or some internal error.\n" + retry);
    failure("transferFailed EndNotWritten", "Error HID device", "Connection lost.", true);
    failure("transferFailed LibraryMissing", "Error", "The transfer library for this controller is not installed.\n"
                                                      "Reinstall the updater and try the update again.");
    // "Connect" can find the controller again. Two ticks send
    // transferStart and the (empty) image's end report.
    row("transferFailed ConnectionLost", ebony, "transferFailed ConnectionLost",
        "Transfer: in progress|100/100 on|Update:|0/100 off|connect on, update on", "Error",
        "The connection with the controller was lost while it was applying the update, so the result is unknown.\n"
        "Reconnect the controller and press Connect to read its version.", false, 2);
    // A third tick reads the controller's statusTransferComplete: lost while
    // it reported applying the update.
    row("transferFailed ConnectionLost while applying", ebony, "transferFailed ConnectionLost",
        "Transfer: completed|100/100 off|Update: in progress. Do not power off device!|0/100 on|connect on, update on",
        "Error",
        "The connection with the controller was lost while it was applying the update, so the result is unknown.\n"
        "Reconnect the controller and press Connect to read its version.", false, 3);
    // Before the end report it keeps its firmware: nothing is being applied.
    row("transferFailed ConnectionLost in mid-transfer", ebony, "transferFailed ConnectionLost",
        "Transfer:|0/100 off|Update:|0/100 off|connect on, update on", "Error HID device", retry, false, 1);

    // The device log.
    const QString logged = "Download log file is complete.\nYou can find it in program directory.";
    const QString logEnded = "Transfer:|0/100 off|Update:|0/100 off|connect off, update on|log off hidden, stop %1";
    row("log progress", ebony, "logProgress 30", "Transfer:|30/100 off|Update:|0/100 off|connect off, update on");
    row("log complete", ebony, "logFinished Complete|/p/2021_log.enc|", logEnded.arg("off hidden"), "Info", logged, true);
    row("log incomplete", ebony, "logFinished Incomplete|/p/2021_log.enc|", logEnded.arg("off hidden"), "Info", logged,
        true);
    row("log not written", ebony, "logFinished FileNotWritten|/p/2021_log.enc|No space left on device",
        logEnded.arg("off hidden"), "Error",
        "The device log could not be written to " + QDir::toNativeSeparators("/p/2021_log.enc")
            + ":\nNo space left on device", true);
    // A stop ends the download twice over: the first end is shown, once.
    row("log ends twice", ebony, "logFinished FileNotWritten|/p/x_log.enc|Disk gone; logFinished Complete|/p/x_log.enc|",
        logEnded.arg("off hidden"), "Error", "The device log could not be written to "
        + QDir::toNativeSeparators("/p/x_log.enc") + ":\nDisk gone", true);
    // A real download of the controller's (empty) log; the second press,
    // on the disabled button, does not ask again.
    row("download log pressed twice", ebony, "press downloadLogFile; press downloadLogFile", logEnded.arg("off"),
        "Info", logged, true, 0, QMessageBox::Ok, "1 log request");
    row("stop log pressed", ebony, "press stopDownloadingFile", logEnded.arg("off hidden"), "Info", logged, true);
}

// Each report of the session as the user sees it: the widgets, the box,
// what the window asks of the session, and whether the program then ends.
void TestMainWindow::sessionReportsShown()
{
    QFETCH(int, unitType);
    QFETCH(QString, report);
    QFETCH(QMessageBox::StandardButton, answer);
    QFETCH(QString, widgets);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, asks);
    QFETCH(bool, quits);
    QFETCH(int, ticks);

    const HidSim::Controller controller = attachWithOverride({ unitType });
    MessageBoxDriver boxes;
    MainWindow window;
    window.show();
    window.findChild<QPushButton *>("connect_button")->click();
    QCOMPARE(boxes.count(), 1);

    auto *session = window.findChild<UpdateSession *>();
    // What the window asks is recorded here, not done: the session's own
    // tables show what it does.
    QObject::disconnect(&window, nullptr, session, nullptr);
    QStringList asked;
    QObject::connect(&window, &MainWindow::needDownloadNewFirmware, [&] { asked << "needDownloadNewFirmware"; });
    QObject::connect(&window, &MainWindow::needDownloadNewMainFirmware,
                     [&] { asked << "needDownloadNewMainFirmware"; });
    QObject::connect(&window, &MainWindow::notNeedDownloadNewFirmware, [&] { asked << "notNeedDownloadNewFirmware"; });
    if (ticks > 0) {
        session->startOrStopTransfer();
        session->startOrStopTransfer();
        for (int i = 0; i < ticks; ++i)
            session->transferEngine()->transmitSlot();
    }
    LogCapture log;
    const auto emitReport = [&](const QString &one) {
        const QString name = one.section(' ', 0, 0);
        const QStringList values = one.section(' ', 1).split('|');
        const auto number = [&](int i) { return values.value(i).section('/', 0, 0).toInt(); };
        if (name == QLatin1String("press")) {
            auto *pressed = window.findChild<QPushButton *>(values.first());
            if (values.first() == QLatin1String("updateDeviceButton")) {
                pressed->click();
                // Stopped again before its first tick.
                session->startOrStopTransfer();
            } else {
                // Even on a disabled button.
                QMetaObject::invokeMethod(pressed, "pressed");
            }
        } else if (name == QLatin1String("quit")) {
            QCoreApplication::quit();
        } else if (name == QLatin1String("firmwareOffered")) {
            emit session->firmwareOffered(values.value(0), values.value(1));
        } else if (name == QLatin1String("updaterOffered")) {
            emit session->updaterOffered(values.value(0), values.value(1));
        } else if (QStringList({ "upToDate", "updaterDownloadOpened", "transferStarted" }).contains(name)) {
            QMetaObject::invokeMethod(session, qPrintable(name));
        } else if (QStringList({ "downloadProgress", "transferProgress", "installProgress", "logProgress" })
                       .contains(name)) {
            QMetaObject::invokeMethod(session, qPrintable(name), Q_ARG(int, number(0)));
        } else if (name == QLatin1String("checkFailed")) {
            emit session->checkFailed({ enumValue<UpdateChecker::Problem>(values.value(0)), values.value(1),
                                        values.value(2) });
        } else if (name == QLatin1String("firmwareReady")) {
            emit session->firmwareReady({ values.value(1), FirmwareFile::Source::Downloaded });
        } else if (name == QLatin1String("libraryProgress")) {
            emit session->libraryProgress(number(0), values.value(0).section('/', 1).toInt());
        } else if (name == QLatin1String("transferCompleted")) {
            emit session->transferCompleted(enumValue<UpdateSession::Installation>(values.value(0)));
        } else if (name == QLatin1String("updateFinished")) {
            emit session->updateFinished(enumValue<UpdateSession::Installation>(values.value(0)));
        } else if (name == QLatin1String("transferFailed")) {
            emit session->transferFailed(enumValue<TransferEngine::Failure>(values.value(0)));
        } else if (name == QLatin1String("logFinished")) {
            UpdateSession::DeviceLog deviceLog;
            deviceLog.end = UpdateSession::DeviceLog::End(SessionRecorder::logEnds.indexOf(values.value(0)));
            deviceLog.path = values.value(1);
            deviceLog.fileProblem = values.value(2);
            emit session->logFinished(deviceLog);
        } else {
            QFAIL(qPrintable("no such report: " + one));
        }
    };
    boxes.answerNext(answer);
    const bool quit = TestLoop::runUntilQuit(
        [&] {
            for (const QString &one : report.split(QStringLiteral("; ")))
                emitReport(one);
        },
        quits ? 5000 : 200);

    const auto bar = [&](const char *name) {
        auto *widget = window.findChild<QProgressBar *>(name);
        return QStringLiteral("%1/%2 %3").arg(widget->value()).arg(widget->maximum())
            .arg(widget->isEnabled() ? "on" : "off");
    };
    const auto button = [&](const char *name) {
        auto *widget = window.findChild<QWidget *>(name);
        return QString(widget->isEnabled() ? "on" : "off") + (widget->isHidden() ? " hidden" : "");
    };
    const QString shown = QStringList({ window.findChild<QLabel *>("labelTransfer")->text(), bar("progressBarTransfer"),
                                        window.findChild<QLabel *>("labelUpdate")->text(), bar("progressBarUpdate"),
                                        QStringLiteral("connect %1, update %2").arg(button("connect_button"),
                                                                                    button("updateDeviceButton")),
                                        QStringLiteral("log %1, stop %2").arg(button("downloadLogFile"),
                                                                              button("stopDownloadingFile")) })
                              .join('|');
    QCOMPARE(shown, widgets);
    QCOMPARE(quit, quits);
    QCOMPARE(boxes.count(), text.isEmpty() ? 1 : 2);
    if (!text.isEmpty()) {
        const MessageBoxDriver::Box box = boxes.boxes().last();
        QCOMPARE(box.title, title);
        QCOMPARE(box.text, text);
        if (title.isEmpty()) {
            // Both offers: one top-level box, the change log behind the
            // details button, Yes as the default.
            QCOMPARE(box.informativeText, QStringLiteral("Would you like to update to latest version?"));
            QCOMPARE(box.detailedText, report.section('|', 1));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box.defaultButton, QMessageBox::Yes);
            QVERIFY(!box.hasParent);
        } else {
            QCOMPARE(box.icon, title == QLatin1String("Info") ? QMessageBox::Information : QMessageBox::Critical);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            QVERIFY(box.hasParent);
        }
    }
    if (asks.endsWith(QLatin1String("log request"))) {
        TestLoop::spin(100);
        QCOMPARE(QStringLiteral("%1 log request").arg(logRequests(controller)), asks);
    } else {
        QCOMPARE(asked.join(','), asks);
    }
    if (asks == QLatin1String("notNeedDownloadNewFirmware")) {
        // The system's error text follows on the next line of the log.
        const QStringList warnings = log.lines().filter(QStringLiteral("Bug with"));
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().startsWith(QLatin1String("Bug with avaible download window\n (")));
    }
}

void TestMainWindow::cleanup()
{
    QFile::remove(FirmwareFiles::overrideFilePath());
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (const QString &name : programDir.entryList({ "*_log.enc" }))
        QFile::remove(programDir.filePath(name));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
