#ifndef FIRMWARESTORE_H
#define FIRMWARESTORE_H

#include <QByteArray>
#include <QString>

// Puts a downloaded firmware image in place of the update file and keeps
// the previous update file as the backup (".bkp"). The bytes go to a
// temporary file (".upd") first, so that the update file is only ever
// replaced by a completely written image.
class FirmwareStore
{
public:
    explicit FirmwareStore(const QString &updateFilePath);

    QString updateFilePath() const { return updatePath; }
    QString temporaryFilePath() const;
    QString backupFilePath() const;

    // Stores `image` unchanged and returns true when it is the update file.
    // On false, errorString() names the file that failed and the system's
    // reason, and the update file is what it was before: the previous
    // image, or none if there was none. Never a partial image.
    bool store(const QByteArray &image);

    QString errorString() const { return lastError; }

private:
    bool writeTemporary(const QByteArray &image);
    bool remove(const QString &path);
    bool rename(const QString &from, const QString &to);
    bool fail(const QString &path, const QString &reason);

    QString updatePath;
    QString lastError;
};

#endif // FIRMWARESTORE_H
