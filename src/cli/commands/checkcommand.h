#ifndef CHECKCOMMAND_H
#define CHECKCOMMAND_H

#include "commands/controllercommand.h"

// "check": the window's update check for one controller, ended with an
// exit code that tells its outcome. The update command builds on it.
class CheckCommand : public ControllerCommand
{
    Q_OBJECT

public:
    static CommandInfo info();
    CheckCommand(const FlashRequest &request, bool canAsk);
    void start() override;

protected:
    // What the command does with an offer of newer firmware (`offered`, as
    // the manifest gives it) and with a hand-placed update file: check
    // reports them and ends.
    virtual void onFirmwareOffered(int offered);
    virtual void onHandPlacedFile(const QString &path);
    // Whether a check problem ends the run now: true while the check or a
    // download it started runs.
    virtual bool checking() const { return !isFinished(); }
    // Whether the run installs what the check offers.
    virtual bool installs() const { return false; }

    // The check for the connected controller.
    void startCheck();

private:
    void onFirmwareReady(const FirmwareFile &file);
};

#endif // CHECKCOMMAND_H
