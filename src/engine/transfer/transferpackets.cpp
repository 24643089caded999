#include "transferpackets.h"

#include <cstring>

namespace TransferPackets {

namespace {

constexpr int slice = Report::dataBytesPerReport;

// The `count` image bytes at `offset`, zero-filled where the image ends
// early. Points into `image` when it holds them all, else into `spare`.
const char *bytesAt(const QByteArray &image, qint64 offset, int count, char *spare)
{
    if (offset + count <= image.size())
        return image.constData() + offset;
    std::memset(spare, 0, size_t(slice));
    if (offset < image.size())
        std::memcpy(spare, image.constData() + offset, size_t(image.size() - offset));
    return spare;
}

} // namespace

Packet packet(Report::Layout layout, const QByteArray &image, int totalSize, int packet)
{
    const qint64 offset = qint64(packet - 1) * slice;
    const qint64 remaining = totalSize - offset;
    char spare[slice];

    if (remaining >= slice) {
        const char *data = bytesAt(image, offset, slice, spare);
        return { Report::buildDataPacket(layout, quint32(packet), data), false };
    }
    const int count = int(qMax<qint64>(remaining, 0));
    const char *data = bytesAt(image, offset, count, spare);
    return { Report::buildTransferEnd(layout, quint32(packet), data, count), true };
}

int progressPercent(int packetsSent, int totalSize)
{
    if (totalSize <= 0)
        return 100;
    return int(qint64(packetsSent) * slice * 100 / totalSize);
}

} // namespace TransferPackets
