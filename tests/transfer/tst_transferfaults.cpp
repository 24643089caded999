#include "transferfixture.h"

#include "eventloop.h"
#include "logcapture.h"
#include "messageboxdriver.h"

#include <QRegularExpression>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace TransferFixture;

// The report engine when things go wrong: failed writes, a controller
// unplugged in the middle, the transfer stopped and started again, and
// update files that are missing or cannot be read whole.
class TestTransferFaults : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void failedDataWriteIsRetriedOnce();
    void failedStartWrite();
    void unplugDuringData();
    void killTimerAndRestart();
    void missingUpdateFile();
    void shortReadOfUpdateFile();
};

namespace {

constexpr int unit = 12;  // EBONY
const QString notFoundText = QStringLiteral("File updater is not found.\nCheck the HD free space and try again.");

} // namespace

void TestTransferFaults::init()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TestTransferFaults::cleanup()
{
    HidSim::reset();
    removeUpdateFiles();
}

// A data write that fails is made once more at once; the controller gets
// the report once and the numbering goes on without a gap.
void TestTransferFaults::failedDataWriteIsRetriedOnce()
{
    const QByteArray image = randomImage(400, 23);
    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    startWithoutTimer(*window);

    tick(*window, unit);  // transferStart
    controller->failWrite(1);
    tick(*window, unit);  // statusReady, then data report 1: fails, sent again
    controller->failWrite(2);
    for (int i = 0; i < 3; ++i)
        tick(*window, unit);

    const QList<QByteArray> expected = expectedReports(unit, image);
    QCOMPARE(controller->writtenReports(), expected.mid(0, 5));
    QCOMPARE(boxes.count(), 1);
}

void TestTransferFaults::failedStartWrite()
{
    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(400, 29));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;
    controller->failWrite(1);

    pressUpdateDevice(*window);
    QVERIFY(boxes.waitForBoxes(2));
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Error HID device"));
    QCOMPARE(boxes.boxes().last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.boxes().last().text,
             QStringLiteral("Check the connections between PC and the unit and to try the update again."));
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 2; }));

    QVERIFY(controller->writtenReports().isEmpty());
    QVERIFY(log.lines().filter(QStringLiteral("report is not send ret -1")).size() == 1);
}

// No message during the data phase: the remaining writes fail quietly, the
// engine reaches the result phase and waits there.
void TestTransferFaults::unplugDuringData()
{
    const QByteArray image = randomImage(60 * 40, 31);
    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;
    controller->unplugAfterWrites(10);

    pressUpdateDevice(*window);
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));

    QCOMPARE(controller->writtenReports(), expectedReports(unit, image).mid(0, 10));
    QCOMPARE(boxes.count(), 1);
    QVERIFY(window->isVisible());
}

// A second press stops the transfer ("kill timer"), a third continues it
// from where it stopped: no report is sent twice and none is missing.
void TestTransferFaults::killTimerAndRestart()
{
    const QByteArray image = randomImage(60 * 300 + 5, 37);
    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    pressUpdateDevice(*window);
    QVERIFY(TestLoop::waitFor([&] { return controller->writtenReports().size() > 20; }));
    pressUpdateDevice(*window);
    QVERIFY(log.contains(QStringLiteral("kill timer")));
    QVERIFY(!button(*window, "updateDeviceButton")->isEnabled());
    QVERIFY(!button(*window, "downloadLogFile")->isEnabled());

    const int stoppedAt = controller->writtenReports().size();
    TestLoop::spin(50);
    QCOMPARE(controller->writtenReports().size(), stoppedAt);

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 30000);
    QVERIFY(quit);
    QCOMPARE(controller->writtenReports(), expectedReports(unit, image));
    QCOMPARE(controller->receivedImage(), image);
    // The file was read again on each press, and found every time.
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(log.lines().filter(QRegularExpression(QStringLiteral("^file opened /"))).size(), 3);
}

// Without an update file the window says so, sends no firmware and only
// waits for a verdict.
void TestTransferFaults::missingUpdateFile()
{
    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 41));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    removeUpdateFiles();
    LogCapture log;

    pressUpdateDevice(*window);
    QCOMPARE(boxes.texts().mid(1), QStringList { notFoundText });
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Error"));
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));
    QVERIFY(controller->writtenReports().isEmpty());
}

// A file that yields fewer bytes than its size says must not be announced
// with the digest of the part that was read. sysfs attributes are such
// files: their size is a whole page, their content a few bytes. The update
// file is made a link to one; files cut short or failing half-way through
// a read (a network share, a bad disk) look the same to the program.
void TestTransferFaults::shortReadOfUpdateFile()
{
    const QString shortFile = QStringLiteral("/sys/devices/system/cpu/online");
    QFile probe(shortFile);
    if (!probe.open(QIODevice::ReadOnly) || probe.size() <= probe.readAll().size())
        QSKIP("no file here whose size exceeds its content");

    HidSim::Controller controller = HidSim::attachModel(unit);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 43));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    linkUpdateFile(shortFile);
    LogCapture log;

    pressUpdateDevice(*window);
    QCOMPARE(boxes.texts().mid(1), QStringList { notFoundText });
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));
    QVERIFY(controller->writtenReports().isEmpty());
}

QTEST_MAIN(TestTransferFaults)
#include "tst_transferfaults.moc"
