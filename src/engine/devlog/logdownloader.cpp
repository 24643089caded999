#include "logdownloader.h"

#include "protocol/reports.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cstring>

namespace {

// Far more downloads than can start within one second.
constexpr int maxCopiesPerSecond = 1000;

} // namespace

LogDownloader::LogDownloader(hid_device *device)
    : device(device)
{
    createLogFile(QDateTime::currentDateTime());
}

LogDownloader::~LogDownloader() = default;

QString LogDownloader::logFileName(const QDateTime &startTime, int copy)
{
    const QString second = startTime.toString(QStringLiteral("yyyy-MM-dd_hh_mm_ss"));
    if (copy <= 1)
        return second + QLatin1String("_log.enc");
    return second + QLatin1Char('-') + QString::number(copy) + QLatin1String("_log.enc");
}

// Exclusive creation, not a look followed by an open: between the two,
// another run could create the same name, and one would truncate the other.
// Only a name that failed because a file has it is passed over.
void LogDownloader::createLogFile(const QDateTime &startTime)
{
    const QDir programDir(QCoreApplication::applicationDirPath());
    for (int copy = 1;; ++copy) {
        logFilePath = programDir.filePath(logFileName(startTime, copy));
        logFile.setFileName(logFilePath);
        if (logFile.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            return;
        if (!QFileInfo(logFilePath).isFile() || copy == maxCopiesPerSecond)
            break;
    }
    fileError = logFile.errorString();
    qWarning().noquote() << "Can't create the device log" << logFilePath << fileError;
}

int LogDownloader::progressPercent(qint32 partsReceived, qint32 totalParts)
{
    if (totalParts <= 0)
        return 0;
    // 64 bits: a count announced by the device may be anything.
    return int(qBound<qint64>(0, qint64(partsReceived) * 100 / totalParts, 100));
}

// Calls from other threads are queued by name: the queued call then holds
// nothing but a copy of its argument, and no object is shared between the
// two threads.
bool LogDownloader::onOwnThread() const
{
    return QThread::currentThread() == thread();
}

void LogDownloader::setDevice(hid_device *newDevice, int newUnitType)
{
    unitType = newUnitType;
    device = newDevice;
}

bool LogDownloader::writeRequest(const QByteArray &report)
{
    Q_ASSERT(report.size() == int(sizeof reportBuffer));
    std::memcpy(reportBuffer, report.constData(), sizeof reportBuffer);
    hid_device *handle = device;
    lastResult = handle ? hid_write(handle, reportBuffer, sizeof reportBuffer) : -1;
    return lastResult >= 0;
}

void LogDownloader::finish(bool complete)
{
    logFile.close();
    if (!fileError.isEmpty())
        emit logFileFailed(fileError);
    emit logDownloadFinished(complete);
}

void LogDownloader::writeToFile(const QByteArray &bytes)
{
    if (!fileError.isEmpty())
        return;
    // A disk that fills takes part of a write and reports nothing; writing
    // the rest then fails with the system's reason.
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 count = logFile.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            fileError = logFile.errorString();
            qWarning().noquote() << "Can't write the device log" << logFilePath << fileError;
            return;
        }
        written += count;
    }
}

bool LogDownloader::waitInterrupted() const
{
    // The window's destructor asks the thread to end; it waits for us.
    return stopRequested || QThread::currentThread()->isInterruptionRequested();
}

void LogDownloader::needreadLogPart2()
{
    emit needreadLogPart();
}

void LogDownloader::startDownload(int number)
{
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(this, "startDownload", Qt::QueuedConnection, Q_ARG(int, number));
        return;
    }
    // Before identification, or with a pair, there is nothing to ask.
    if (!device) {
        finish();
        return;
    }
    const Report::Layout layout = Report::layoutForUnitType(unitType);
    if (!writeRequest(Report::buildLogRequest(layout, quint8(number))))
        return;
    emit needwaitLogFileMd5();
}

void LogDownloader::dumpFile()
{
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(this, "dumpFile", Qt::QueuedConnection);
        return;
    }
    finish();
}

void LogDownloader::cleanHistory()
{
    totalParts = 0;
    partsReceived = 0;
    digestStore.clear();
}

