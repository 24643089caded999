// libFuzzer target: the report decoders over arbitrary input reports, and
// the report builders over arbitrary packet numbers, counts and contents.
//
// Input: bytes 0..63 are an input report's payload (zero-padded when the
// input is shorter). The bytes after it, when present, give the builders'
// arguments: a unit type (4 bytes, big-endian, any value), a packet number
// (4 bytes), the end report's count (one byte, taken modulo 60: the end
// report carries 0..59 image bytes), a log request number (one byte), an
// image size as announced (4 bytes, any value), and the rest: the digest
// text of a start report, of any length, and also the image whose report
// with the packet number above the transfer cuts.

#include "protocol/models.h"
#include "protocol/reports.h"
#include "transfer/transferpackets.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Reads past the given size land outside the allocation, where the address
// sanitizer sees them.
std::unique_ptr<unsigned char[]> exactCopy(const uint8_t *data, size_t available, size_t size)
{
    auto copy = std::make_unique<unsigned char[]>(size);
    std::memcpy(copy.get(), data, available < size ? available : size);
    return copy;
}

quint32 bigEndian32(const uint8_t *bytes)
{
    return quint32(bytes[0]) << 24 | quint32(bytes[1]) << 16 | quint32(bytes[2]) << 8 | quint32(bytes[3]);
}

quint8 payloadByte(const QByteArray &report, int offset)
{
    return quint8(report.at(offset + 1));
}

bool holds(const QByteArray &report, int payloadOffset, const void *bytes, int count)
{
    return std::memcmp(report.constData() + 1 + payloadOffset, bytes, size_t(count)) == 0;
}

void decode(const unsigned char *payload)
{
    for (const Report::Layout layout : { Report::leadingHeader, Report::trailingHeader })
        check(Report::statusCode(payload, layout) == payload[layout.commandOffset] >> 4);

    for (int unitType = -1; unitType <= unitTypeCount; ++unitType) {
        const quint8 version = Report::versionByte(payload, unitType);
        check(version == payload[Report::payloadSize - 1] || version == payload[Report::payloadSize - 2]);
    }

    const Report::LogHeaderInfo header = Report::decodeLogHeader(payload);
    check(header.digest.size() == 32 && std::memcmp(header.digest.constData(), payload + 1, 32) == 0);
    check(quint32(header.parts) == bigEndian32(payload + 33));

    const QByteArray lastBytes = Report::logLastPartBytes(payload);
    check(lastBytes.size() == qMin<int>(payload[1], Report::logLastPartMaxBytes));
    check(std::memcmp(lastBytes.constData(), payload + 2, size_t(lastBytes.size())) == 0);
}

// Report `packet` of an image announced as `totalSize` bytes whose bytes
// are `image`: an image that shrank or grew since it was announced included.
// Packet numbers start at 1.
void slice(Report::Layout layout, const QByteArray &image, int totalSize, quint32 rawPacket)
{
    const int packet = int(rawPacket % quint32(std::numeric_limits<int>::max())) + 1;
    const TransferPackets::Packet made = TransferPackets::packet(layout, image, totalSize, packet);
    check(made.report.size() == Report::outputSize && made.report.at(0) == 0);

    const qint64 offset = qint64(packet - 1) * Report::dataBytesPerReport;
    const qint64 remaining = totalSize - offset;
    check(made.isEnd == (remaining < Report::dataBytesPerReport));
    const int count = made.isEnd ? int(qMax<qint64>(remaining, 0)) : Report::dataBytesPerReport;
    check(payloadByte(made.report, layout.commandOffset) == (made.isEnd ? Report::transferEnd : ((packet >> 24) & 0x0F)));
    for (int i = 0; i < count; ++i) {
        const qint64 at = offset + i;
        const char expected = at < image.size() ? image.at(int(at)) : '\0';
        check(made.report.at(1 + layout.dataOffset + i) == expected);
    }
}

void build(const uint8_t *arguments, size_t size, const unsigned char *payload)
{
    constexpr size_t fixedBytes = 4 + 4 + 1 + 1 + 4;
    if (size < fixedBytes)
        return;
    const int unitType = int(qint32(bigEndian32(arguments)));
    const quint32 packet = bigEndian32(arguments + 4);
    const int endCount = arguments[8] % Report::dataBytesPerReport;
    const quint8 logNumber = arguments[9];
    const int announcedSize = int(qint32(bigEndian32(arguments + 10)));
    const QByteArray md5Text(reinterpret_cast<const char *>(arguments) + fixedBytes, int(size - fixedBytes));

    const Report::Layout layout = Report::layoutForUnitType(unitType);
    const bool trailing = unitType >= 12 && unitType < unitTypeCount;
    check(layout.commandOffset == (trailing ? Report::trailingHeader : Report::leadingHeader).commandOffset);
    const int command = layout.commandOffset;

    const auto image = exactCopy(payload, Report::payloadSize, Report::dataBytesPerReport);
    const char *imageBytes = reinterpret_cast<const char *>(image.get());

    const QByteArray start = Report::buildTransferStart(layout, md5Text);
    check(start.size() == Report::outputSize && start.at(0) == 0);
    check(payloadByte(start, command) == Report::transferStart);
    check(holds(start, 1, md5Text.constData(), qMin(md5Text.size(), 32)));

    const QByteArray dataReport = Report::buildDataPacket(layout, packet, imageBytes);
    check(dataReport.size() == Report::outputSize && dataReport.at(0) == 0);
    check((quint32(payloadByte(dataReport, command)) << 24 | quint32(payloadByte(dataReport, command + 1)) << 16
           | quint32(payloadByte(dataReport, command + 2)) << 8 | payloadByte(dataReport, command + 3))
          == (packet & 0x0FFFFFFF));
    check(holds(dataReport, layout.dataOffset, imageBytes, Report::dataBytesPerReport));

    const auto tail = exactCopy(payload, Report::payloadSize, size_t(qMax(endCount, 1)));
    const QByteArray end = Report::buildTransferEnd(layout, packet, endCount ? reinterpret_cast<const char *>(tail.get()) : nullptr, endCount);
    check(end.size() == Report::outputSize && end.at(0) == 0);
    check(payloadByte(end, command) == Report::transferEnd && payloadByte(end, command + 1) == endCount);
    check((payloadByte(end, command + 2) << 8 | payloadByte(end, command + 3)) == int(packet & 0xFFFF));
    check(holds(end, layout.dataOffset, tail.get(), endCount));

    const QByteArray request = Report::buildLogRequest(layout, logNumber);
    check(request.size() == Report::outputSize && request.at(0) == 0);
    check(payloadByte(request, command) == Report::logRequest && payloadByte(request, command + 1) == logNumber);
    check(request.count('\0') >= Report::outputSize - 2);

    slice(layout, md5Text, announcedSize, packet);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto payload = exactCopy(data, size, Report::payloadSize);
    decode(payload.get());
    if (size > size_t(Report::payloadSize))
        build(data + Report::payloadSize, size - Report::payloadSize, payload.get());
    return 0;
}
