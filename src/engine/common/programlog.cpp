#include "programlog.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QTextCodec>

#include <cstdio>

namespace ProgramLog {

QString fileNameFor(const QDateTime &firstMessageTime)
{
    return firstMessageTime.toString(QStringLiteral("yyyy-MM-dd_hh_mm_ss")) + QLatin1String(".log");
}

QByteArray fileLine(const QDateTime &time, const QString &message)
{
    return (time.toString(QStringLiteral("yyyy-MM-dd_hh:mm:ss")) + QLatin1String(" : ") + message)
               .toUtf8()
           + '\n';
}

QByteArray consoleLine(const QString &message)
{
    return message.toLatin1() + '\n';
}

} // namespace ProgramLog

namespace {

QMutex logMutex;

// Created on the first message and kept to the end of the process.
QFile *logFile = nullptr;

bool consoleMirror = true;

void openLogFile()
{
    const QString name = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                         + ProgramLog::fileNameFor(QDateTime::currentDateTime());
    logFile->setFileName(name);
    // Appending keeps the log of an earlier run started within the same second.
    logFile->open(QIODevice::WriteOnly | QIODevice::Append);
}

} // namespace

void ProgramLog::setConsoleMirror(bool on)
{
    QMutexLocker locker(&logMutex);
    consoleMirror = on;
}

namespace {

// What the lines of the calling thread concern, such as one controller of
// several flashed at once.
thread_local QString threadSubject;

} // namespace

void ProgramLog::setThreadSubject(const QString &subject)
{
    threadSubject = subject;
}

void logMessageHandler(QtMsgType, const QMessageLogContext &, const QString &text)
{
    const QString message = threadSubject.isEmpty() || text.isEmpty() ? text : threadSubject + QLatin1String(": ") + text;
    QMutexLocker locker(&logMutex);

    if (!logFile)
        logFile = new QFile;
    if (!logFile->isOpen())
        openLogFile();

    if (!message.isEmpty() && logFile->isOpen()) {
        logFile->write(ProgramLog::fileLine(QDateTime::currentDateTime(), message));
        logFile->flush();
    }

    if (!consoleMirror)
        return;
    const QByteArray console = ProgramLog::consoleLine(message);
    std::fwrite(console.constData(), 1, size_t(console.size()), stdout);
    std::fflush(stdout);
}

void libraryLogCallback(const char16_t *text)
{
    logMessageHandler(QtDebugMsg, QMessageLogContext(), QString::fromUtf16(text));
}