void LogDownloader::checkFile()
{
    // A second round that does not add up either is kept as it is: asking
    // again and again would never end with a controller that miscounts.
    if (partsReceived == totalParts || startedOver) {
        if (partsReceived != totalParts)
            qDebug() << "log download kept after a second miscount: parts received" << partsReceived
                     << "of" << totalParts;
        emit needdataCompleted(1);
        finish(partsReceived == totalParts);
        return;
    }
    if (stopRequested)
        return;
    // Parts went missing or came in excess, so the bytes so far are not the
    // log the header announced. Drop them and ask for the whole log again:
    // a file holding a broken copy followed by a good one would be useless.
    startedOver = true;
    cleanHistory();
    if (fileError.isEmpty() && !logFile.resize(0))
        fileError = logFile.errorString();
    startDownload(1);
}

void LogDownloader::resendMessage(int type)
{
    if (!writeRequest(Report::buildLogResend()))
        return;
    if (type == 0)
        emit needwaitLogFileMd5();
    else if (type == 1)
        emit needreadLogPart();
}

void LogDownloader::dataCompleted(int type)
{
    if (!writeRequest(Report::buildLogAck()))
        return;
    if (type == 0)
        QTimer::singleShot(1, this, &LogDownloader::needreadLogPart2);
    else if (type == 2)
        emit needwaitLogFileMd5();
}

void LogDownloader::waitLogFileMd5()
{
    // Short reads in a loop rather than one blocking read, so that a stop or
    // the end of the program is honoured at once, and a controller that never
    // answers cannot hold the thread.
    hid_device *handle = device;
    const QDeadlineTimer giveUp(headerWaitLimitMs);
    while (!waitInterrupted()) {
        if (!handle || giveUp.hasExpired()) {
            if (handle)
                qDebug() << "log download gave up: no log header within" << headerWaitLimitMs << "ms";
            finish();
            return;
        }
        lastResult = hid_read_timeout(handle, reportBuffer, Report::payloadSize, headerReadSliceMs);
        if (lastResult < 0) {
            // The device has gone; it will not answer any more.
            finish();
            return;
        }
        if (lastResult == 0)
            continue;
        switch (reportBuffer[0]) {
        case Report::logHeader: {
            const Report::LogHeaderInfo header = Report::decodeLogHeader(reportBuffer);
            digestStore.append(header.digest);
            totalParts = header.parts;
            emit needdataCompleted(0);
            return;
        }
        case Report::logClose:
            finish(true);
            return;
        default:
            break;  // not an answer to the request
        }
    }
}

void LogDownloader::readLogPart()
{
    // Unexpected replies are answered with a resend and read again in this
    // loop, not by re-entering the slot: a controller that keeps sending
    // them must not grow the stack.
    hid_device *handle = device;
    while (!waitInterrupted()) {
        lastResult = handle ? hid_read_timeout(handle, reportBuffer, Report::payloadSize,
                                               Report::logPartReadTimeout)
                            : -1;
        if (lastResult <= 0)
            return;  // halted: no request is repeated
        switch (reportBuffer[0]) {
        case Report::logPart:
            ++partsReceived;
            writeToFile(QByteArray(reinterpret_cast<const char *>(reportBuffer) + 1, Report::logPartBytes));
            emit logDownloadProgress(progressPercent(partsReceived, totalParts));
            emit needdataCompleted(0);
            return;
        case Report::logLastPart:
            ++partsReceived;
            writeToFile(Report::logLastPartBytes(reportBuffer));
            checkFile();
            return;
        default:
            if (!writeRequest(Report::buildLogResend()))
                return;
            break;
        }
    }
}

void LogDownloader::stopTransfer()
{
    // Raised here, on the caller's thread, so that a read in progress on the
    // downloader's thread sees it before the rest of the stop arrives there.
    stopRequested = true;
    if (!onOwnThread()) {
        QMetaObject::invokeMethod(this, "stopTransfer", Qt::QueuedConnection);
        return;
    }
    finish();
}

void LogDownloader::startTransfer()
{
    stopRequested = false;
}

void LogDownloader::process()
{
}
