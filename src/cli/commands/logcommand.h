#ifndef LOGCOMMAND_H
#define LOGCOMMAND_H

#include "commands/controllercommand.h"

class QTimer;

// "log": the controller's internal log into the program directory, as the
// window's log download fetches it, and with --output a copy elsewhere.
class LogCommand : public ControllerCommand
{
    Q_OBJECT

public:
    static CommandInfo info();
    LogCommand(const FlashRequest &request, bool canAsk);
    void start() override;
    void interrupt() override;

private:
    void onLogFinished(const UpdateSession::DeviceLog &log);

    bool downloading = false;
    bool stopRequested = false;  // Ctrl+C during the download
    QTimer *stallWatchdog;
};

#endif // LOGCOMMAND_H
