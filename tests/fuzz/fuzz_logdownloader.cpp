// libFuzzer target: the log downloader's handling of whatever the
// controller replies.
//
// Input: byte 0 picks the unit type (modulo 18), byte 1 the write that
// fails (1 = the log request, 2 = the next write, ...; 0: none fails); the
// rest is cut into 64-byte replies (the last one zero-padded), at most 64,
// which a silent simulated controller sends in that order. The downloader
// lives on this thread and is driven step by step the way the window's
// wiring drives it: each header wait, part read and acknowledgement it asks
// for is run here, one at a time, until it finishes or asks for nothing.

#include "protocol/models.h"
#include "protocol/reports.h"
#include "devlog/logdownloader.h"

#include <hidsim.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int __real_hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int milliseconds);

// Every reply is queued before the download starts, so a read that finds
// none finds the device with nothing more to say. A real read would wait
// out its time-out (15 s in all for the header wait); a device that has gone
// ends every wait at once, so that is what the harness makes of it.
extern "C" int __wrap_hid_read_timeout(hid_device *dev, unsigned char *data, size_t length, int)
{
    const int result = __real_hid_read_timeout(dev, data, length, 0);
    return result == 0 ? -1 : result;
}

namespace {

constexpr int maxReplies = 64;
// Each step but an acknowledgement reads a reply or ends the download, and
// acknowledgements alternate with reads: more steps than this is a loop.
constexpr int maxSteps = 2 * maxReplies + 8;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Removes the device log files a downloader created between `from` and `to`.
void removeDeviceLogFiles(const QDateTime &from, const QDateTime &to)
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (QDateTime second = from.addMSecs(-from.time().msec()); second <= to; second = second.addSecs(1))
        QFile::remove(programDir.filePath(LogDownloader::logFileName(second)));
}

// Each written acknowledgement of a part starts a 1 ms single-shot timer,
// which the driver stands in for. Those still pending belong to the event
// dispatcher until they fire into a receiver that is gone; dropping them at
// once lets every input free what it allocated, which keeps libFuzzer's
// per-input leak check from scanning the heap after each one.
void dropPendingSingleShotTimers()
{
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    const QObjectList children = dispatcher ? dispatcher->children() : QObjectList();
    for (QObject *child : children) {
        if (child->inherits("QSingleShotTimer"))
            delete child;
    }
}

class Driver
{
public:
    explicit Driver(LogDownloader &downloader) : downloader(downloader)
    {
        QObject::connect(&downloader, &LogDownloader::needwaitLogFileMd5, [this] { next = Step::WaitHeader; });
        QObject::connect(&downloader, &LogDownloader::needreadLogPart, [this] { next = Step::ReadPart; });
        QObject::connect(&downloader, &LogDownloader::needdataCompleted, [this](int type) { pendingAck = type; });
        QObject::connect(&downloader, &LogDownloader::logDownloadFinished, [this] { finished = true; });
        QObject::connect(&downloader, &LogDownloader::logDownloadProgress,
                         [](int progress) { check(progress >= 0 && progress <= 100); });
    }

    // Runs the download until it finishes or halts; `controller` is the
    // device the downloader talks to.
    void run(const HidSim::Controller &controller)
    {
        downloader.startDownload(1);
        for (int step = 0; !finished; ++step) {
            check(step < maxSteps);
            // A request the downloader emits on its own thread runs at once;
            // acknowledgements go the long way through the window first.
            if (next != Step::None) {
                const Step current = next;
                next = Step::None;
                if (current == Step::WaitHeader)
                    downloader.waitLogFileMd5();
                else
                    downloader.readLogPart();
            } else if (pendingAck >= 0) {
                const int type = pendingAck;
                pendingAck = -1;
                const int writtenBefore = controller->writtenReports().size();
                downloader.dataCompleted(type);
                // In place of the 1 ms timer that a written acknowledgement
                // of a part starts.
                if (type == 0 && controller->writtenReports().size() > writtenBefore)
                    downloader.needreadLogPart2();
            } else {
                return;  // halted: it waits for a stop
            }
        }
    }

private:
    enum class Step { None, WaitHeader, ReadPart };

    LogDownloader &downloader;
    Step next = Step::None;
    int pendingAck = -1;
    bool finished = false;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Debug and warning output of the code under test would bury the
    // fuzzer's own.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        if (type == QtFatalMsg) {
            fprintf(stderr, "%s\n", qPrintable(message));
            std::abort();
        }
    });
    static QCoreApplication application(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int unitType = data[0] % unitTypeCount;
    const int failingWrite = data[1];

    HidSim::reset();
    const HidSim::Controller controller = HidSim::attachModel(unitType);
    controller->setSilent(true);
    hid_device *handle = hid_open_path(controller->path().c_str());
    check(handle != nullptr);
    if (failingWrite > 0)
        controller->failWrite(failingWrite);
    for (size_t offset = 2, replies = 0; offset < size && replies < maxReplies; offset += Report::payloadSize, ++replies)
        controller->queueInputReport(QByteArray(reinterpret_cast<const char *>(data) + offset,
                                                int(qMin(size - offset, size_t(Report::payloadSize)))));

    const QDateTime created = QDateTime::currentDateTime();
    {
        LogDownloader downloader(nullptr);
        downloader.setDevice(handle, unitType);
        Driver driver(downloader);
        driver.run(controller);
    }
    removeDeviceLogFiles(created, QDateTime::currentDateTime());
    hid_close(handle);
    HidSim::reset();
    dropPendingSingleShotTimers();
    return 0;
}
