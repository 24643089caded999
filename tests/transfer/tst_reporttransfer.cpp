#include "transferfixture.h"

#include "device/models.h"
#include "eventloop.h"
#include "logcapture.h"
#include "messageboxdriver.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

using namespace TransferFixture;

// Whole firmware transfers through the report engine, against simulated
// controllers: every report the controller receives, the transfer and
// update bars, the verdicts and the end of the program.
class TestReportTransfer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void wholeTransfer_data();
    void wholeTransfer();
    void largeImage_data();
    void largeImage();
    void tickByTick();
    void pairReceivesIdenticalStreams();
    void pairVerdictComesFromLeftHalf_data();
    void pairVerdictComesFromLeftHalf();
    void acknowledgementErrors_data();
    void acknowledgementErrors();
    void pairAcknowledgement_data();
    void pairAcknowledgement();
    void errorVerdicts_data();
    void errorVerdicts();
    void finishWithoutTransferComplete();
    void updateBarStopsAt99();
};

namespace {

const QString successText = QStringLiteral(
    "Update installed correctly, please close program, and disconnect/power off your controller.\n"
    "When reconnected/power ON your device will have the latest software.");
const QString timeoutText = QStringLiteral(
    "Transfer timeout failed.\nCheck the connections between PC and the unit and to try the update again.");
const QString internalErrorText = QStringLiteral("Transfer failed.\nDevice internal error.");
const QString skippedText = QStringLiteral(
    "Transfer failed. Packets skipped.\nCheck the connections between PC and the unit and to try the update again.");

constexpr int trailingUnit = 12;  // EBONY
constexpr int leadingUnit = 1;    // CALYX2

// Compares two report streams report by report, naming the first that differs.
void compareStreams(const QList<QByteArray> &actual, const QList<QByteArray> &expected)
{
    for (int i = 0; i < qMin(actual.size(), expected.size()); ++i) {
        if (actual[i] != expected[i])
            QFAIL(qPrintable(QStringLiteral("report %1 of %2 differs:\n got  %3\n want %4")
                                 .arg(i).arg(expected.size())
                                 .arg(QString::fromLatin1(actual[i].toHex()), QString::fromLatin1(expected[i].toHex()))));
    }
    QCOMPARE(actual.size(), expected.size());
}

// Ticks until `done` holds; a bound keeps a broken engine from looping.
bool tickUntil(MainWindow &window, int unitType, const std::function<bool()> &done, int maxTicks)
{
    for (int i = 0; i < maxTicks && !done(); ++i)
        tick(window, unitType);
    return done();
}

// Ticks until `done` holds, inside the application's event loop, and tells
// whether the program then asked to quit (it does after the success box).
bool tickUntilQuit(MainWindow &window, int unitType, const std::function<bool()> &done, int maxTicks)
{
    bool reached = false;
    const bool quit = TestLoop::runUntilQuit([&] { reached = tickUntil(window, unitType, done, maxTicks); }, 60000);
    return reached && quit;
}

} // namespace

void TestReportTransfer::init()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TestReportTransfer::cleanup()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TestReportTransfer::wholeTransfer_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("size");
    for (int unitType : { leadingUnit, trailingUnit }) {
        for (int size : { 0, 59, 60, 121, 130 })
            QTest::addRow("unit %d, %d bytes", unitType, size) << unitType << size;
    }
}

// Through the real timer: from "Update Device" to the success message and
// the end of the program.
void TestReportTransfer::wholeTransfer()
{
    QFETCH(int, unitType);
    QFETCH(int, size);
    const QByteArray image = randomImage(size, quint32(size * 31 + unitType));
    HidSim::Controller controller = HidSim::attachModel(unitType);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 20000);

    QVERIFY(quit);
    compareStreams(controller->writtenReports(), expectedReports(unitType, image));
    QCOMPARE(controller->receivedImage(), image);
    QCOMPARE(controller->announcedMd5(), QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex());
    QCOMPARE(boxes.count(), 2);
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Info"));
    QCOMPARE(boxes.boxes().last().text, successText);

    QProgressBar *transferBar = progressBar(*window, "progressBarTransfer");
    QProgressBar *updateBar = progressBar(*window, "progressBarUpdate");
    QCOMPARE(transferBar->value(), 100);
    QVERIFY(!transferBar->isEnabled());
    QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer: completed"));
    QCOMPARE(updateBar->value(), 100);
    QVERIFY(!updateBar->isEnabled());
    QCOMPARE(label(*window, "labelUpdate")->text(), QStringLiteral("Update: finished"));
    QVERIFY(!label(*window, "labelUpdate")->isEnabled());
    QVERIFY(!button(*window, "updateDeviceButton")->isEnabled());
    QVERIFY(!button(*window, "downloadLogFile")->isEnabled());
}

