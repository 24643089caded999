#include "devicereports.h"

#include <protocol/models.h>

#include <QCryptographicHash>

#include <cstring>

namespace HidSim {

namespace {

QByteArray emptyPayload()
{
    return QByteArray(Report::payloadSize, '\0');
}

} // namespace

QByteArray statusReport(Report::Layout layout, quint8 status)
{
    QByteArray payload = emptyPayload();
    payload[layout.commandOffset] = char(status << 4);
    return payload;
}

QByteArray versionReport(int unitType, quint8 version)
{
    const ModelInfo *model = modelForUnitType(unitType);
    QByteArray payload = emptyPayload();
    payload[model ? model->versionByte : Report::payloadSize - 1] = char(version);
    return payload;
}

QList<QByteArray> logReplies(const QByteArray &log)
{
    QList<QByteArray> replies;
    if (log.isEmpty()) {
        QByteArray close = emptyPayload();
        close[0] = char(Report::logClose);
        replies.append(close);
        return replies;
    }

    // The last part holds at most 62 bytes, so a log that fills its last
    // 63-byte part exactly still ends with an empty logLastPart.
    const int fullParts = log.size() / Report::logPartBytes;
    const quint32 partCount = quint32(fullParts) + 1;

    QByteArray header = emptyPayload();
    header[0] = char(Report::logHeader);
    const QByteArray digest = QCryptographicHash::hash(log, QCryptographicHash::Md5).toHex();
    std::memcpy(header.data() + 1, digest.constData(), 32);
    header[33] = char(partCount >> 24);
    header[34] = char(partCount >> 16);
    header[35] = char(partCount >> 8);
    header[36] = char(partCount);
    replies.append(header);

    for (int part = 0; part < fullParts; ++part) {
        QByteArray reply = emptyPayload();
        reply[0] = char(Report::logPart);
        std::memcpy(reply.data() + 1, log.constData() + part * Report::logPartBytes,
                    Report::logPartBytes);
        replies.append(reply);
    }

    const int rest = log.size() - fullParts * Report::logPartBytes;
    QByteArray last = emptyPayload();
    last[0] = char(Report::logLastPart);
    last[1] = char(rest);
    std::memcpy(last.data() + 2, log.constData() + fullParts * Report::logPartBytes, size_t(rest));
    replies.append(last);
    return replies;
}

} // namespace HidSim
