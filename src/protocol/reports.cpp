#include "reports.h"

#include "models.h"

#include <cstring>

namespace Report {

namespace {

QByteArray emptyOutputReport()
{
    return QByteArray(outputSize, '\0');
}

// Payload offset k is byte k + 1 of an output report.
char &payloadByte(QByteArray &report, int offset)
{
    return report.data()[offset + 1];
}

} // namespace

Layout layoutForUnitType(int unitType)
{
    const ModelInfo *model = modelForUnitType(unitType);
    if (model && model->layout == ReportLayout::TrailingHeader)
        return trailingHeader;
    return leadingHeader;
}

QByteArray buildTransferStart(Layout layout, const QByteArray &md5Hex)
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, layout.commandOffset) = char(transferStart);
    // The digest text sits at payload 1..32 in both layouts.
    std::memcpy(report.data() + 2, md5Hex.constData(), size_t(qMin(md5Hex.size(), 32)));
    return report;
}

QByteArray buildDataPacket(Layout layout, quint32 packet, const char *data)
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, layout.commandOffset) = char((packet >> 24) & 0x0F);
    payloadByte(report, layout.commandOffset + 1) = char((packet >> 16) & 0xFF);
    payloadByte(report, layout.commandOffset + 2) = char((packet >> 8) & 0xFF);
    payloadByte(report, layout.commandOffset + 3) = char(packet & 0xFF);
    std::memcpy(report.data() + 1 + layout.dataOffset, data, dataBytesPerReport);
    return report;
}

QByteArray buildTransferEnd(Layout layout, quint32 packet, const char *data, int count)
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, layout.commandOffset) = char(transferEnd);
    payloadByte(report, layout.commandOffset + 1) = char(count);
    payloadByte(report, layout.commandOffset + 2) = char((packet >> 8) & 0xFF);
    payloadByte(report, layout.commandOffset + 3) = char(packet & 0xFF);
    if (count > 0)
        std::memcpy(report.data() + 1 + layout.dataOffset, data, size_t(count));
    return report;
}

QByteArray buildLogRequest(Layout layout, quint8 number)
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, layout.commandOffset) = char(logRequest);
    payloadByte(report, layout.commandOffset + 1) = char(number);
    return report;
}

QByteArray buildLogAck()
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, 0) = char(logAck);
    return report;
}

QByteArray buildLogResend()
{
    QByteArray report = emptyOutputReport();
    payloadByte(report, 0) = char(logResend);
    return report;
}

quint8 statusCode(const unsigned char *payload, Layout layout)
{
    return payload[layout.commandOffset] >> 4;
}

quint8 versionByte(const unsigned char *payload, int unitType)
{
    const ModelInfo *model = modelForUnitType(unitType);
    return payload[model ? model->versionByte : payloadSize - 1];
}

LogHeaderInfo decodeLogHeader(const unsigned char *payload)
{
    LogHeaderInfo header;
    header.digest = QByteArray(reinterpret_cast<const char *>(payload) + 1, 32);
    header.parts = qint32((quint32(payload[33]) << 24) | (quint32(payload[34]) << 16)
                          | (quint32(payload[35]) << 8) | quint32(payload[36]));
    return header;
}

QByteArray logLastPartBytes(const unsigned char *payload)
{
    const int count = qMin<int>(payload[1], logLastPartMaxBytes);
    return QByteArray(reinterpret_cast<const char *>(payload) + 2, count);
}

} // namespace Report