void TestReportTransfer::largeImage_data()
{
    QTest::addColumn<int>("unitType");
    QTest::newRow("leading header") << leadingUnit;
    QTest::newRow("trailing header") << trailingUnit;
}

// A few megabytes, driven tick by tick so the test does not wait for
// thousands of 1 ms timer ticks.
void TestReportTransfer::largeImage()
{
    QFETCH(int, unitType);
    const QByteArray image = randomImage(3 * 1024 * 1024 + 17, quint32(unitType));
    HidSim::Controller controller = HidSim::attachModel(unitType);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    startWithoutTimer(*window);

    const int reports = expectedReports(unitType, image).size();
    QVERIFY(tickUntilQuit(*window, unitType, [&] { return boxes.count() == 2; }, reports + 100));

    QCOMPARE(boxes.boxes().last().text, successText);
    QCOMPARE(controller->receivedImage(), image);
    compareStreams(controller->writtenReports(), expectedReports(unitType, image));
}

// The tick that receives statusReady also sends the first data report, and
// the transfer bar shows the share already sent before each report.
void TestReportTransfer::tickByTick()
{
    const QByteArray image = randomImage(130, 7);
    HidSim::Controller controller = HidSim::attachModel(leadingUnit);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    QProgressBar *bar = progressBar(*window, "progressBarTransfer");
    QLabel *transferLabel = label(*window, "labelTransfer");
    const QList<QByteArray> expected = expectedReports(leadingUnit, image);
    startWithoutTimer(*window);

    tick(*window, leadingUnit);
    compareStreams(controller->writtenReports(), expected.mid(0, 1));
    QCOMPARE(transferLabel->text(), QStringLiteral("Transfer:"));

    tick(*window, leadingUnit);
    compareStreams(controller->writtenReports(), expected.mid(0, 2));
    QCOMPARE(transferLabel->text(), QStringLiteral("Transfer: in progress"));
    QVERIFY(transferLabel->isEnabled());
    QVERIFY(bar->isEnabled());
    QCOMPARE(bar->value(), 0);

    tick(*window, leadingUnit);
    QCOMPARE(bar->value(), 46);
    tick(*window, leadingUnit);
    QCOMPARE(bar->value(), 92);
    compareStreams(controller->writtenReports(), expected);

    QVERIFY(tickUntilQuit(*window, leadingUnit, [&] { return boxes.count() == 2; }, 50));
    QCOMPARE(bar->value(), 100);
}

void TestReportTransfer::pairReceivesIdenticalStreams()
{
    const QByteArray image = randomImage(1000, 3);
    HidSim::Controller left = HidSim::attachModel(13);
    HidSim::Controller right = HidSim::attachModel(14);
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    QCOMPARE(boxes.boxes().first().text, QStringLiteral("ARDEN connected"));

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 20000);

    QVERIFY(quit);
    const QList<QByteArray> expected = expectedReports(14, image);
    compareStreams(right->writtenReports(), expected);
    compareStreams(left->writtenReports(), expected);
    QCOMPARE(boxes.boxes().last().text, successText);
    // The widgets of the transfer phase are left alone for a pair.
    QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer: completed"));
}

void TestReportTransfer::pairVerdictComesFromLeftHalf_data()
{
    QTest::addColumn<bool>("leftRejects");
    QTest::newRow("left half rejects, right accepts") << true;
    QTest::newRow("right half rejects, left accepts") << false;
}

