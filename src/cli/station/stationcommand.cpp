#include "station/stationcommand.h"

#include "protocol/models.h"
#include "update/manifest.h"

#include <QMap>
#include <QtDebug>

#include <algorithm>

StationCommand::StationCommand(const FlashRequest &request, bool canAsk)
    : Command(request, canAsk)
{
}

StationCommand::~StationCommand() = default;

StationCommand::Unit *StationCommand::addUnit(const ControllerEntry &entry)
{
    auto unit = std::make_unique<Unit>();
    unit->entry = entry;
    const ModelInfo *model = modelForUnitType(entry.unitType);
    unit->name = QStringLiteral("%1 %2").arg(model ? QLatin1String(model->name) : QString::number(entry.unitType),
                                             Outcomes::pathText(entry.paths.first()));
    Unit *added = unit.get();
    units.push_back(std::move(unit));

    const UpdateSession::Reading reading = UpdateSession::read(entry);
    const ControllerSummary summary = summaryOf(entry, reading);
    showUnitEvent(*added, FlashEvents::controller(summary));
    if (!summary.openError.isEmpty()) {
        endUnit(added, Outcomes::noAccess(entry.paths.first(), summary.openError));
        return nullptr;
    }
    added->version = reading.checkedVersion;
    return added;
}

bool StationCommand::mossNotAlone(const ControllerEntry &entry, const QList<ControllerEntry> &entries)
{
    return entry.unitType == mossUnitType
           && std::count_if(entries.cbegin(), entries.cend(),
                            [](const ControllerEntry &other) { return other.unitType == mossUnitType; }) > 1;
}

ModelFirmware *StationCommand::firmwareFor(const Unit &unit)
{
    const QString key = Manifest::modelKey(unit.entry.unitType);
    ModelFirmware *&firmware = firmwares[key];
    if (!firmware) {
        ModelFirmware *made = new ModelFirmware(unit.entry.unitType, this);
        for (auto settled : { &ModelFirmware::checked, &ModelFirmware::ready, &ModelFirmware::failed })
            connect(made, settled, this, [this, made] { onFirmwareSettled(made); });
        firmware = made;
    }
    return firmware;
}

QList<StationCommand::Unit *> StationCommand::waitingFor(const ModelFirmware *firmware) const
{
    QList<Unit *> waiting;
    for (Unit *unit : waitingUnits()) {
        if (firmwares.value(Manifest::modelKey(unit->entry.unitType)) == firmware)
            waiting.append(unit);
    }
    return waiting;
}

QList<StationCommand::Unit *> StationCommand::waitingUnits() const
{
    QList<Unit *> waiting;
    for (const auto &unit : units) {
        if (!unit->outcome && !unit->runner)
            waiting.append(unit.get());
    }
    return waiting;
}

QList<StationCommand::Unit *> StationCommand::unitsNotEnded() const
{
    QList<Unit *> notEnded;
    for (const auto &unit : units) {
        if (!unit->outcome)
            notEnded.append(unit.get());
    }
    return notEnded;
}

void StationCommand::startUnit(Unit *unit, const QString &firmwarePath)
{
    unit->runner = std::make_unique<UnitUpdate>(unit->entry, request.timeoutSeconds, unit->name);
    UnitUpdate *runner = unit->runner.get();
    connect(runner, &UnitUpdate::transferStarted, this, [this, unit, firmwarePath](int reports) {
        showUnitEvent(*unit, FlashEvents::transferStarted(firmwarePath, reports));
    });
    // A line per unit and step: the progress in tenths.
    connect(runner, &UnitUpdate::progress, this, [this, unit, shown = std::make_shared<QString>()](
                                                     UnitUpdate::Step step, int percent) {
        const QString phase = step == UnitUpdate::Step::Transfer ? QStringLiteral("transfer") : QStringLiteral("install");
        const QString shownStep = QStringLiteral("%1 %2").arg(phase).arg(percent / 10);
        if (!request.json || *shown == shownStep)
            return;
        *shown = shownStep;
        showUnitEvent(*unit, FlashEvents::progressStep(phase, percent / 10 * 10));
    });
    connect(runner, &UnitUpdate::transferCompleted, this,
            [this, unit] { showUnitEvent(*unit, FlashEvents::transferCompleted()); });
    connect(runner, &UnitUpdate::finished, this, [this, unit](const UpdateResult &result) {
        endUnit(unit, Outcomes::ended(result, unit->entry.paths.first()));
    });
    runner->start(firmwarePath);
}

void StationCommand::endUnit(Unit *unit, const Outcome &outcome)
{
    if (unit->outcome)
        return;
    unit->outcome = outcome;
    // Its thread ends and its controller is closed once this signal is over.
    if (unit->runner)
        unit->runner.release()->deleteLater();
    qDebug().noquote() << "flasher unit result" << unit->name << int(outcome.code) << outcome.message;
    showUnitEvent(*unit, FlashEvents::result(outcome.code, outcome.name, outcome.message));
    if (!endingMany)
        onUnitEnded();
}

int StationCommand::unitsInProgress() const
{
    int running = 0;
    for (const auto &unit : units)
        running += unit->runner && !unit->outcome ? 1 : 0;
    return running;
}

StationTally StationCommand::tally() const
{
    StationTally tally;
    for (const auto &unit : units) {
        if (unit->outcome)
            tally.addEnded(unit->outcome->code);
        else if (unit->runner)
            ++tally.inProgress;
    }
    return tally;
}

void StationCommand::interrupt()
{
    if (isFinished() || stopping)
        return;
    stopping = true;
    endingMany = true;
    for (Unit *unit : waitingUnits())
        endUnit(unit, Outcomes::stoppedUntouched());
    endingMany = false;
    for (const auto &unit : units) {
        if (unit->runner && !unit->outcome)
            unit->runner->stop();
    }
    if (unitsInProgress() == 0)
        finishStation();
}

void StationCommand::finishStation()
{
    QMap<QString, int> counts;
    QList<ExitCode> codes;
    for (const auto &unit : units) {
        if (!unit->outcome)
            continue;
        ++counts[unit->outcome->name];
        codes.append(unit->outcome->code);
    }
    ExitCode code = stationExitCode(codes);
    if (code == ExitCode::Success && stopping)
        code = ExitCode::Interrupted;
    const FlashEvent summary = FlashEvents::summary(counts, code);
    finish({ code, QStringLiteral("summary"), summary.text }, summary);
}

void StationCommand::showUnitEvent(const Unit &unit, const FlashEvent &event)
{
    emit this->event(FlashEvents::forUnit(event, unit.name));
}
