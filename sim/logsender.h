#ifndef LOGSENDER_H
#define LOGSENDER_H

#include <QByteArray>
#include <QList>

#include <optional>

namespace HidSim {

// The controller's side of a log download: a logHeader (or logClose) on
// request, then one part per acknowledgement. Not thread-safe: its
// controller serialises the calls.
class LogSender
{
public:
    void setLog(const QByteArray &log) { this->log = log; }

    // A logRequest: starts over with the header, or logClose for an empty log.
    QByteArray request();

    // A logAck: the next part, or nothing after the last one.
    std::optional<QByteArray> acknowledge();

    // A logResend: the last reply again, or nothing if none was sent.
    std::optional<QByteArray> resend() const { return lastReply; }

    // A firmware transfer ends the session: acknowledgements get nothing.
    void abort() { pending.clear(); }

private:
    QByteArray log;
    QList<QByteArray> pending;  // parts not yet sent
    std::optional<QByteArray> lastReply;
};

} // namespace HidSim

#endif // LOGSENDER_H
