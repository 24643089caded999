#include "record/recordreader.h"

#include <QFileInfo>

#include <algorithm>

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
    // readLine() into one buffer: a fresh array of the longest line's size
    // for every line cost more than reading it.
    if (buffer.isEmpty())
        buffer.resize(int(maxLineLength + 1));
    char *data = buffer.data();
    while (!file.atEnd()) {
        const qint64 read = file.readLine(data, buffer.size());
        if (read < 0)
            break;
        const QByteArray line = QByteArray::fromRawData(data, int(read));
        const bool whole = line.endsWith('\n');
        if (!whole && !file.atEnd()) {
            // Too long for a record: skip to its end.
            while (!file.atEnd()) {
                const qint64 more = file.readLine(data, buffer.size());
                if (more <= 0 || data[more - 1] == '\n')
                    break;
            }
            ++foreign;
            continue;
        }
        if (std::all_of(line.cbegin(), line.cend(), [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }))
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
