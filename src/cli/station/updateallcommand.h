#ifndef UPDATEALLCOMMAND_H
#define UPDATEALLCOMMAND_H

#include "station/stationcommand.h"

// "update --all": every attached controller (a pair is one), each checked
// with its model's manifest entry, confirmed once for the whole set, then
// flashed in parallel. With --file every controller must be of one model.
class UpdateAllCommand : public StationCommand
{
    Q_OBJECT

public:
    UpdateAllCommand(const FlashRequest &request, bool canAsk);
    void start() override;
    void confirm(bool yes) override;

protected:
    void onUnitEnded() override;
    void onFirmwareSettled(ModelFirmware *firmware) override;

private:
    // Once every model's firmware is checked: what each unit gets, then the
    // one confirmation.
    void plan();

    enum class Stage { Checking, Confirming, Flashing };
    Stage stage = Stage::Checking;
    bool planning = false;  // units end while planned: no summary yet
};

#endif // UPDATEALLCOMMAND_H
