#include "commands/command.h"

#include "protocol/models.h"
#include "update/firmwarefiles.h"

#include <QFile>
#include <QFileInfo>

#include <QtDebug>

Command::Command(const FlashRequest &request, bool canAsk)
    : request(request)
    , canAsk(canAsk)
{
}

void Command::confirm(bool)
{
}

void Command::interrupt()
{
    finish(Outcomes::stoppedUntouched());
}

bool Command::refusedToFlash(bool station)
{
    std::optional<Outcome> refusal;
    const QFileInfo file(request.file);
    if (!request.yes && !canAsk)
        refusal = Outcomes::cannotAsk();
    else if (!request.file.isEmpty() && (!file.isFile() || file.size() == 0))
        refusal = Outcomes::unusableFile(request.file, file.isFile());
    else if (station && request.file.isEmpty() && QFile::exists(FirmwareFiles::overrideFilePath()))
        refusal = Outcomes::handPlacedAtStation(FirmwareFiles::overrideFilePath());
    if (refusal)
        finish(*refusal);
    return refusal.has_value();
}

bool Command::openRecord()
{
    auto keeper = std::make_unique<RecordKeeper>(request);
    QString error;
    if (!keeper->open(&error)) {
        finish(Outcomes::recordNotOpened(keeper->path(), error));
        return false;
    }
    record = std::move(keeper);
    return true;
}

ControllerSummary Command::summaryOf(const ControllerEntry &entry, const UpdateSession::Reading &reading)
{
    ControllerSummary summary;
    const ModelInfo *model = modelForUnitType(entry.unitType);
    summary.model = model ? QLatin1String(model->name) : QString::number(entry.unitType);
    summary.unitType = entry.unitType;
    summary.paths = entry.paths;
    summary.serial = entry.serial;
    if (reading.opened)
        summary.version = reading.shownVersion;
    else
        summary.openError = Outcomes::openFailure(reading.openError);
    return summary;
}

std::optional<ControllerSummary> Command::showControllers(const QList<ControllerEntry> &entries)
{
    std::optional<ControllerSummary> firstFailure;
    for (const ControllerEntry &entry : entries) {
        const ControllerSummary summary = summaryOf(entry, UpdateSession::read(entry));
        if (!firstFailure && !summary.openError.isEmpty())
            firstFailure = summary;
        emit event(FlashEvents::controller(summary));
    }
    return firstFailure;
}

void Command::emitProgress(const QString &phase, int percent, int done, int total)
{
    emit progress({ phase, percent, done, total, phaseClock.isValid() ? phaseClock.elapsed() : 0 });
}

void Command::finish(const Outcome &outcome)
{
    if (done)
        return;
    const Outcome shown = recorded(outcome);
    finish(shown, FlashEvents::result(shown.code, shown.name, shown.message));
}

void Command::finish(const Outcome &outcome, const FlashEvent &lastEvent)
{
    if (done)
        return;
    done = true;
    qDebug().noquote() << "flasher result" << int(outcome.code) << outcome.message;
    emit event(lastEvent);
    emit finished(int(outcome.code));
}
