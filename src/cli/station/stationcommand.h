#ifndef STATIONCOMMAND_H
#define STATIONCOMMAND_H

#include "commands/command.h"

#include "session/unitupdate.h"
#include "update/modelfirmware.h"

#include <QDateTime>
#include <QElapsedTimer>
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
        QString name;                   // "MODEL SERIAL PATH"; without a serial number "MODEL PATH"
        std::optional<quint8> version;  // as read when it was found
        std::unique_ptr<UnitUpdate> runner;  // on a thread of its own
        std::optional<Outcome> outcome;  // set when the unit has ended
        QDateTime found;                // when the attempt began
        std::optional<int> offered;     // the version it was sent
        QString imagePath;              // the image it was sent
        std::optional<UpdateResult> result;
    };

    // A controller found attached: shown, and opened once to read its
    // version. Null when it could not be opened; it has then ended.
    Unit *addUnit(const ControllerEntry &entry);
    // A new attempt at the controller of `earlier`, as it was found.
    Unit *addAttempt(const Unit &earlier);
    // True for a MOSS controller while another is attached among `entries`:
    // the closed library is told only the model, not which one to flash.
    static bool mossNotAlone(const ControllerEntry &entry, const QList<ControllerEntry> &entries);
    // The firmware of the unit's manifest entry, made on first use.
    ModelFirmware *firmwareFor(const Unit &unit);
    // The units not yet ended and not yet started.
    QList<Unit *> waitingUnits() const;
    // The units not yet ended, started or not.
    QList<Unit *> unitsNotEnded() const;
    // Every unit, in the order found.
    QList<Unit *> allUnits() const;

    void startUnit(Unit *unit, const QString &firmwarePath);
    // Records the unit's end, then shows its result. A record that cannot
    // be written stops the station taking units: waiting ones end unstarted,
    // running ones finish, and the run ends with exit 21.
    void endUnit(Unit *unit, const Outcome &outcome);
    // Called after a unit has ended; the station may finish.
    virtual void onUnitEnded() = 0;
    // Called once when the record could not be written, after the waiting
    // units have ended.
    virtual void onRecordFailed() {}
    // Called when `firmware` was checked, is ready or has failed.
    virtual void onFirmwareSettled(ModelFirmware *firmware) = 0;
    // The units that wait for `firmware`.
    QList<Unit *> waitingFor(const ModelFirmware *firmware) const;
    int unitsInProgress() const;
    StationTally tally() const;
    // Ended units (checks on re-plug aside) per hour while units were open.
    double unitsPerHour() const;
    // The last line: the counts by outcome, and the exit code.
    void finishStation();

    bool stopping = false;  // Ctrl+C, or the record failed: no new units
    bool interrupted = false;  // Ctrl+C
    std::optional<Outcome> recordProblem;  // the record could not be written

private:
    void showUnitEvent(const Unit &unit, const FlashEvent &event);
    // False when the record could not be written (then recordProblem says why).
    bool writeRecord(const Unit &unit);

    Unit *adopt(std::unique_ptr<Unit> unit);

    std::vector<std::unique_ptr<Unit>> units;
    int unitsOpen = 0;              // found and not yet ended
    QElapsedTimer busyClock;        // runs while a unit is open
    qint64 busyMs = 0;              // closed spells of units open
    bool endingMany = false;  // interrupt() ends the waiting units: one summary after them
    QHash<QString, ModelFirmware *> firmwares;  // by manifest key
};

#endif // STATIONCOMMAND_H
