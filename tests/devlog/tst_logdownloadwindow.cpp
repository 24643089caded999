// The log download as the user drives it: the window's buttons, its relay
// of acknowledgements, the final message and the end of the program.

#include "protocol/models.h"
#include "protocol/reports.h"
#include "devicelogfiles.h"
#include "devlog/logdownloader.h"
#include "eventloop.h"
#include "messageboxdriver.h"
#include "ui/mainwindow.h"

#include <hidsim.h>

#include <QDateTime>
#include <QNetworkProxy>
#include <QProgressBar>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

namespace {

const QString finishedText = QStringLiteral("Download log file is complete.\nYou can find it in program directory.");

// The window starts its log thread as it is built. Calls queued before the
// thread's event loop exists reach it without the wake-up that orders them
// for the race detector; in the program the window lives long before that.
void letLogThreadStart()
{
    TestLoop::spin(100);
}

void press(QWidget &window, const char *name)
{
    auto *button = window.findChild<QPushButton *>(QLatin1String(name));
    QVERIFY(button);
    QMetaObject::invokeMethod(button, "pressed");
}

QPushButton *button(QWidget &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

} // namespace

class TestLogDownloadWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void runWithoutDownload();
    void withoutDevice();
    void completeDownload_data();
    void completeDownload();
    void stop_data();
    void stop();

private:
    HidSim::Controller attachEbony(const QByteArray &log);
    void connectUnit(MainWindow &window);

    // Holds the update checker's requests unanswered, so that its check
    // never ends the program during a log download.
    QTcpServer silentProxy;
    MessageBoxDriver *boxes = nullptr;
};

void TestLogDownloadWindow::initTestCase()
{
    // The window is never shown here, so each closed message box would be
    // the last window and post a quit of its own into the next test.
    QApplication::setQuitOnLastWindowClosed(false);
    QVERIFY(silentProxy.listen(QHostAddress::LocalHost));
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), silentProxy.serverPort()));
}

void TestLogDownloadWindow::init()
{
    HidSim::reset();
    removeDeviceLogFiles();
    boxes = new MessageBoxDriver;
}

void TestLogDownloadWindow::cleanup()
{
    delete boxes;
    boxes = nullptr;
    HidSim::reset();
}

HidSim::Controller TestLogDownloadWindow::attachEbony(const QByteArray &log)
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(12)->productId;
    HidSim::ControllerSettings settings;
    settings.unitType = 12;
    settings.log = log;
    return HidSim::attach(description, settings);
}

void TestLogDownloadWindow::connectUnit(MainWindow &window)
{
    window.findChild<QPushButton *>(QStringLiteral("connect_button"))->click();
    QCOMPARE(boxes->texts(), QStringList { QStringLiteral("EBONY connected") });
    boxes->clear();
}

void TestLogDownloadWindow::runWithoutDownload()
{
    // An empty file named after the moment the window was built.
    const QDateTime before = QDateTime::currentDateTime();
    {
        MainWindow window;
        letLogThreadStart();
    }
    const QStringList names = deviceLogFiles();
    QCOMPARE(names.size(), 1);
    QVERIFY(names.first() >= LogDownloader::logFileName(before));
    QVERIFY(names.first() <= LogDownloader::logFileName(QDateTime::currentDateTime()));
    QCOMPARE(deviceLogContents(), QByteArray());
}

void TestLogDownloadWindow::withoutDevice()
{
    HidSim::Controller controller = attachEbony(patternedLog(100));
    MainWindow window;
    letLogThreadStart();

    QVERIFY(TestLoop::runUntilQuit([&] { press(window, "downloadLogFile"); }, 10000));

    QCOMPARE(boxes->count(), 1);
    QCOMPARE(boxes->boxes().first().title, QStringLiteral("Info"));
    QCOMPARE(boxes->boxes().first().text, finishedText);
    QVERIFY(controller->writtenReports().isEmpty());
    QCOMPARE(deviceLogContents(), QByteArray());
    QVERIFY(!button(window, "downloadLogFile")->isEnabled());
    QVERIFY(!button(window, "stopDownloadingFile")->isEnabled());
    QVERIFY(!button(window, "stopDownloadingFile")->isHidden());
    QVERIFY(button(window, "updateDeviceButton")->isEnabled());
}

void TestLogDownloadWindow::completeDownload_data()
{
    QTest::addColumn<bool>("nameTaken");  // directories stand at the device log's possible names

    QTest::newRow("file written") << false;
    QTest::newRow("file name taken") << true;
}

