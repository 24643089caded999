// Stand-in for the closed transfer library on machines that lack it: it
// reads the named file in steps, reporting progress and a few log lines as
// the real library does, and touches no device. It takes as long as the
// simulator's configuration says the device's link does.

#include "platform/vuzovididi.h"
#include "simconfig.h"

#include <QFile>
#include <QFileInfo>
#include <QString>

#include <chrono>
#include <thread>

namespace {

enum Result {
    Success = 0,
    NoPath = 1,
    NotOpened = 2,
    ShortRead = 3,
};

constexpr qint64 chunkSize = 64 * 1024;

void log(UtpLogCallback callback, const QString &text)
{
    if (callback)
        callback(reinterpret_cast<const char16_t *>(text.utf16()));
}

// Progress in percent, reported only when it moves.
class ProgressReporter
{
public:
    explicit ProgressReporter(UtpProgressCallback callback) : callback(callback) {}

    void report(qint64 done, qint64 total)
    {
        const int percent = total > 0 ? int(done * 100 / total) : 100;
        if (!callback || percent == last)
            return;
        last = percent;
        callback(percent, 100);
    }

private:
    UtpProgressCallback callback;
    int last = -1;
};

// The device's pace in the configuration file of an out-of-process run
// (libraryBytesPerSecond); 0, at once, without one.
qint64 configuredBytesPerSecond(int productId)
{
    const QString path = qEnvironmentVariable("TAVORO_HIDSIM_CONFIG");
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return 0;
    QString error;
    const auto config = HidSim::parseConfig(file.readAll(), QFileInfo(path).absolutePath(), &error);
    if (!config)
        return 0;
    for (const HidSim::ConfiguredDevice &device : config->devices) {
        if (device.description.productId == productId)
            return device.libraryBytesPerSecond;
    }
    return 0;
}

} // namespace

int updateThruUTP(int vendorId, int productId, const char16_t *filePath,
                  UtpLogCallback logCallback, UtpProgressCallback progressCallback)
{
    if (!filePath) {
        log(logCallback, QStringLiteral("UTP: no file given"));
        return NoPath;
    }

    const QString path = QString::fromUtf16(filePath);
    log(logCallback, QStringLiteral("UTP: device %1:%2, file %3")
                         .arg(vendorId, 4, 16, QLatin1Char('0'))
                         .arg(productId, 4, 16, QLatin1Char('0'))
                         .arg(path));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        log(logCallback, QStringLiteral("UTP: cannot open the file"));
        return NotOpened;
    }

    const qint64 size = file.size();
    const qint64 bytesPerSecond = configuredBytesPerSecond(productId);
    ProgressReporter progress(progressCallback);
    progress.report(0, size);

    QByteArray chunk(int(chunkSize), Qt::Uninitialized);
    qint64 done = 0;
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunkSize);
        if (got <= 0)
            break;
        done += got;
        if (bytesPerSecond > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(got * 1000 / bytesPerSecond));
        progress.report(qMin(done, size), size);
    }

    if (done != size) {
        log(logCallback, QStringLiteral("UTP: read %1 of %2 bytes").arg(done).arg(size));
        return ShortRead;
    }
    progress.report(size, size);
    log(logCallback, QStringLiteral("UTP: %1 bytes sent").arg(done));
    log(logCallback, QStringLiteral("UTP: stand-in only: nothing was moved to a controller"));
    return Success;
}
