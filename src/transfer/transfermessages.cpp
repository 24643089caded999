#include "transfermessages.h"

#include "device/reports.h"

#include <QCoreApplication>

namespace TransferMessages {

QString acknowledgementError(quint8 status)
{
    switch (status) {
    case Report::statusTimeout:
        return QCoreApplication::translate("MainWindow",
            "Transfer timeout failed.\nCheck the connections between PC and the unit and to try the update again.");
    case Report::statusInternalError:
        return QCoreApplication::translate("MainWindow", "Transfer failed.\nDevice internal error.");
    case Report::statusPacketsSkipped:
        return QCoreApplication::translate("MainWindow",
            "Transfer failed. Packets skipped.\nCheck the connections between PC and the unit and to try the update again.");
    default:
        return QString();
    }
}

} // namespace TransferMessages
