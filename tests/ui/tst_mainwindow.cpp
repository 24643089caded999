#include "ui/mainwindow.h"

#include "protocol/models.h"
#include "eventloop.h"
#include "hidsim.h"
#include "messageboxdriver.h"
#include "update/firmwarefiles.h"

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

namespace {

// Attaches controllers of `unitTypes` (version 1.4) and places the override
// file, which keeps the update check after "Connect" off the network.
void attachWithOverride(const QList<int> &unitTypes)
{
    HidSim::reset();
    for (int unitType : unitTypes)
        HidSim::attachModel(unitType, 14);
    QFile override(FirmwareFiles::overrideFilePath());
    QVERIFY(override.open(QIODevice::WriteOnly));
}

} // namespace

// The window right after start-up (only "Connect" can be used), and the
// window as the face of the transfer engine.
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
    void transferReportsShown_data();
    void transferReportsShown();
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

void TestMainWindow::transferReportsShown_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<QString>("report");   // what the engine reports; "press": "Update Device"
    QTest::addColumn<QString>("widgets");  // the widgets afterwards, as shown() writes them
    QTest::addColumn<QString>("title");    // of the box; empty: none
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("quits");
    QTest::addColumn<int>("ticks");  // of a real transfer of the update file before the report

    const int ebony = 12, moss = mossUnitType;
    const QString idle = "Transfer:|0/100 off|Update:|0/100 off|connect off, update on";
    const QString retry = "Check the connections between PC and the unit and to try the update again.";
    const auto row = [&](const char *name, int unitType, const QString &report, const QString &widgets,
                         const QString &title = {}, const QString &text = {}, bool quits = false, int ticks = 0) {
        QTest::newRow(name) << unitType << report << widgets << title << text << quits << ticks;
    };
    const auto failure = [&](const char *report, const QString &title, const QString &text, bool quits = false) {
        row(report, ebony, report, idle, title, text, quits);
    };

    row("Update Device pressed", ebony, "press", "Transfer:|0/100 off|Update:|0/100 off|connect off, update off");
    row("started", ebony, "transferStarted", "Transfer: in progress|0/100 on|Update:|0/100 off|connect off, update on");
    row("progress", ebony, "transferProgress 46", "Transfer:|46/100 off|Update:|0/100 off|connect off, update on");
    row("library progress", moss, "libraryProgress 5/10", "Transfer:|5/10 off|Update:|0/100 off|connect off, update on");
    const QString installing = "Transfer: completed|100/100 off|Update: in progress. Do not power off device!|0/100 %1"
                               "|connect off, update on";
    row("completed", ebony, "transferCompleted", installing.arg("on"));
    row("completed, closed library: no update bar", moss, "transferCompleted", installing.arg("off"));
    row("update progress", ebony, "updateProgress 12", "Transfer:|0/100 off|Update:|12/100 off|connect off, update on");
    row("finished", ebony, "updateFinished", "Transfer:|0/100 off|Update: finished|100/100 off|connect off, update on",
        "Info", "Update installed correctly, please close program, and disconnect/power off your controller.\n"
                "When reconnected/power ON your device will have the latest software.", true);
    row("finished, closed library", moss, "updateFinished", idle, "Info",
        "Updating started, please close program, and wait for device updating automatically finished.\n"
        "Please do NOT power off device until updating finished.", true);

    failure("failed FileNotLoaded", "Error", "File updater is not found.\nCheck the HD free space and try again.");
    failure("failed StartNotWritten", "Error HID device", retry);
    failure("failed DeviceTimeout", "Error", "Transfer timeout failed.\n" + retry);
    failure("failed DeviceInternalError", "Error", "Transfer failed.\nDevice internal error.");
    failure("failed PacketsSkipped", "Error", "Transfer failed. Packets skipped.\n" + retry);
    failure("failed WrongMd5", "Error", "Transfer failed. Wrong md5.\n" + retry);
    failure("failed UpdateInternalError", "Error", "Updating failed.\nDevice internal error.");
    failure("failed WrongFile", "Error", "Updating failed. Wrong file or some internal error.\n" + retry);
    failure("failed EndNotWritten", "Error HID device", "Connection lost.", true);
    failure("failed LibraryMissing", "Error", "The transfer library for this controller is not installed.\n"
                                              "Reinstall the updater and try the update again.");
    // The handles are closed and "Connect" can find the controller again.
    // Two ticks send transferStart and the (empty) image's end report.
    row("failed ConnectionLost", ebony, "failed ConnectionLost",
        "Transfer: in progress|100/100 on|Update:|0/100 off|connect on, update on", "Error",
        "The connection with the controller was lost while it was applying the update, so the result is unknown.\n"
        "Reconnect the controller and press Connect to read its version.", false, 2);
    // Before the end report it keeps its firmware: nothing is being applied.
    row("failed ConnectionLost in mid-transfer", ebony, "failed ConnectionLost",
        "Transfer:|0/100 off|Update:|0/100 off|connect on, update on", "Error HID device", retry, false, 1);
}

