#ifndef UPDATECOMMAND_H
#define UPDATECOMMAND_H

#include "commands/checkcommand.h"

#include "session/unitupdate.h"

// "update": the check, a confirmation, the download of the offered
// firmware (or the file given with --file, or the hand-placed one), then
// the update of the controller, which ends in one result: the transfer and
// the wait for the controller's verdict, which --timeout bounds.
class UpdateCommand : public CheckCommand
{
    Q_OBJECT

public:
    static CommandInfo info();
    UpdateCommand(const FlashRequest &request, bool canAsk);
    void start() override;
    void confirm(bool yes) override;
    void interrupt() override;

protected:
    void onFirmwareOffered(int offered) override;
    void onHandPlacedFile(const QString &path) override;
    bool checking() const override { return !isFinished() && stage < Stage::Transferring; }
    bool installs() const override { return true; }
    Outcome recorded(const Outcome &outcome) override;

private:
    enum class Stage { Checking, Confirming, Downloading, Transferring };

    void askToSend(const QString &question);
    void onFirmwareReady(const FirmwareFile &file);
    void startTransfer(const QString &imagePath);
    void connectUnit();

    Stage stage = Stage::Checking;
    UnitUpdate unit;
    RecordKeeper::Attempt attempt;  // what its record says
};

#endif // UPDATECOMMAND_H
