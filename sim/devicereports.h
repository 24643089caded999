#ifndef DEVICEREPORTS_H
#define DEVICEREPORTS_H

// The input reports a controller sends, as 64-byte payloads. Pure functions,
// shared by the virtual controllers and their tests.

#include <protocol/reports.h>

#include <QByteArray>
#include <QList>

namespace HidSim {

// A firmware status report: `status` in the high nibble of the command byte
// of `layout`, everything else 0.
QByteArray statusReport(Report::Layout layout, quint8 status);

// The report a controller sends when it is opened: `version` at the version
// byte of `unitType` (payload 63 for unit types the model table lacks).
QByteArray versionReport(int unitType, quint8 version);

// The replies that carry `log`, in the order they are sent: a logHeader with
// the log's MD5 text and part count, logParts of 63 bytes and one final
// logLastPart with the remaining 0..62 bytes. An empty log is one logClose.
QList<QByteArray> logReplies(const QByteArray &log);

} // namespace HidSim

#endif // DEVICEREPORTS_H