// Both halves must answer; the code shown is the left half's
// (secondDevice), whatever the right half said.
void TestReportTransfer::pairVerdictComesFromLeftHalf()
{
    QFETCH(bool, leftRejects);
    HidSim::Controller left = HidSim::attachModel(13);
    HidSim::Controller right = HidSim::attachModel(14);
    (leftRejects ? left : right)->setVerdict(0xC);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(200, 5));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    pressUpdateDevice(*window);
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));
    TestLoop::spin(50);

    QStringList texts = boxes.texts();
    texts.removeFirst();
    if (leftRejects) {
        QCOMPARE(texts, QStringList { QStringLiteral(
            "Transfer failed. Wrong md5.\nCheck the connections between PC and the unit and to try the update again.") });
    } else {
        QVERIFY(!texts.join('|').contains(QLatin1String("Wrong md5")));
        QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer: completed"));
    }
}

void TestReportTransfer::acknowledgementErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");
    QTest::newRow("0xA timeout") << 0xA << timeoutText;
    QTest::newRow("0x6 internal error") << 0x6 << internalErrorText;
    QTest::newRow("0xB packets skipped") << 0xB << skippedText;
}

// The controller refuses transferStart: an "Error" box, no firmware data,
// and the window goes on polling for a verdict.
void TestReportTransfer::acknowledgementErrors()
{
    QFETCH(int, status);
    QFETCH(QString, text);
    const QByteArray image = randomImage(500, 9);
    HidSim::Controller controller = HidSim::attachModel(trailingUnit);
    controller->setStartReply(quint8(status));
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    pressUpdateDevice(*window);
    QVERIFY(boxes.waitForBoxes(2));
    QCOMPARE(boxes.boxes().last().title, QStringLiteral("Error"));
    QCOMPARE(boxes.boxes().last().icon, QMessageBox::Critical);
    QCOMPARE(boxes.boxes().last().text, text);
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 2; }));

    compareStreams(controller->writtenReports(), expectedReports(trailingUnit, image).mid(0, 1));
    QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer:"));
}

void TestReportTransfer::pairAcknowledgement_data()
{
    QTest::addColumn<bool>("onLeftHalf");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");  // empty: the transfer goes on

    for (bool onLeft : { false, true }) {
        const char *half = onLeft ? "left" : "right";
        QTest::addRow("%s half 0xA", half) << onLeft << 0xA << timeoutText;
        QTest::addRow("%s half 0xB", half) << onLeft << 0xB << skippedText;
        QTest::addRow("%s half 0x6 is not acted on", half) << onLeft << 0x6 << QString();
        QTest::addRow("%s half 0x8, the other's 0x9 is enough", half) << onLeft << 0x8 << QString();
    }
}

void TestReportTransfer::pairAcknowledgement()
{
    QFETCH(bool, onLeftHalf);
    QFETCH(int, status);
    QFETCH(QString, text);
    const QByteArray image = randomImage(300, 11);
    HidSim::Controller left = HidSim::attachModel(15);
    HidSim::Controller right = HidSim::attachModel(16);
    (onLeftHalf ? left : right)->setStartReply(quint8(status));
    MessageBoxDriver boxes;
    placeUpdateFile(image);
    auto window = connectWindow(boxes);
    QVERIFY(window);
    startWithoutTimer(*window);

    for (int i = 0; i < 2; ++i)
        tick(*window, 16);

    const QList<QByteArray> expected = expectedReports(16, image);
    if (text.isEmpty()) {
        QCOMPARE(boxes.count(), 1);
        compareStreams(right->writtenReports(), expected.mid(0, 2));
        compareStreams(left->writtenReports(), expected.mid(0, 2));
    } else {
        QCOMPARE(boxes.texts().mid(1), QStringList { text });
        compareStreams(right->writtenReports(), expected.mid(0, 1));
        compareStreams(left->writtenReports(), expected.mid(0, 1));
    }
}

void TestReportTransfer::errorVerdicts_data()
{
    QTest::addColumn<int>("verdict");
    QTest::addColumn<QString>("text");
    QTest::newRow("0xC wrong md5") << 0xC << QStringLiteral(
        "Transfer failed. Wrong md5.\nCheck the connections between PC and the unit and to try the update again.");
    QTest::newRow("0x6 internal error") << 0x6 << QStringLiteral("Updating failed.\nDevice internal error.");
    QTest::newRow("0x7 wrong file") << 0x7 << QStringLiteral(
        "Updating failed. Wrong file or some internal error.\n"
        "Check the connections between PC and the unit and to try the update again.");
}

