#include "record/recordfile.h"

#include <QDir>

#include <windows.h>

namespace {

QString systemReason(DWORD error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString reason = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return reason;
}

// The lock every appending process takes over the whole file; released
// when it goes out of scope.
class FileLock
{
public:
    explicit FileLock(HANDLE file) : file(file)
    {
        OVERLAPPED whole = {};
        locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
    }
    ~FileLock()
    {
        OVERLAPPED whole = {};
        if (locked)
            UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
    }
    const HANDLE file;
    bool locked = false;
};

HANDLE handleOf(qintptr handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

void RecordFile::close()
{
    if (handle != -1)
        CloseHandle(handleOf(handle));
    handle = -1;
}

bool RecordFile::open(QString *error)
{
    QMutexLocker locker(&mutex);
    close();
    const std::wstring native = QDir::toNativeSeparators(filePath).toStdWString();
    const HANDLE file = CreateFileW(native.c_str(), FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD reason = GetLastError();
        // Windows refuses a directory as "Access denied": say what it is.
        const DWORD attributes = GetFileAttributesW(native.c_str());
        const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        *error = directory ? QStringLiteral("Is a directory") : systemReason(reason);
        return false;
    }
    if (GetFileType(file) != FILE_TYPE_DISK) {
        *error = QStringLiteral("not a regular file");
        CloseHandle(file);
        return false;
    }
    handle = reinterpret_cast<qintptr>(file);
    return true;
}

bool RecordFile::append(const QByteArray &line, QString *error)
{
    QMutexLocker locker(&mutex);
    if (handle == -1) {
        *error = QStringLiteral("not open");
        return false;
    }
    const HANDLE file = handleOf(handle);
    FileLock lock(file);
    if (!lock.locked) {
        *error = systemReason(GetLastError());
        return false;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) {
        *error = systemReason(GetLastError());
        return false;
    }
    QByteArray whole = line;
    if (size.QuadPart > 0) {
        char last = '\n';
        DWORD read = 0;
        OVERLAPPED at = {};
        at.Offset = DWORD(size.QuadPart - 1);
        at.OffsetHigh = DWORD((size.QuadPart - 1) >> 32);
        if (ReadFile(file, &last, 1, &read, &at) && read == 1 && last != '\n')
            whole.prepend('\n');
    }

    // An offset of all ones writes at the end of the file.
    OVERLAPPED end = {};
    end.Offset = MAXDWORD;
    end.OffsetHigh = MAXDWORD;
    DWORD written = 0;
    const bool wrote = WriteFile(file, whole.constData(), DWORD(whole.size()), &written, &end) != 0;
    if (!wrote || written != DWORD(whole.size())) {
        const DWORD writeError = wrote ? ERROR_DISK_FULL : GetLastError();
        // A part of a line would be a torn line for every reader after us.
        FILE_END_OF_FILE_INFO before;
        before.EndOfFile = size;
        SetFileInformationByHandle(file, FileEndOfFileInfo, &before, sizeof before);
        *error = systemReason(writeError);
        return false;
    }
    if (!FlushFileBuffers(file)) {
        *error = systemReason(GetLastError());
        return false;
    }
    return true;
}
