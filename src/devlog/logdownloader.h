#ifndef LOGDOWNLOADER_H
#define LOGDOWNLOADER_H

#include <QByteArray>
#include <QFile>
#include <QObject>

#include <hidapi.h>

// Fetches the controller's internal log, part by part, into the device log
// file. Lives on its own worker thread; its blocking reads run there.
class LogDownloader : public QObject
{
    Q_OBJECT

public:
    explicit LogDownloader(hid_device *device);
    ~LogDownloader() override;

    void setDevice(hid_device *device, int unitType);

signals:
    void logDownloadProgress(int progress);
    void needwaitLogFileMd5();
    void needreadLogPart();
    void needdataCompleted(int type);
    void needresendMessage(int type);
    void logDownloadFinished();

public slots:
    void needreadLogPart2();
    void startDownload(int number = 2);
    void dumpFile();
    void cleanHistory();
    void checkFile();
    void resendMessage(int type);
    void dataCompleted(int type);
    void waitLogFileMd5();
    void readLogPart();
    void stopTransfer();
    void startTransfer();
    void process();

private:
    hid_device *device;
    int unitType = 0;
    unsigned char reportBuffer[65] = {};
    int lastResult = 0;
    QByteArray digestStore;
    int totalParts = 0;
    int partsReceived = 0;
    bool stopRequested = false;
    QFile logFile;
};

#endif // LOGDOWNLOADER_H
