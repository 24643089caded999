#include "firmwarestore.h"

#include <QFile>
#include <QFileInfo>

FirmwareStore::FirmwareStore(const QString &updateFilePath)
    : updatePath(updateFilePath)
{
}

QString FirmwareStore::temporaryFilePath() const
{
    return updatePath + QLatin1String(".upd");
}

QString FirmwareStore::backupFilePath() const
{
    return updatePath + QLatin1String(".bkp");
}

// Every step is checked, and a failed step undoes the ones before it, so
// that "Update Device" never sends a stale image believing it new.
bool FirmwareStore::store(const QByteArray &image)
{
    lastError.clear();
    const QString temporary = temporaryFilePath();
    if (!remove(temporary) || !writeTemporary(image)) {
        QFile::remove(temporary);
        return false;
    }

    const QString backup = backupFilePath();
    const bool hadUpdateFile = QFileInfo::exists(updatePath);
    if (!remove(backup) || (hadUpdateFile && !rename(updatePath, backup))) {
        QFile::remove(temporary);
        return false;
    }
    if (!rename(temporary, updatePath)) {
        QFile::remove(temporary);
        if (hadUpdateFile)
            QFile::rename(backup, updatePath);
        return false;
    }
    return true;
}

// True only when every byte reached the file and it closed cleanly: a
// short write (a full disk) must never become the update file.
bool FirmwareStore::writeTemporary(const QByteArray &image)
{
    QFile file(temporaryFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(file.fileName(), file.errorString());
    const bool written = file.write(image) == image.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError)
        return fail(file.fileName(), file.errorString());
    return true;
}

// Removing a file that is not there succeeds.
bool FirmwareStore::remove(const QString &path)
{
    QFile file(path);
    if (!QFileInfo::exists(path) || file.remove())
        return true;
    return fail(path, file.errorString());
}

bool FirmwareStore::rename(const QString &from, const QString &to)
{
    QFile file(from);
    if (file.rename(to))
        return true;
    return fail(from, file.errorString());
}

bool FirmwareStore::fail(const QString &path, const QString &reason)
{
    lastError = QStringLiteral("\"%1\": %2").arg(path, reason);
    return false;
}
