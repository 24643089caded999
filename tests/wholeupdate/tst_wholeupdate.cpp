// One whole update as a user goes through it: "Connect" finds an EBONY
// running 2.3, the download server behind the loopback proxy offers 2.4,
// Yes downloads the image, "Update Device" sends it, the controller applies
// it and the program ends itself. scripts/test-valgrind runs this program
// under memcheck, so it stays one short run with a small image.

#include "eventloop.h"
#include "httpserver.h"
#include "messageboxdriver.h"

#include "ui/mainwindow.h"

#include <hidsim.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

constexpr int ebonyUnitType = 12;
// Generous: under memcheck everything runs tens of times slower.
constexpr int wholeUpdateTimeoutMs = 150000;

const QByteArray manifest = "EBONYVer=24\n"
                            "EBONYBin=http://files.tavoro.test/fw/ebony.sb\n"
                            "EBONYChangeLog=http://files.tavoro.test/fw/ebony.txt\n"
                            "MainVer=14\n"
                            "MainChangeLog=http://files.tavoro.test/updater/changes.txt\n"
                            "WinMainBin=http://files.tavoro.test/updater/setup.exe\n";

// 1000 bytes: 16 data reports and an end report with 40.
QByteArray firmwareImage()
{
    QByteArray image(1000, Qt::Uninitialized);
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 13 + i / 256);
    return image;
}

QString programFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

void removeProgramFiles()
{
    const QDir dir(QCoreApplication::applicationDirPath());
    const QStringList written = dir.entryList({ QStringLiteral("updater.sb*"), QStringLiteral("*_log.enc") },
                                              QDir::Files);
    for (const QString &name : written)
        QFile::remove(dir.filePath(name));
}

} // namespace

class WholeUpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void fromConnectToTheEnd();

private:
    HttpServer server;
};

void WholeUpdateTest::initTestCase()
{
    QVERIFY(server.listen());
    server.becomeHttpProxy();
    removeProgramFiles();
}

void WholeUpdateTest::cleanup()
{
    HidSim::reset();
    removeProgramFiles();
}

void WholeUpdateTest::fromConnectToTheEnd()
{
    const QByteArray image = firmwareImage();
    server.route("/TVDownloadSite/wp-content/uploads/versions.txt", HttpServer::Response::ok(manifest));
    server.route("/fw/ebony.txt", HttpServer::Response::ok("EBONY 2.4: steadier transfers"));
    server.route("/fw/ebony.sb", HttpServer::Response::ok(image, "application/octet-stream"));
    const HidSim::Controller controller = HidSim::attachModel(ebonyUnitType, 23);

    MessageBoxDriver boxes;
    boxes.answerNext(QMessageBox::Ok);
    boxes.answerNext(QMessageBox::Yes);
    MainWindow window;
    window.show();
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("connect_button"));
    auto *updateButton = window.findChild<QPushButton *>(QStringLiteral("updateDeviceButton"));
    QVERIFY(connectButton && updateButton);

    // The user presses "Update Device" as soon as the download has enabled it.
    int updatePresses = 0;
    QTimer user;
    connect(&user, &QTimer::timeout, this, [&] {
        if (updatePresses == 0 && updateButton->isEnabled() && !QApplication::activeModalWidget()) {
            ++updatePresses;
            updateButton->click();
        }
    });
    const bool quit = TestLoop::runUntilQuit(
        [&] {
            user.start(20);
            connectButton->click();
        },
        wholeUpdateTimeoutMs);

    QVERIFY(quit);
    QCOMPARE(boxes.texts(),
             QStringList({ "EBONY connected", "Your unit current version: 2.3\nLatest version: 2.4",
                           "Update installed correctly, please close program, and disconnect/power off your "
                           "controller.\nWhen reconnected/power ON your device will have the latest software." }));
    QCOMPARE(updatePresses, 1);
    QCOMPARE(controller->receivedImage(), image);
    QFile stored(programFile(QStringLiteral("updater.sb")));
    QVERIFY(stored.open(QIODevice::ReadOnly));
    QCOMPARE(stored.readAll(), image);
}

QTEST_MAIN(WholeUpdateTest)
#include "tst_wholeupdate.moc"