// An error verdict is shown and the window keeps polling: no quit.
void TestReportTransfer::errorVerdicts()
{
    QFETCH(int, verdict);
    QFETCH(QString, text);
    HidSim::Controller controller = HidSim::attachModel(leadingUnit);
    controller->setVerdict(quint8(verdict));
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(150, 13));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    LogCapture log;

    pressUpdateDevice(*window);
    QVERIFY(boxes.waitForBoxes(2));
    QCOMPARE(boxes.boxes()[1].title, QStringLiteral("Error"));
    QCOMPARE(boxes.boxes()[1].icon, QMessageBox::Critical);
    QCOMPARE(boxes.boxes()[1].text, text);

    log.clear();
    QVERIFY(TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= 3; }));
    QCOMPARE(label(*window, "labelUpdate")->text(), QStringLiteral("Update:"));
    QCOMPARE(progressBar(*window, "progressBarUpdate")->value(), 0);
}

void TestReportTransfer::finishWithoutTransferComplete()
{
    HidSim::ControllerSettings settings;
    settings.reportsTransferComplete = false;
    HidSim::Controller controller = attachController(trailingUnit, settings);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 17));
    auto window = connectWindow(boxes);
    QVERIFY(window);

    const bool quit = TestLoop::runUntilQuit([&window] { pressUpdateDevice(*window); }, 20000);

    QVERIFY(quit);
    QCOMPARE(boxes.boxes().last().text, successText);
    QCOMPARE(progressBar(*window, "progressBarUpdate")->value(), 100);
    QCOMPARE(label(*window, "labelUpdate")->text(), QStringLiteral("Update: finished"));
    // The transfer bar was never completed: only 0xE does that.
    QCOMPARE(label(*window, "labelTransfer")->text(), QStringLiteral("Transfer: in progress"));
}

// While the controller applies the image the update bar moves by one every
// second tick, stops at 99 however long it takes, and shows 100 only on the
// controller's statusUpdateFinished.
void TestReportTransfer::updateBarStopsAt99()
{
    HidSim::ControllerSettings settings;
    settings.applyTimeMs = 10 * 60 * 1000;  // finishes only when the test says so
    HidSim::Controller controller = attachController(trailingUnit, settings);
    MessageBoxDriver boxes;
    placeUpdateFile(randomImage(100, 19));
    auto window = connectWindow(boxes);
    QVERIFY(window);
    QProgressBar *updateBar = progressBar(*window, "progressBarUpdate");
    startWithoutTimer(*window);

    QVERIFY(tickUntil(*window, trailingUnit, [&] {
        return label(*window, "labelUpdate")->text() == QLatin1String("Update: in progress. Do not power off device!");
    }, 100));
    QVERIFY(updateBar->isEnabled());

    // Statuses without a verdict make each result read return at once.
    const int ticks = 260;
    for (int i = 0; i < ticks; ++i)
        controller->queueInputReport(statusReport(trailingUnit, 0x0));
    QList<int> values;
    for (int i = 0; i < ticks; ++i) {
        tick(*window, trailingUnit);
        values.append(updateBar->value());
    }
    QCOMPARE(values.first(), 0);
    for (int i = 1; i < values.size(); ++i) {
        QVERIFY(values[i] - values[i - 1] == 0 || values[i] - values[i - 1] == 1);
        QVERIFY(values[i] <= 99);
    }
    QCOMPARE(values.last(), 99);
    QCOMPARE(values.indexOf(99), 199);
    QCOMPARE(boxes.count(), 1);

    controller->queueInputReport(statusReport(trailingUnit, 0xF));
    QVERIFY(tickUntilQuit(*window, trailingUnit, [&] { return boxes.count() == 2; }, 1));
    QCOMPARE(updateBar->value(), 100);
    QVERIFY(!updateBar->isEnabled());
    QCOMPARE(boxes.boxes().last().text, successText);
}

QTEST_MAIN(TestReportTransfer)
#include "tst_reporttransfer.moc"
