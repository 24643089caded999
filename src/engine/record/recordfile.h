#ifndef RECORDFILE_H
#define RECORDFILE_H

#include <QByteArray>
#include <QMutex>
#include <QString>

// The record file a station appends its attempts to, one line each. Every
// line goes in whole, with one write on a file opened for appending, under
// an exclusive advisory lock (flock; LockFileEx on Windows) so that other
// processes appending to the same file never interleave with it, and is
// flushed to the disk before append() returns. Thread-safe.
class RecordFile
{
public:
    explicit RecordFile(const QString &path);
    ~RecordFile();
    RecordFile(const RecordFile &) = delete;
    RecordFile &operator=(const RecordFile &) = delete;

    // Opens the file for appending, creating it. False, with the system's
    // reason in *error, when it cannot be: a directory, no permission, a
    // missing directory.
    bool open(QString *error);

    // Appends `line`, which ends in LF, and flushes it to the disk. A last
    // line left without its LF (a power cut in mid-write by an older
    // writer) is ended first, in the same write, so that the new line
    // stays whole. A write that fails (a full disk) leaves the file as it
    // was. False, with the reason in *error, when the line is not on the
    // disk.
    bool append(const QByteArray &line, QString *error);

    QString path() const { return filePath; }

private:
    void close();

    const QString filePath;
    QMutex mutex;         // the threads of this process; the lock is per process
    qintptr handle = -1;  // a descriptor, or a Windows HANDLE
};

#endif // RECORDFILE_H
