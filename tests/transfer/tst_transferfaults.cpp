#include "transferfixture.h"

#include "eventloop.h"

#include <QRegularExpression>
#include <QTest>

using namespace TransferFixture;

// The report engine when things go wrong: failed writes, a controller
// unplugged in the middle, the transfer stopped and started again, and
// update files that are missing or cannot be read whole.
class TestTransferFaults : public TransferTest
{
    Q_OBJECT

private slots:
    void failedDataWriteIsRetriedOnce();
    void nothingSent_data();
    void nothingSent();
    void unplugDuringData();
    void killTimerAndRestart();
};

namespace {

constexpr int unit = 12;  // EBONY

} // namespace

// A data write that fails is made once more at once; the controller gets
// the report once and the numbering goes on without a gap.
void TestTransferFaults::failedDataWriteIsRetriedOnce()
{
    const QByteArray image = randomImage(400, 23);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    rig.startWithoutTimer();

    rig.tick();  // transferStart
    rig.controller->failWrite(1);
    rig.tick();  // statusReady, then data report 1: fails, sent again
    rig.controller->failWrite(2);
    rig.tick(3);

    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image).mid(0, 5));
    QCOMPARE(rig.boxes.count(), 1);
}

void TestTransferFaults::nothingSent_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logLine");  // logged once; empty: none asked

    const QString notFound = QStringLiteral("File updater is not found.\nCheck the HD free space and try again.");
    QTest::newRow("transferStart not written") << "write" << "Error HID device"
        << "Check the connections between PC and the unit and to try the update again."
        << "report is not send ret -1";
    QTest::newRow("no update file") << "missing" << "Error" << notFound << QString();
    // A file that yields fewer bytes than its size says must not be
    // announced with the digest of the part that was read. sysfs attributes
    // are such files: their size is a whole page, their content a few bytes.
    // Files cut short or failing half-way through a read (a network share,
    // a bad disk) look the same to the program.
    QTest::newRow("update file read short") << "short" << "Error" << notFound << QString();
}

// "Update Device" that cannot even start: the box, no firmware sent, and
// the window only waits for a verdict.
void TestTransferFaults::nothingSent()
{
    QFETCH(QString, fault);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(QString, logLine);
    const QString shortFile = QStringLiteral("/sys/devices/system/cpu/online");
    if (fault == QLatin1String("short")) {
#ifdef Q_OS_WIN
        QSKIP("needs a symbolic link to a Linux sysfs file (QFile::link makes a shortcut on Windows)");
#endif
        QFile probe(shortFile);
        if (!probe.open(QIODevice::ReadOnly) || probe.size() <= probe.readAll().size())
            QSKIP("no file here whose size exceeds its content");
    }
    Rig rig(unit);
    QVERIFY(rig.connect(randomImage(100, 29)));
    if (fault == QLatin1String("write"))
        rig.controller->failWrite(1);
    else if (fault == QLatin1String("missing"))
        removeUpdateFiles();
    else
        linkUpdateFile(shortFile);
    LogCapture log;

    rig.press();
    QVERIFY(rig.boxes.waitForBoxes(2));
    QCOMPARE(rig.boxes.texts().mid(1), QStringList { text });
    QCOMPARE(rig.boxes.boxes().last().title, title);
    QCOMPARE(rig.boxes.boxes().last().icon, QMessageBox::Critical);
    QVERIFY(waitForPolls(log, 3));
    QVERIFY(rig.controller->writtenReports().isEmpty());
    if (!logLine.isEmpty())
        QCOMPARE(log.lines().filter(logLine).size(), 1);
}

// No message during the data phase: the remaining writes fail quietly, the
// engine reaches the result phase and waits there.
void TestTransferFaults::unplugDuringData()
{
    const QByteArray image = randomImage(60 * 40, 31);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    LogCapture log;
    rig.controller->unplugAfterWrites(10);

    rig.press();
    QVERIFY(waitForPolls(log, 3));

    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image).mid(0, 10));
    QCOMPARE(rig.boxes.count(), 1);
    QVERIFY(rig.window->isVisible());
}

// A second press stops the transfer ("kill timer"), a third continues it
// from where it stopped: no report is sent twice and none is missing.
void TestTransferFaults::killTimerAndRestart()
{
    const QByteArray image = randomImage(60 * 300 + 5, 37);
    Rig rig(unit);
    QVERIFY(rig.connect(image));
    LogCapture log;

    rig.press();
    QVERIFY(TestLoop::waitFor([&] { return rig.controller->writtenReports().size() > 20; }));
    rig.press();
    QVERIFY(log.contains(QStringLiteral("kill timer")));
    QVERIFY(!rig.button("updateDeviceButton")->isEnabled());
    QVERIFY(!rig.button("downloadLogFile")->isEnabled());

    const int stoppedAt = rig.controller->writtenReports().size();
    TestLoop::spin(50);
    QCOMPARE(rig.controller->writtenReports().size(), stoppedAt);

    QVERIFY(rig.pressUntilQuit(30000));
    QCOMPARE(rig.controller->writtenReports(), expectedReports(unit, image));
    QCOMPARE(rig.controller->receivedImage(), image);
    // The file was read again on each press, and found every time (by its
    // absolute path: "/..." or, on Windows, "C:/...").
    QCOMPARE(rig.boxes.count(), 2);
    QCOMPARE(log.lines().filter(QRegularExpression(QStringLiteral("^file opened (/|[A-Za-z]:/)"))).size(), 3);
}

QTEST_MAIN(TestTransferFaults)
#include "tst_transferfaults.moc"

