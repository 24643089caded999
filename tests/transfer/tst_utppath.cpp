#include "transferfixture.h"

#include "device/models.h"
#include "eventloop.h"
#include "logcapture.h"
#include "messageboxdriver.h"
#include "transfer/libraryprogress.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace TransferFixture;

// The MOSS controller's path: transferStart, the closed library moves the
// file, transferEnd, then the controller's verdict.
class TestUtpPath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeTransfer();
    void libraryFailureOnlyLogged();
    void readyBeforeTransferStart();
    void acknowledgementErrors_data();
    void acknowledgementErrors();
    void otherStatusOnlyLogged();
    void failedTransferEnd();
};

namespace {

constexpr int moss = mossUnitType;
const QString mossFinishedText = QStringLiteral(
    "Updating started, please close program, and wait for device updating automatically finished.\n"
    "Please do NOT power off device until updating finished.");

QByteArray transferEndReport()
{
    QByteArray report(65, '\0');
    report[1] = char(0xD0);
    return report;
}

} // namespace

void TestUtpPath::init()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TestUtpPath::cleanup()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TestUtpPath::wholeTransfer()
{
    const QByteArray image = randomImage(1024 * 1024, 47);
    HidSim::Controller controller = HidSim::attachModel(moss);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    QProgressBar *transferBar = progressBar(*window, "progressBarTransfer");
    QSignalSpy barValues(transferBar, &QProgressBar::valueChanged);
    LogCapture log;

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 20000);

    QVERIFY(quit);
    const QList<QByteArray> written = controller->writtenReports();
    QCOMPARE(written.size(), 2);
    QCOMPARE(written[0], expectedReports(moss, image).first());
    QCOMPARE(written[1], transferEndReport());

    const QStringList lines = log.lines();
    const int access = lines.indexOf(QStringLiteral("get access from device "));
    QVERIFY(access >= 0);
    QCOMPARE(lines.indexOf(QStringLiteral("updateThruUTP try")), access + 1);
    QCOMPARE(lines.indexOf(QStringLiteral("updateThruUTP result 0")), access + 2);
    QCOMPARE(lines.indexOf(QStringLiteral("transfer finished ")), access + 3);

    // The library drove the bar through its callback, and let go of it.
    QVERIFY(barValues.size() >= 3);
    for (int i = 1; i < barValues.size(); ++i)
        QVERIFY(barValues[i].first().toInt() >= barValues[i - 1].first().toInt());
    QVERIFY(!libraryProgressBar);
    const int before = transferBar->value();
    libraryProgressCallback(5, 10);
    QCOMPARE(transferBar->value(), before);
    QCOMPARE(transferBar->maximum(), 100);

    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Info"));
    QCOMPARE(boxes.boxes().last().text, mossFinishedText);
    // Unit type 11 shows no simulated update progress and keeps its widgets.
    QVERIFY(!progressBar(*window, "progressBarUpdate")->isEnabled());
    QCOMPARE(progressBar(*window, "progressBarUpdate")->value(), 0);
    QCOMPARE(label(*window, "labelUpdate")->text(), QStringLiteral("Update: in progress. Do not power off device!"));
    QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer: completed"));
}

// The library cannot open the file (it went away after "Update Device"
// read it): the result is logged, transferEnd still goes out and the
// controller decides.
void TestUtpPath::libraryFailureOnlyLogged()
{
    const QByteArray image = randomImage(5000, 53);
    HidSim::Controller controller = HidSim::attachModel(moss);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    const bool quit = TestLoop::runUntilQuit([&window] {
        pressUpdateDevice(*window);
        removeUpdateFiles();
    }, 20000);

    QVERIFY(quit);
    QVERIFY(log.lines().contains(QStringLiteral("updateThruUTP try")));
    QVERIFY(!log.lines().contains(QStringLiteral("updateThruUTP result 0")));
    QVERIFY(log.lines().filter(QRegularExpression(QStringLiteral("^updateThruUTP result [1-9]"))).size() == 1);
    QCOMPARE(controller->writtenReports(),
             (QList<QByteArray> { expectedReports(moss, image).first(), transferEndReport() }));
    QCOMPARE(boxes.boxes().last().text, mossFinishedText);
}