// Each report of the engine as the user sees it: the widgets, the box, and
// whether the program then ends.
void TestMainWindow::transferReportsShown()
{
    QFETCH(int, unitType);
    QFETCH(QString, report);
    QFETCH(QString, widgets);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(bool, quits);
    QFETCH(int, ticks);

    attachWithOverride({ unitType });
    MessageBoxDriver boxes;
    MainWindow window;
    window.show();
    window.findChild<QPushButton *>("connect_button")->click();
    QCOMPARE(boxes.count(), 1);

    auto *engine = window.findChild<TransferEngine *>();
    if (ticks > 0) {
        engine->startOrStop();
        engine->startOrStop();
        for (int i = 0; i < ticks; ++i)
            engine->transmitSlot();
    }
    const QString argument = report.section(' ', 1);
    const auto emitReport = [&] {
        if (report == QLatin1String("transferStarted"))
            emit engine->transferStarted();
        else if (report == QLatin1String("transferCompleted"))
            emit engine->transferCompleted();
        else if (report == QLatin1String("updateFinished"))
            emit engine->updateFinished();
        else if (report.startsWith(QLatin1String("transferProgress")))
            emit engine->transferProgress(argument.toInt());
        else if (report.startsWith(QLatin1String("updateProgress")))
            emit engine->updateProgress(argument.toInt());
        else if (report.startsWith(QLatin1String("libraryProgress")))
            emit engine->libraryProgress(argument.section('/', 0, 0).toInt(), argument.section('/', 1).toInt());
        else
            emit engine->failed(TransferEngine::Failure(
                QMetaEnum::fromType<TransferEngine::Failure>().keyToValue(qPrintable(argument))));
    };
    bool quit = false;
    if (report == QLatin1String("press")) {
        // Stopped again before its first tick.
        window.findChild<QPushButton *>("updateDeviceButton")->click();
        engine->startOrStop();
    } else {
        quit = TestLoop::runUntilQuit(emitReport, quits ? 5000 : 200);
    }

    const auto bar = [&](const char *name) {
        auto *widget = window.findChild<QProgressBar *>(name);
        return QStringLiteral("%1/%2 %3").arg(widget->value()).arg(widget->maximum())
            .arg(widget->isEnabled() ? "on" : "off");
    };
    const auto enabled = [&](const char *name) { return window.findChild<QWidget *>(name)->isEnabled() ? "on" : "off"; };
    const QString shown = QStringList({ window.findChild<QLabel *>("labelTransfer")->text(), bar("progressBarTransfer"),
                                        window.findChild<QLabel *>("labelUpdate")->text(), bar("progressBarUpdate"),
                                        QStringLiteral("connect %1, update %2").arg(enabled("connect_button"),
                                                                                    enabled("updateDeviceButton")) })
                              .join('|');
    QCOMPARE(shown, widgets);
    QCOMPARE(quit, quits);
    QCOMPARE(boxes.count(), title.isEmpty() ? 1 : 2);
    if (!title.isEmpty()) {
        QCOMPARE(boxes.boxes().last().title, title);
        QCOMPARE(boxes.boxes().last().text, text);
        QCOMPARE(boxes.boxes().last().icon, title == QLatin1String("Info") ? QMessageBox::Information
                                                                           : QMessageBox::Critical);
    }
    if (report == QLatin1String("failed ConnectionLost"))
        QCOMPARE(HidSim::openHandleCount(), 0);
}

void TestMainWindow::cleanup()
{
    QFile::remove(FirmwareFiles::overrideFilePath());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
