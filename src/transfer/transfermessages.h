#ifndef TRANSFERMESSAGES_H
#define TRANSFERMESSAGES_H

#include <QString>
#include <QtGlobal>

// Texts of the transfer's message boxes that both transfer paths show.
namespace TransferMessages {

// The "Error" text for a status with which the device refuses or abandons
// a transfer while the host waits for statusReady (statusTimeout,
// statusInternalError, statusPacketsSkipped); empty for any other status.
QString acknowledgementError(quint8 status);

} // namespace TransferMessages

#endif // TRANSFERMESSAGES_H
