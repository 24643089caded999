#include "station/updateallcommand.h"


#include "update/manifest.h"

#include <QSet>

UpdateAllCommand::UpdateAllCommand(const FlashRequest &request, bool canAsk)
    : StationCommand(request, canAsk)
{
}

void UpdateAllCommand::start()
{
    if (refusedToFlash(true) || !openRecord())
        return;
    const QList<ControllerEntry> entries = UpdateSession::attachedControllers();
    if (entries.isEmpty()) {
        finish(Outcomes::noController());
        return;
    }
    QSet<int> models;
    for (const ControllerEntry &entry : entries)
        models.insert(entry.unitType);
    if (!request.file.isEmpty() && models.size() > 1) {
        showControllers(entries);
        finish(Outcomes::severalModels(request.file));
        return;
    }

    planning = true;
    QHash<ModelFirmware *, quint8> oldest;
    for (const ControllerEntry &entry : entries) {
        Unit *unit = addUnit(entry);
        if (!unit)
            continue;
        if (mossNotAlone(entry, entries)) {
            endUnit(unit, Outcomes::mossNotAlone());
            continue;
        }
        ModelFirmware *firmware = firmwareFor(*unit);
        const quint8 version = unit->version.value_or(0);
        oldest[firmware] = oldest.contains(firmware) ? qMin(oldest[firmware], version) : version;
    }
    planning = false;
    if (oldest.isEmpty()) {
        finishStation();
        return;
    }
    for (auto firmware = oldest.cbegin(); firmware != oldest.cend(); ++firmware) {
        if (request.file.isEmpty())
            firmware.key()->check(firmware.value());
        else
            firmware.key()->useFile(request.file);
    }
}

void UpdateAllCommand::onFirmwareSettled(ModelFirmware *firmware)
{
    if (isFinished())
        return;
    switch (stage) {
    case Stage::Checking:
        for (Unit *unit : waitingUnits()) {
            const ModelFirmware::State state = firmwareFor(*unit)->state();
            if (state == ModelFirmware::State::Unchecked || state == ModelFirmware::State::Checking)
                return;
        }
        plan();
        return;
    case Stage::Confirming:
        return;
    case Stage::Flashing:
        for (Unit *unit : waitingFor(firmware)) {
            if (firmware->state() == ModelFirmware::State::Ready)
                startUnit(unit, firmware->path());
            else if (firmware->state() == ModelFirmware::State::Failed)
                endUnit(unit, Outcomes::firmwareFailed(firmware->failure()));
        }
        return;
    }
}

void UpdateAllCommand::plan()
{
    planning = true;
    int toFlash = 0;
    for (Unit *unit : waitingUnits()) {
        ModelFirmware *firmware = firmwareFor(*unit);
        if (firmware->state() == ModelFirmware::State::Failed) {
            endUnit(unit, Outcomes::firmwareFailed(firmware->failure()));
            continue;
        }
        if (!firmware->needs(unit->version.value_or(0)).value_or(true)) {
            endUnit(unit, Outcomes::upToDate(true));
            continue;
        }
        ++toFlash;
        const std::optional<QString> offered = firmware->offered();
        emit event(FlashEvents::forUnit(
            FlashEvents::planned(unit->version, offered ? std::optional<int>(Manifest::firmwareNumber(*offered))
                                                        : std::nullopt),
            unit->name));
    }
    planning = false;
    if (toFlash == 0) {
        finishStation();
        return;
    }
    stage = Stage::Confirming;
    if (request.yes)
        confirm(true);
    else
        emit confirmationNeeded(tr("Install the firmware shown above on %n controller(s)?", nullptr, toFlash));
}

void UpdateAllCommand::confirm(bool yes)
{
    if (stage != Stage::Confirming || isFinished())
        return;
    if (!yes) {
        planning = true;
        for (Unit *unit : waitingUnits())
            endUnit(unit, Outcomes::notConfirmed());
        planning = false;
        finishStation();
        return;
    }
    stage = Stage::Flashing;
    QSet<ModelFirmware *> needed;
    for (Unit *unit : waitingUnits())
        needed.insert(firmwareFor(*unit));
    for (ModelFirmware *firmware : needed) {
        if (firmware->state() == ModelFirmware::State::Ready) {
            onFirmwareSettled(firmware);
        } else {
            restartClock();
            firmware->download();
        }
    }
}

void UpdateAllCommand::onUnitEnded()
{
    if (!planning && !isFinished() && waitingUnits().isEmpty() && unitsInProgress() == 0)
        finishStation();
}
