#include "record/recordreader.h"

#include <QFileInfo>

RecordReader::RecordReader(const QString &path)
    : file(path)
{
}

bool RecordReader::open(QString *error)
{
    if (QFileInfo(file.fileName()).isDir()) {
        *error = QStringLiteral("is a directory");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    return true;
}

std::optional<FlashRecord> RecordReader::next()
{
    while (!file.atEnd()) {
        QByteArray line = file.readLine(maxLineLength + 1);
        const bool whole = line.endsWith('\n');
        if (!whole && !file.atEnd()) {
            // Too long for a record: skip to its end.
            while (!file.atEnd() && !file.readLine(maxLineLength + 1).endsWith('\n')) {}
            ++foreign;
            continue;
        }
        if (line.trimmed().isEmpty())
            continue;
        if (std::optional<FlashRecord> record = FlashRecord::fromJsonLine(line))
            return record;
        if (!whole && file.atEnd())
            ++torn;
        else
            ++foreign;
    }
    return std::nullopt;
}
