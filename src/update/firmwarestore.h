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
    enum class Result {
        Stored,             // the image is the update file now
        WriteFailed,        // the temporary file could not be written; the
                            // update file and its backup are as they were
        UpdateFileMissing,  // written, but the renames left no update file
    };

    explicit FirmwareStore(const QString &updateFilePath);

    QString updateFilePath() const { return updatePath; }
    QString temporaryFilePath() const;
    QString backupFilePath() const;

    // Stores `image` unchanged. A leftover temporary file is replaced; the
    // old backup is deleted only after the new image has been written.
    Result store(const QByteArray &image) const;

private:
    bool writeTemporary(const QByteArray &image) const;

    QString updatePath;
};

#endif // FIRMWARESTORE_H
