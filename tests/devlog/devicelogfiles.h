#ifndef DEVICELOGFILES_H
#define DEVICELOGFILES_H

// Helpers shared by the log download tests: the device log file in the
// program directory and the reports the simulated controller received.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QStringList>

// `size` log bytes that differ from their neighbours.
inline QByteArray patternedLog(int size)
{
    QByteArray log(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        log[i] = char(i * 7 + 3);
    return log;
}

inline QStringList deviceLogFiles()
{
    return QDir(QCoreApplication::applicationDirPath())
        .entryList({ QStringLiteral("*_log.enc") }, QDir::Files);
}

inline void removeDeviceLogFiles()
{
    const QDir dir(QCoreApplication::applicationDirPath());
    for (const QString &name : deviceLogFiles())
        QFile::remove(dir.filePath(name));
}

// The content of the one device log file, which the download must have closed.
inline QByteArray deviceLogContents()
{
    const QStringList names = deviceLogFiles();
    if (names.size() != 1)
        return QByteArray("<not one device log file>");
    QFile file(QDir(QCoreApplication::applicationDirPath()).filePath(names.first()));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// How many of the written 65-byte reports hold `code` at payload `offset`.
inline int countCode(const QList<QByteArray> &reports, quint8 code, int offset = 0)
{
    int count = 0;
    for (const QByteArray &report : reports)
        count += quint8(report.at(offset + 1)) == code;
    return count;
}

#endif // DEVICELOGFILES_H
