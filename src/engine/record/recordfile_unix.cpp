#include "record/recordfile.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The advisory lock of every appending process; released when it goes out
// of scope.
class FileLock
{
public:
    explicit FileLock(int fd) : fd(fd)
    {
        int result;
        do
            result = ::flock(fd, LOCK_EX);
        while (result != 0 && errno == EINTR);
        locked = result == 0;
    }
    ~FileLock()
    {
        if (locked)
            ::flock(fd, LOCK_UN);
    }
    const int fd;
    bool locked = false;
};

} // namespace

void RecordFile::close()
{
    if (handle >= 0)
        ::close(int(handle));
    handle = -1;
}

bool RecordFile::open(QString *error)
{
    QMutexLocker locker(&mutex);
    close();
    // Read access only to look at the last byte, under the lock.
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = systemReason(errno);
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        *error = QStringLiteral("not a regular file");
        ::close(fd);
        return false;
    }
    handle = fd;
    return true;
}

bool RecordFile::append(const QByteArray &line, QString *error)
{
    QMutexLocker locker(&mutex);
    const int fd = int(handle);
    if (fd < 0) {
        *error = QStringLiteral("not open");
        return false;
    }
    FileLock lock(fd);
    if (!lock.locked) {
        *error = systemReason(errno);
        return false;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0) {
        *error = systemReason(errno);
        return false;
    }
    QByteArray whole = line;
    char last = '\n';
    if (status.st_size > 0 && ::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n')
        whole.prepend('\n');

    ssize_t written;
    while ((written = ::write(fd, whole.constData(), size_t(whole.size()))) < 0 && errno == EINTR) {}
    const int writeError = written < 0 ? errno : ENOSPC;  // a short write: the disk is full
    if (written != whole.size()) {
        // A part of a line would be a torn line for every reader after us.
        // Should even that fail, readers skip the torn part.
        if (written > 0 && ::ftruncate(fd, status.st_size) != 0)
            qWarning("record file: a part of a line stays in %s", qPrintable(filePath));
        *error = systemReason(writeError);
        return false;
    }
    if (::fsync(fd) != 0) {
        *error = systemReason(errno);
        return false;
    }
    return true;
}
