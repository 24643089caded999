#include "ui/mainwindow.h"

#include <QLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>

// The window right after start-up: only "Connect" can be used.
class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void widgetsAfterConstruction_data();
    void widgetsAfterConstruction();
    void windowFrame();
    void buttonRowIsLaidOut();
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
