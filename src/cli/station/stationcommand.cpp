#include "station/stationcommand.h"

#include "protocol/models.h"
#include "record/recordreport.h"
#include "update/manifest.h"

#include <QMap>
#include <QtDebug>

#include <algorithm>

StationCommand::StationCommand(const FlashRequest &request, bool canAsk)
    : Command(request, canAsk)
{
}

StationCommand::~StationCommand() = default;

StationCommand::Unit *StationCommand::adopt(std::unique_ptr<Unit> unit)
{
    unit->found = QDateTime::currentDateTimeUtc();
    if (unitsOpen++ == 0)
        busyClock.start();
    units.push_back(std::move(unit));
    return units.back().get();
}

StationCommand::Unit *StationCommand::addAttempt(const Unit &earlier)
{
    auto unit = std::make_unique<Unit>();
    unit->entry = earlier.entry;
    unit->name = earlier.name;
    unit->version = earlier.version;
    return adopt(std::move(unit));
}

StationCommand::Unit *StationCommand::addUnit(const ControllerEntry &entry)
{
    auto unit = std::make_unique<Unit>();
    unit->entry = entry;
    const ModelInfo *model = modelForUnitType(entry.unitType);
    QStringList name { model ? QLatin1String(model->name) : QString::number(entry.unitType) };
    if (!entry.serial.isEmpty())
        name.append(entry.serial);
    name.append(Outcomes::pathText(entry.paths.first()));
    unit->name = name.join(QLatin1Char(' '));
    Unit *added = adopt(std::move(unit));

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

QList<StationCommand::Unit *> StationCommand::allUnits() const
{
    QList<Unit *> all;
    for (const auto &unit : units)
        all.append(unit.get());
    return all;
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
    unit->imagePath = firmwarePath;
    if (request.file.isEmpty()) {
        if (const std::optional<QString> offered = firmwareFor(*unit)->offered())
            unit->offered = Manifest::firmwareNumber(*offered);
    }
    unit->runner = std::make_unique<UnitUpdate>(unit->entry, request.timeoutSeconds, unit->name);
    UnitUpdate *runner = unit->runner.get();
    runner->requireSha256(request.sha256);
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
        unit->result = result;
        endUnit(unit, Outcomes::ended(result, unit->entry.paths.first()));
    });
    runner->start(firmwarePath);
}

void StationCommand::endUnit(Unit *unit, const Outcome &outcome)
{
    if (unit->outcome)
        return;
    unit->outcome = outcome;
    if (--unitsOpen == 0)
        busyMs += busyClock.elapsed();
    // Its thread ends and its controller is closed once this signal is over.
    if (unit->runner)
        unit->runner.release()->deleteLater();
    qDebug().noquote() << "flasher unit result" << unit->name << int(outcome.code) << outcome.message;
    const bool recordFailedNow = !writeRecord(*unit);
    showUnitEvent(*unit, FlashEvents::result(outcome.code, outcome.name, outcome.message));
    if (recordFailedNow) {
        // No new unit: those still waiting end untouched, in one go.
        const bool wasEndingMany = endingMany;
        stopping = true;
        endingMany = true;
        for (Unit *waiting : waitingUnits())
            endUnit(waiting, *recordProblem);
        endingMany = wasEndingMany;
        onRecordFailed();
    }
    if (!endingMany)
        onUnitEnded();
}

bool StationCommand::writeRecord(const Unit &unit)
{
    if (!record || recordProblem)
        return true;
    RecordKeeper::Attempt attempt;
    attempt.entry = unit.entry;
    attempt.started = unit.found;
    if (unit.version)
        attempt.firmwareBefore = *unit.version;
    attempt.offered = unit.offered;
    attempt.imagePath = unit.imagePath;
    attempt.source = request.file.isEmpty() ? QStringLiteral("downloaded") : QStringLiteral("file");
    attempt.result = unit.result;
    FlashRecord line = RecordKeeper::recordOf(attempt, *unit.outcome);
    if (RecordSummary::isCheck(unit.outcome->name)) {
        line.seconds = 0;
        line.started = line.ended;
        line.controller = UpdateResultText::holdsName(unit.outcome->code == ExitCode::Success
                                                          ? UpdateResult::Holds::Installed
                                                          : UpdateResult::Holds::OldFirmware);
    }
    QString error;
    if (record->write(line, &error))
        return true;
    qWarning().noquote() << "record not written:" << record->path() << error;
    recordProblem = Outcomes::recordNotWritten(record->path(), error, QString());
    showUnitEvent(unit, FlashEvents::recordFailed(record->path(), error));
    return false;
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
        if (unit->outcome && RecordSummary::isCheck(unit->outcome->name))
            tally.notVerified += unit->outcome->code == ExitCode::Success ? 0 : 1;
        else if (unit->outcome)
            tally.addEnded(unit->outcome->code);
        else if (unit->runner)
            ++tally.inProgress;
    }
    return tally;
}

double StationCommand::unitsPerHour() const
{
    int ended = 0;
    for (const auto &unit : units)
        ended += unit->outcome && !RecordSummary::isCheck(unit->outcome->name) ? 1 : 0;
    const qint64 ms = busyMs + (unitsOpen > 0 ? busyClock.elapsed() : 0);
    return ms > 0 ? ended * 3600000.0 / ms : 0.0;
}

void StationCommand::interrupt()
{
    if (isFinished() || interrupted)
        return;
    interrupted = true;
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
        // A check on re-plug is no attempt: the attempt after it tells.
        if (!RecordSummary::isCheck(unit->outcome->name))
            codes.append(unit->outcome->code);
    }
    ExitCode code = stationExitCode(codes);
    if (code == ExitCode::Success && interrupted)
        code = ExitCode::Interrupted;
    if (recordProblem)
        code = ExitCode::FileProblem;
    FlashEvent summary = FlashEvents::summary(counts, code);
    if (recordProblem)
        summary.text += QLatin1Char(' ') + recordProblem->message;
    finish({ code, QStringLiteral("summary"), summary.text }, summary);
}

void StationCommand::showUnitEvent(const Unit &unit, const FlashEvent &event)
{
    emit this->event(FlashEvents::forUnit(event, unit.name));
}
