#ifndef LOGDOWNLOADER_H
#define LOGDOWNLOADER_H

#include <QByteArray>
#include <QFile>
#include <QObject>

#include <hidapi.h>

#include <atomic>

class QDateTime;

// Fetches the controller's internal log, part by part, into the device log
// file. Lives on its own worker thread; its blocking reads run there.
//
// The report buffer, the file and the I/O on the device handle belong to
// the downloader's own thread. The window calls a few operations directly
// from its thread: setDevice stores into atomics; startDownload,
// stopTransfer and dumpFile queue themselves to the downloader's thread, in
// the order they were called; stopTransfer also raises the stop flag at
// once, so that a header wait or a part read in progress gives up within a
// fraction of a second.
class LogDownloader : public QObject
{
    Q_OBJECT

public:
    // Creates the device log file ("yyyy-MM-dd_hh_mm_ss_log.enc" in the
    // program directory, named after this moment) and opens it unbuffered,
    // so that every write meets the disk at once. An existing file is never
    // opened: when one has the name, the next free of "..._ss-2_log.enc",
    // "..._ss-3_log.enc" and so on is created instead, exclusively, so that
    // downloads started in the same second, in one process or several,
    // each get a file of their own. A file that cannot be created (anything
    // but a file at the name, no permission) is reported by logFileFailed()
    // when the download finishes. `device` may be null; the handle is never
    // closed here.
    explicit LogDownloader(hid_device *device);
    ~LogDownloader() override;

    // Hands over the connected unit. Any thread.
    void setDevice(hid_device *device, int unitType);

    // The device log file's name for a given start time; `copy` above 1
    // names the further files of that second.
    static QString logFileName(const QDateTime &startTime, int copy = 1);

    // The path of this downloader's device log file. Any thread.
    QString filePath() const { return logFilePath; }

    // The progress value after `partsReceived` of `totalParts` parts, 0..100;
    // 0 while the total is unknown (no header, or a header announcing none).
    static int progressPercent(qint32 partsReceived, qint32 totalParts);

    // How long the header wait lets the controller stay without an answer
    // to the log request before it gives the download up.
    static constexpr int headerWaitLimitMs = 15000;
    // The longest single read of the header wait: the delay of a stop.
    static constexpr int headerReadSliceMs = 100;

signals:
    void logDownloadProgress(int progress);
    void needwaitLogFileMd5();
    void needreadLogPart();
    void needdataCompleted(int type);
    void needresendMessage(int type);
    // `complete`: the controller sent its whole log (or told that it has
    // none); false after a stop, a missing answer or a vanished device.
    void logDownloadFinished(bool complete);
    // Emitted just before logDownloadFinished() when the device log file
    // could not be opened or a write to it failed; `reason` is the
    // system's. The download itself runs as it would otherwise.
    void logFileFailed(QString reason);

public slots:
    void needreadLogPart2();
    // Any thread: writes the log request with `number` on the downloader's
    // thread, then waits there for the header. Without a device nothing is
    // written and the download finishes at once.
    void startDownload(int number = 2);
    // Any thread: closes the file and emits logDownloadFinished() on the
    // downloader's thread.
    void dumpFile();
    void cleanHistory();
    void checkFile();
    void resendMessage(int type);
    void dataCompleted(int type);
    void waitLogFileMd5();
    void readLogPart();
    // Any thread: raises the stop flag at once; closes the file and emits
    // logDownloadFinished() on the downloader's thread.
    void stopTransfer();
    void startTransfer();
    void process();

private:
    // Creates the file of `startTime` (see the constructor); sets logFilePath,
    // and fileError when no file could be created.
    void createLogFile(const QDateTime &startTime);
    bool onOwnThread() const;
    // Copies the 65-byte `report` into reportBuffer and writes it; false
    // when the write failed or there is no device. Sets lastResult.
    bool writeRequest(const QByteArray &report);
    // Closes the file and tells the window the download is over.
    void finish(bool complete = false);
    // Writes the whole of `bytes` to the file; the first failure, a write
    // that took only part of them included, is kept in fileError.
    void writeToFile(const QByteArray &bytes);
    bool waitInterrupted() const;

    std::atomic<hid_device *> device;
    std::atomic<int> unitType { 0 };
    unsigned char reportBuffer[65] = {};
    int lastResult = 0;
    QByteArray digestStore;
    int totalParts = 0;
    int partsReceived = 0;
    std::atomic<bool> stopRequested { false };
    QString logFilePath;  // set by the constructor only
    QFile logFile;
    QString fileError;  // the first reason the file could not be opened or written
    bool startedOver = false;  // the log was asked for again after a miscount
};

#endif // LOGDOWNLOADER_H
