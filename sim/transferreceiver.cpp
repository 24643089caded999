#include "transferreceiver.h"

#include <QCryptographicHash>

namespace HidSim {

namespace {

constexpr quint8 startNibble = Report::transferStart >> 4;
constexpr quint8 endNibble = Report::transferEnd >> 4;
constexpr quint8 dataNibble = Report::dataPacket >> 4;
constexpr int md5TextLength = 32;

} // namespace

TransferReceiver::TransferReceiver(Report::Layout layout, bool imageOutOfBand)
    : layout(layout), imageOutOfBand(imageOutOfBand)
{
}

bool TransferReceiver::takes(const unsigned char *payload) const
{
    const quint8 command = payload[layout.commandOffset] >> 4;
    if (command == startNibble)
        return true;
    return receiving && (command == dataNibble || command == endNibble);
}

TransferReceiver::Replies TransferReceiver::receive(const unsigned char *payload)
{
    const quint8 command = payload[layout.commandOffset] >> 4;
    if (command == startNibble)
        return start(payload);
    if (command == endNibble)
        return end(payload);
    data(payload);
    return {};
}

TransferReceiver::Replies TransferReceiver::start(const unsigned char *payload)
{
    md5Text = QByteArray(reinterpret_cast<const char *>(payload) + 1, md5TextLength);
    receivedImage.clear();
    expectedPacket = 1;
    sequenceBroken = false;
    // A refused start leaves the controller idle: it takes no data after it.
    receiving = startReply == Report::statusReady;
    return { { startReply, 0 } };
}

void TransferReceiver::data(const unsigned char *payload)
{
    const unsigned char *header = payload + layout.commandOffset;
    const quint32 packet = (quint32(header[0] & 0x0F) << 24) | (quint32(header[1]) << 16)
                           | (quint32(header[2]) << 8) | quint32(header[3]);
    // The out-of-band image never comes in data reports; a gap or repeat
    // makes the image worthless. Either is remembered for the verdict.
    if (imageOutOfBand || packet != expectedPacket)
        sequenceBroken = true;
    expectedPacket = packet + 1;
    receivedImage.append(reinterpret_cast<const char *>(payload) + layout.dataOffset,
                         Report::dataBytesPerReport);
}

TransferReceiver::Replies TransferReceiver::end(const unsigned char *payload)
{
    receiving = false;
    const unsigned char *header = payload + layout.commandOffset;
    const int count = header[1];
    if (imageOutOfBand) {
        if (count != 0)
            sequenceBroken = true;
    } else {
        const quint32 packet = (quint32(header[2]) << 8) | quint32(header[3]);
        if (packet != (expectedPacket & 0xFFFF) || count >= Report::dataBytesPerReport)
            sequenceBroken = true;
        receivedImage.append(reinterpret_cast<const char *>(payload) + layout.dataOffset,
                             qMin(count, Report::dataBytesPerReport));
    }
    return verdictReplies(verdictOverride.value_or(naturalVerdict()));
}

quint8 TransferReceiver::naturalVerdict() const
{
    if (sequenceBroken)
        return Report::statusWrongFile;
    if (imageOutOfBand)
        return Report::statusTransferComplete;
    const QByteArray digest = QCryptographicHash::hash(receivedImage, QCryptographicHash::Md5).toHex();
    return digest == md5Text ? Report::statusTransferComplete : Report::statusWrongMd5;
}

// Acceptance is statusTransferComplete at once and statusUpdateFinished once
// the image has been applied; any other verdict is a single report.
TransferReceiver::Replies TransferReceiver::verdictReplies(quint8 verdict) const
{
    if (verdict == Report::statusUpdateFinished)
        return { { Report::statusUpdateFinished, applyTimeMs } };
    if (verdict != Report::statusTransferComplete)
        return { { verdict, 0 } };
    if (!reportsTransferComplete)
        return { { Report::statusUpdateFinished, applyTimeMs } };
    return { { Report::statusTransferComplete, 0 },
             { Report::statusUpdateFinished, applyTimeMs } };
}

} // namespace HidSim
