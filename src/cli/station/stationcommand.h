#ifndef STATIONCOMMAND_H
#define STATIONCOMMAND_H

#include "commands/command.h"

#include "session/unitupdate.h"
#include "update/modelfirmware.h"

#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

// A flashing station: many controllers, each with the firmware its own
// model is offered (downloaded once per model and version), each flashed
// in parallel on a thread of its own. Every line names its unit; every
// unit ends with one result, and the run with a summary whose exit code
// is the most serious unit's. The two station commands, update --all and
// watch, differ in how units arrive.
class StationCommand : public Command
{
    Q_OBJECT

public:
    // Ctrl+C: no new unit is taken; each unit in mid-transfer stops at its
    // next safe point and says what state its controller is in.
    void interrupt() override;

protected:
    StationCommand(const FlashRequest &request, bool canAsk);
    ~StationCommand() override;

    struct Unit
    {
        ControllerEntry entry;
        QString name;                   // "MODEL PATH"
        std::optional<quint8> version;  // as read when it was found
        std::unique_ptr<UnitUpdate> runner;  // on a thread of its own
        std::optional<Outcome> outcome;  // set when the unit has ended
    };

    // A controller found attached: shown, and opened once to read its
    // version. Null when it could not be opened; it has then ended.
    Unit *addUnit(const ControllerEntry &entry);
    // True for a MOSS controller while another is attached among `entries`:
    // the closed library is told only the model, not which one to flash.
    static bool mossNotAlone(const ControllerEntry &entry, const QList<ControllerEntry> &entries);
    // The firmware of the unit's manifest entry, made on first use.
    ModelFirmware *firmwareFor(const Unit &unit);
    // The units not yet ended and not yet started.
    QList<Unit *> waitingUnits() const;
    // The units not yet ended, started or not.
    QList<Unit *> unitsNotEnded() const;

    void startUnit(Unit *unit, const QString &firmwarePath);
    void endUnit(Unit *unit, const Outcome &outcome);
    // Called after a unit has ended; the station may finish.
    virtual void onUnitEnded() = 0;
    // Called when `firmware` was checked, is ready or has failed.
    virtual void onFirmwareSettled(ModelFirmware *firmware) = 0;
    // The units that wait for `firmware`.
    QList<Unit *> waitingFor(const ModelFirmware *firmware) const;
    int unitsInProgress() const;
    StationTally tally() const;
    // The last line: the counts by outcome, and the exit code.
    void finishStation();

    bool stopping = false;  // Ctrl+C: no new units

private:
    void showUnitEvent(const Unit &unit, const FlashEvent &event);

    std::vector<std::unique_ptr<Unit>> units;
    bool endingMany = false;  // interrupt() ends the waiting units: one summary after them
    QHash<QString, ModelFirmware *> firmwares;  // by manifest key
};

#endif // STATIONCOMMAND_H
