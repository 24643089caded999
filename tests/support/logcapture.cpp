#include "logcapture.h"

#include <QMutexLocker>

namespace {

QMutex mutex;
QStringList captured;
QtMessageHandler previous = nullptr;

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker locker(&mutex);
    captured.clear();
    previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

void LogCapture::handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker locker(&mutex);
    captured.append(message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&mutex);
    return captured;
}

bool LogCapture::contains(const QString &line) const
{
    return count(line) > 0;
}

int LogCapture::count(const QString &line) const
{
    QMutexLocker locker(&mutex);
    return int(captured.count(line));
}

void LogCapture::clear()
{
    QMutexLocker locker(&mutex);
    captured.clear();
}
