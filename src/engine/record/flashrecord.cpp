#include "record/flashrecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QDateTime timeFrom(const QJsonValue &value)
{
    QDateTime time = QDateTime::fromString(value.toString(), Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

} // namespace

QString FlashRecord::timeText(const QDateTime &time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

QByteArray FlashRecord::jsonLine() const
{
    QJsonObject object {
        { QStringLiteral("started"), timeText(started) },
        { QStringLiteral("ended"), timeText(ended) },
        { QStringLiteral("station"), station },
        { QStringLiteral("model"), model },
        { QStringLiteral("unitType"), unitType },
        { QStringLiteral("paths"), QJsonArray::fromStringList(paths) },
        { QStringLiteral("outcome"), outcome },
        { QStringLiteral("exitCode"), exitCode },
        { QStringLiteral("reportsSent"), reportsSent },
        { QStringLiteral("reports"), reports },
        { QStringLiteral("seconds"), qRound(seconds * 1000) / 1000.0 },
        { QStringLiteral("version"), version },
    };
    const auto insertText = [&object](const char *key, const QString &value) {
        if (!value.isEmpty())
            object.insert(QLatin1String(key), value);
    };
    insertText("operator", operatorName);
    insertText("serial", serial);
    insertText("firmwareBefore", firmwareBefore);
    insertText("offered", offered);
    insertText("file", file);
    insertText("md5", md5);
    insertText("sha256", sha256);
    insertText("source", source);
    insertText("controller", controller);
    if (size >= 0)
        object.insert(QStringLiteral("size"), size);
    // QJsonDocument escapes quotes, backslashes and every control character.
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<FlashRecord> FlashRecord::fromJsonLine(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    FlashRecord record;
    record.started = timeFrom(object.value(QLatin1String("started")));
    record.ended = timeFrom(object.value(QLatin1String("ended")));
    record.outcome = object.value(QLatin1String("outcome")).toString();
    if (!record.started.isValid() || !record.ended.isValid() || record.outcome.isEmpty())
        return std::nullopt;
    record.station = object.value(QLatin1String("station")).toString();
    record.operatorName = object.value(QLatin1String("operator")).toString();
    record.model = object.value(QLatin1String("model")).toString();
    record.unitType = object.value(QLatin1String("unitType")).toInt(-1);
    for (const QJsonValue &path : object.value(QLatin1String("paths")).toArray())
        record.paths.append(path.toString());
    record.serial = object.value(QLatin1String("serial")).toString();
    record.firmwareBefore = object.value(QLatin1String("firmwareBefore")).toString();
    record.offered = object.value(QLatin1String("offered")).toString();
    record.file = object.value(QLatin1String("file")).toString();
    record.size = qint64(object.value(QLatin1String("size")).toDouble(-1));
    record.md5 = object.value(QLatin1String("md5")).toString();
    record.sha256 = object.value(QLatin1String("sha256")).toString();
    record.source = object.value(QLatin1String("source")).toString();
    record.exitCode = object.value(QLatin1String("exitCode")).toInt();
    record.controller = object.value(QLatin1String("controller")).toString();
    record.reportsSent = object.value(QLatin1String("reportsSent")).toInt();
    record.reports = object.value(QLatin1String("reports")).toInt();
    record.seconds = object.value(QLatin1String("seconds")).toDouble();
    record.version = object.value(QLatin1String("version")).toString();
    return record;
}

ImageDigest ImageDigest::of(const QString &path)
{
    ImageDigest digest;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return digest;
    QCryptographicHash md5(QCryptographicHash::Md5), sha256(QCryptographicHash::Sha256);
    qint64 size = 0;
    char buffer[64 * 1024];
    for (qint64 read; (read = file.read(buffer, sizeof buffer)) > 0; size += read) {
        md5.addData(buffer, int(read));
        sha256.addData(buffer, int(read));
    }
    if (!file.atEnd())
        return digest;
    digest.size = size;
    digest.md5 = QString::fromLatin1(md5.result().toHex());
    digest.sha256 = QString::fromLatin1(sha256.result().toHex());
    return digest;
}
