#include "device/controllerlink.h"
#include "platform/vuzovididi.h"
#include "transfer/libraryprogressscope.h"
#include "transfer/transferengine.h"
#include "transfer/transferpackets.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

// The engine's pure parts (reports past the end of a replaced image, the
// transfer bar's values) and the closed library's stand-in with its
// progress callback: no window, no device. How whole images are cut into
// reports is checked against the simulated controllers.
class TestTransferPackets : public QObject
{
    Q_OBJECT

private slots:
    void imageShorterThanAnnounced();
    void progress_data();
    void progress();

    void libraryReadsWholeFile_data();
    void libraryReadsWholeFile();
    void libraryFailures();
    void progressCallbackOnlyDuringCall();
};

// A transfer restarted after the image was replaced by a shorter one keeps
// the announced size; the missing bytes go as zeros instead of memory past
// the image.
void TestTransferPackets::imageShorterThanAnnounced()
{
    const QByteArray image(70, 'a');
    const int announced = 200;

    const QByteArray second = TransferPackets::packet(Report::leadingHeader, image, announced, 2).report;
    QCOMPARE(second.mid(5, 60), QByteArray(10, 'a') + QByteArray(50, '\0'));

    const QByteArray third = TransferPackets::packet(Report::leadingHeader, image, announced, 3).report;
    QCOMPARE(third.mid(5, 60), QByteArray(60, '\0'));

    const TransferPackets::Packet end = TransferPackets::packet(Report::leadingHeader, image, announced, 4);
    QVERIFY(end.isEnd);
    QCOMPARE(end.report.mid(1, 2).toHex(), QByteArray("d014"));
    QCOMPARE(end.report.mid(5, 60), QByteArray(60, '\0'));
}

void TestTransferPackets::progress_data()
{
    QTest::addColumn<int>("totalSize");
    QTest::addColumn<int>("sentBefore");   // reports sent before the first listed value
    QTest::addColumn<QList<int>>("values");  // the bar before each following report

    QTest::newRow("empty image") << 0 << 0 << QList<int> { 100 };
    QTest::newRow("60 bytes") << 60 << 0 << QList<int> { 0, 100 };
    QTest::newRow("130 bytes") << 130 << 0 << QList<int> { 0, 46, 92 };
    QTest::newRow("120 bytes") << 120 << 0 << QList<int> { 0, 50, 100 };
    // Past 32 bits for reports x 6000.
    QTest::newRow("30 MB, last reports") << 30000000 << 499998 << QList<int> { 99, 99, 100 };
}

void TestTransferPackets::progress()
{
    QFETCH(int, totalSize);
    QFETCH(int, sentBefore);
    QFETCH(QList<int>, values);

    int sent = sentBefore;
    for (int value : values)
        QCOMPARE(TransferPackets::progressPercent(sent++, totalSize), value);
}

namespace {

QStringList libraryLog;
QList<QPair<int, int>> libraryProgress;
QList<Qt::HANDLE> callbackThreads;

void recordLog(const char16_t *text)
{
    libraryLog.append(QString::fromUtf16(text));
    callbackThreads.append(QThread::currentThreadId());
}

void recordProgress(int current, int total)
{
    libraryProgress.append({ current, total });
    callbackThreads.append(QThread::currentThreadId());
}

int callLibrary(const QString &path)
{
    libraryLog.clear();
    libraryProgress.clear();
    callbackThreads.clear();
    return updateThruUTP(0x3A52, 0x010C, reinterpret_cast<const char16_t *>(path.utf16()),
                         recordLog, recordProgress);
}

} // namespace

void TestTransferPackets::libraryReadsWholeFile_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("1 MiB and a bit") << 1024 * 1024 + 13;
}

void TestTransferPackets::libraryReadsWholeFile()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fïrmware é.sb"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'z'));
    file.close();

    QCOMPARE(callLibrary(path), 0);

    QVERIFY(!libraryLog.isEmpty());
    QVERIFY(!libraryProgress.isEmpty());
    QCOMPARE(libraryProgress.last(), qMakePair(100, 100));
    for (int i = 1; i < libraryProgress.size(); ++i)
        QVERIFY(libraryProgress[i].first > libraryProgress[i - 1].first);
    for (Qt::HANDLE thread : qAsConst(callbackThreads))
        QCOMPARE(thread, QThread::currentThreadId());
}

void TestTransferPackets::libraryFailures()
{
    QTemporaryDir dir;
    QVERIFY(callLibrary(dir.filePath(QStringLiteral("missing.sb"))) != 0);
    QVERIFY(!libraryLog.isEmpty());

    QVERIFY(updateThruUTP(0x3A52, 0x010C, nullptr, nullptr, nullptr) != 0);

    // A file whose reported size exceeds what it yields is not read whole.
    const QString sysfsFile = QStringLiteral("/sys/devices/system/cpu/online");
    if (QFileInfo(sysfsFile).size() > 64)
        QVERIFY(callLibrary(sysfsFile) != 0);
}

// The callback reports progress and keeps the face alive only while a
// library call runs; outside one it reports nothing and runs no events.
void TestTransferPackets::progressCallbackOnlyDuringCall()
{
    ControllerLink link;
    TransferEngine engine(&link);
    QSignalSpy progress(&engine, &TransferEngine::libraryProgress);
    bool eventRan = false;
    QTimer::singleShot(0, this, [&eventRan] { eventRan = true; });

    libraryProgressCallback(5, 10);
    QCOMPARE(progress.size(), 0);
    QVERIFY(!eventRan);

    {
        const LibraryProgressScope scope(&engine);
        libraryProgressCallback(5, 10);
    }
    libraryProgressCallback(6, 10);
    QCOMPARE(progress.size(), 1);
    QCOMPARE(progress.first(), (QVariantList{ 5, 10 }));
    QVERIFY(eventRan);
}

QTEST_GUILESS_MAIN(TestTransferPackets)
#include "tst_transferpackets.moc"
