#ifndef TRANSFERPACKETS_H
#define TRANSFERPACKETS_H

#include "protocol/reports.h"

#include <QByteArray>

// How a firmware image is cut into the reports that follow transferStart:
// every full 60-byte slice goes as a dataPacket, and the last report is
// always a transferEnd carrying the remaining 0..59 bytes.
namespace TransferPackets {

struct Packet
{
    QByteArray report;  // 65 bytes, report ID 0 in front
    bool isEnd;         // the report is the transferEnd
};

// Report number `packet` (1 for the first after transferStart) of an image
// of `totalSize` bytes whose bytes are `image`. Bytes that `image` lacks
// (it may have been replaced by a shorter one since the transfer was
// announced) are sent as zeros, never read past its end.
Packet packet(Report::Layout layout, const QByteArray &image, int totalSize, int packet);

// The transfer bar's value before report `packetsSent` + 1 goes out: the
// share of the image already sent, in percent. An empty image shows 100.
int progressPercent(int packetsSent, int totalSize);

} // namespace TransferPackets

#endif // TRANSFERPACKETS_H
