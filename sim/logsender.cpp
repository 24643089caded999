#include "logsender.h"

#include "devicereports.h"

namespace HidSim {

QByteArray LogSender::request()
{
    pending = logReplies(log);
    lastReply = pending.takeFirst();
    return *lastReply;
}

std::optional<QByteArray> LogSender::acknowledge()
{
    if (pending.isEmpty())
        return std::nullopt;
    lastReply = pending.takeFirst();
    return lastReply;
}

} // namespace HidSim
