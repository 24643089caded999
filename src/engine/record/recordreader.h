#ifndef RECORDREADER_H
#define RECORDREADER_H

#include "record/flashrecord.h"

#include <QFile>
#include <QString>

#include <optional>

// Reads a record file as a stream, a line at a time: memory does not grow
// with the file. Lines that are not records are skipped and counted: a
// last line without its LF that does not parse is a torn line (a power cut
// in mid-write); any other is foreign (another program's, or damaged).
class RecordReader
{
public:
    explicit RecordReader(const QString &path);

    // False, with the reason in *error, when the file cannot be read.
    bool open(QString *error);

    // The next record; nullopt at the end of the file.
    std::optional<FlashRecord> next();

    qint64 foreignLines() const { return foreign; }
    qint64 tornLines() const { return torn; }

    // Longer lines are no records: they are skipped without being held.
    static constexpr qint64 maxLineLength = 64 * 1024;

private:
    QFile file;
    QByteArray buffer;  // a line at a time, kept from line to line
    qint64 foreign = 0;
    qint64 torn = 0;
};

#endif // RECORDREADER_H