// A statusReady that arrives before transferStart still runs the library;
// transferStart follows in the same tick and transferEnd in the next.
void TestUtpPath::readyBeforeTransferStart()
{
    const QByteArray image = randomImage(777, 59);
    HidSim::Controller controller = HidSim::attachModel(moss);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;
    startWithoutTimer(*window);
    controller->queueInputReport(statusReport(moss, 0x9));

    tick(*window, moss);
    QCOMPARE(log.count(QStringLiteral("updateThruUTP try")), 1);
    QCOMPARE(controller->writtenReports(), QList<QByteArray> { expectedReports(moss, image).first() });

    tick(*window, moss);
    QCOMPARE(controller->writtenReports(),
             (QList<QByteArray> { expectedReports(moss, image).first(), transferEndReport() }));
    QCOMPARE(log.count(QStringLiteral("updateThruUTP try")), 1);
}

void TestUtpPath::acknowledgementErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<QString>("text");
    QTest::newRow("0xA") << 0xA << "packet received 0xa0 0x0 0x0" << QStringLiteral(
        "Transfer timeout failed.\nCheck the connections between PC and the unit and to try the update again.");
    QTest::newRow("0x6") << 0x6 << "packet received 0x60 0x0 0x0" << QStringLiteral("Transfer failed.\nDevice internal error.");
    QTest::newRow("0xB") << 0xB << "packet received 0xb0 0x0 0x0" << QStringLiteral(
        "Transfer failed. Packets skipped.\nCheck the connections between PC and the unit and to try the update again.");
}

// A refused transferStart: the "Error" box, then only the result step; the
// library is not called and no transferEnd is written.
void TestUtpPath::acknowledgementErrors()
{
    QFETCH(int, status);
    QFETCH(QString, logLine);
    QFETCH(QString, text);
    HidSim::Controller controller = HidSim::attachModel(moss);
    controller->setStartReply(quint8(status));
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 61));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    pressUpdateDevice(*window);
    QVERIFY(boxes.waitForBoxes(2));
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Error"));
    QCOMPARE(boxes.boxes().last().text, text);
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));

    QVERIFY(log.contains(logLine));
    QVERIFY(!log.contains(QStringLiteral("updateThruUTP try")));
    QCOMPARE(controller->writtenReports().size(), 1);
}

void TestUtpPath::otherStatusOnlyLogged()
{
    HidSim::Controller controller = HidSim::attachModel(moss);
    controller->setSilent(true);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 67));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;
    startWithoutTimer(*window);

    QByteArray report = statusReport(moss, 0xE);
    report[1] = char(0x12);
    controller->queueInputReport(report);
    tick(*window, moss);
    tick(*window, moss);

    QVERIFY(log.contains(QStringLiteral("packet received 0xe0 0x12 0x0")));
    QCOMPARE(boxes.count(), 1);
    QCOMPARE(controller->writtenReports().size(), 1);
    QVERIFY(!log.contains(QStringLiteral("waitingApplyingUpdate ")));
}

void TestUtpPath::failedTransferEnd()
{
    HidSim::Controller controller = HidSim::attachModel(moss);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 71));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;
    controller->failWrite(2);

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 20000);

    QVERIFY(quit);
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Error HID device"));
    QCOMPARE(boxes.boxes().last().text, QStringLiteral("Connection lost."));
    QCOMPARE(log.lines().filter(QStringLiteral("report is not send ret -1")).size(), 1);
    QCOMPARE(controller->writtenReports().size(), 1);
}

QTEST_MAIN(TestUtpPath)
#include "tst_utppath.moc"
