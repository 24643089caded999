#include "firmwarestore.h"

#include <QFile>

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

FirmwareStore::Result FirmwareStore::store(const QByteArray &image) const
{
    const QString temporary = temporaryFilePath();
    if (QFile::exists(temporary))
        QFile::remove(temporary);

    if (!writeTemporary(image)) {
        QFile::remove(temporary);
        return Result::WriteFailed;
    }

    const QString backup = backupFilePath();
    if (QFile::exists(backup))
        QFile::remove(backup);
    QFile::rename(updatePath, backup);
    QFile::rename(temporary, updatePath);
    return QFile::exists(updatePath) ? Result::Stored : Result::UpdateFileMissing;
}

// True only when every byte reached the file and it closed cleanly: a
// short write (a full disk) must never become the update file.
bool FirmwareStore::writeTemporary(const QByteArray &image) const
{
    QFile file(temporaryFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool written = file.write(image) == image.size() && file.flush();
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