void TestLogDownloadWindow::completeDownload()
{
    QFETCH(bool, nameTaken);

    const QByteArray log = patternedLog(9 * 63 + 20);
    HidSim::Controller controller = attachEbony(log);
    // Directories at the names the window's device log may take.
    const QDir programDir(QCoreApplication::applicationDirPath());
    QStringList taken;
    for (int second = 0; nameTaken && second < 3; ++second) {
        taken.append(LogDownloader::logFileName(QDateTime::currentDateTime().addSecs(second)));
        QVERIFY(programDir.mkpath(taken.last()));
    }
    MainWindow window;
    letLogThreadStart();
    connectUnit(window);
    controller->clearWrittenReports();

    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBarTransfer"));
    QList<int> values;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) { values.append(value); });

    // The second press, on the disabled button, must not ask again.
    QVERIFY(TestLoop::runUntilQuit([&] {
        press(window, "downloadLogFile");
        press(window, "downloadLogFile");
    }, 20000));
    for (const QString &name : taken)
        QVERIFY(programDir.rmdir(name));

    QCOMPARE(boxes->count(), 1);
    const MessageBoxDriver::Box box = boxes->boxes().first();
    QCOMPARE(box.title, nameTaken ? QStringLiteral("Error") : QStringLiteral("Info"));
    QCOMPARE(box.icon, nameTaken ? QMessageBox::Critical : QMessageBox::Information);
    const QString notWritten = QStringLiteral("The device log could not be written to ")
                               + QDir::toNativeSeparators(programDir.path());
    QVERIFY2(nameTaken ? box.text.startsWith(notWritten) : box.text == finishedText, qPrintable(box.text));
    QVERIFY(box.hasParent);
    QCOMPARE(values, (QList<int> { 10, 20, 30, 40, 50, 60, 70, 80, 90, 0 }));
    QVERIFY(!bar->isEnabled());
    QCOMPARE(deviceLogContents(), nameTaken ? QByteArray("<not one device log file>") : log);

    // The request in the trailing layout, then one acknowledgement per
    // reply: the header, nine parts and the last part.
    QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() == 12; }));
    const QList<QByteArray> written = controller->writtenReports();
    QCOMPARE(countCode(written, Report::logRequest, 60), 1);
    QCOMPARE(quint8(written.first().at(62)), quint8(1));
    QCOMPARE(countCode(written, Report::logAck), 11);
    QVERIFY(button(window, "updateDeviceButton")->isEnabled());
}

void TestLogDownloadWindow::stop_data()
{
    QTest::addColumn<QString>("when");

    QTest::newRow("during the header wait") << "header";
    QTest::newRow("during the part loop") << "parts";
    QTest::newRow("after an unplug") << "unplug";
}

void TestLogDownloadWindow::stop()
{
    QFETCH(QString, when);

    const QByteArray log = patternedLog(60 * 63);
    HidSim::Controller controller = attachEbony(log);
    MainWindow window;
    letLogThreadStart();
    connectUnit(window);
    controller->clearWrittenReports();

    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBarTransfer"));
    if (when == QLatin1String("header"))
        controller->setSilent(true);
    else if (when == QLatin1String("unplug"))
        controller->unplugAfterWrites(4);

    bool stopPressed = false;
    QVERIFY(TestLoop::runUntilQuit([&] {
        press(window, "downloadLogFile");
        if (when == QLatin1String("parts")) {
            connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
                if (value >= 10 && !stopPressed) {
                    stopPressed = true;
                    press(window, "stopDownloadingFile");
                }
            });
        } else {
            QTimer::singleShot(300, &window, [&] { press(window, "stopDownloadingFile"); });
        }
    }, 20000));

    QCOMPARE(boxes->texts(), QStringList { finishedText });
    QCOMPARE(bar->value(), 0);

    // Nothing is read or acknowledged after the stop, even when the
    // controller has something to say.
    TestLoop::spin(100);
    const int writes = controller->writtenReports().size();
    controller->setSilent(false);
    QByteArray header(Report::payloadSize, '\0');
    header[0] = char(Report::logHeader);
    header[36] = 1;
    controller->queueInputReport(header);
    TestLoop::spin(300);
    QCOMPARE(controller->writtenReports().size(), writes);
    const QByteArray saved = deviceLogContents();
    QVERIFY(saved.size() < log.size());
    QCOMPARE(saved, log.left(saved.size()));
    QCOMPARE(saved.size() % 63, 0);
    QCOMPARE(boxes->count(), 1);
}

QTEST_MAIN(TestLogDownloadWindow)
#include "tst_logdownloadwindow.moc"
