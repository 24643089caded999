#ifndef TRANSFERRECEIVER_H
#define TRANSFERRECEIVER_H

#include <protocol/reports.h>

#include <QByteArray>

#include <optional>
#include <vector>

namespace HidSim {

// The controller's side of a firmware transfer. It takes the host's
// transferStart, dataPacket and transferEnd payloads and says which status
// reports to send back and when. Not thread-safe: its controller serialises
// the calls.
class TransferReceiver
{
public:
    struct Reply
    {
        quint8 status;  // status nibble
        int delayMs;    // after the report that caused it
    };
    using Replies = std::vector<Reply>;

    // With `imageOutOfBand` the image travels outside the reports, as for
    // the model updated through the closed transfer library: no data
    // reports, an end report with no bytes, no digest check.
    TransferReceiver(Report::Layout layout, bool imageOutOfBand);

    void setStartReply(quint8 status) { startReply = status; }
    void setVerdict(quint8 status) { verdictOverride = status; }
    void setApplyTimeMs(int ms) { applyTimeMs = ms; }
    void setReportsTransferComplete(bool reports) { reportsTransferComplete = reports; }

    // Whether a transfer has been accepted and its end not yet received.
    bool isReceiving() const { return receiving; }

    // Whether `payload` is a firmware report for this receiver in its
    // current state: transferStart always, data and end reports only while
    // receiving.
    bool takes(const unsigned char *payload) const;

    // Handles a payload for which takes() holds.
    Replies receive(const unsigned char *payload);

    QByteArray image() const { return receivedImage; }
    QByteArray announcedMd5() const { return md5Text; }

private:
    Replies start(const unsigned char *payload);
    void data(const unsigned char *payload);
    Replies end(const unsigned char *payload);
    quint8 naturalVerdict() const;
    Replies verdictReplies(quint8 verdict) const;

    Report::Layout layout;
    bool imageOutOfBand;
    quint8 startReply = Report::statusReady;
    std::optional<quint8> verdictOverride;
    int applyTimeMs = 0;
    bool reportsTransferComplete = true;

    bool receiving = false;
    bool sequenceBroken = false;
    quint32 expectedPacket = 1;
    QByteArray receivedImage;
    QByteArray md5Text;
};

} // namespace HidSim

#endif // TRANSFERRECEIVER_H
