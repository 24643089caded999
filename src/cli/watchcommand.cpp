#include "watchcommand.h"


#include <QtDebug>

namespace {

// Enumerating a few times a second finds a controller soon after it is
// plugged in, at a cost that does not show.
constexpr int pollIntervalMs = 250;

} // namespace

WatchCommand::WatchCommand(const FlashRequest &request, bool canAsk)
    : StationCommand(request, canAsk)
{
    poller.setInterval(pollIntervalMs);
    connect(&poller, &QTimer::timeout, this, &WatchCommand::poll);
}

void WatchCommand::start()
{
    if (refusedToFlash(true))
        return;
    if (request.yes) {
        confirm(true);
        return;
    }
    emit confirmationNeeded(request.file.isEmpty()
                                ? tr("Update every controller attached or plugged in from now on with the firmware "
                                     "its model is offered?")
                                : tr("Send %1 to every controller attached or plugged in from now on?")
                                      .arg(request.file));
}

void WatchCommand::confirm(bool yes)
{
    if (watching || isFinished())
        return;
    if (!yes) {
        finish(Outcomes::notConfirmed());
        return;
    }
    watching = true;
    emit event({ QStringLiteral("watching"), tr("Watching for controllers; Ctrl+C stops."), {}, false });
    poller.start();
    poll();
}

void WatchCommand::poll()
{
    if (stopping)
        return;
    const QList<ControllerEntry> entries = ControllerLink::attachedControllers();
    QSet<QByteArray> present;
    for (const ControllerEntry &entry : entries)
        present.insert(entry.paths.first());
    QSet<QByteArray> unplugged = attached;
    unplugged.subtract(present);
    for (const QByteArray &path : qAsConst(unplugged)) {
        qDebug().noquote() << "controller unplugged:" << Outcomes::pathText(path);
        attached.remove(path);
    }
    for (const ControllerEntry &entry : entries) {
        if (attached.contains(entry.paths.first()))
            continue;
        attached.insert(entry.paths.first());
        Unit *unit = addUnit(entry);
        if (!unit)
            continue;
        if (mossNotAlone(entry, entries))
            endUnit(unit, Outcomes::mossNotAlone());
        else
            decide(unit);
    }
}

void WatchCommand::decide(Unit *unit)
{
    if (!request.file.isEmpty()) {
        if (fileUnitType < 0)
            fileUnitType = unit->entry.unitType;
        if (unit->entry.unitType != fileUnitType)
            endUnit(unit, Outcomes::severalModels(request.file));
        else
            startUnit(unit, request.file);
        return;
    }
    ModelFirmware *firmware = firmwareFor(*unit);
    const quint8 version = unit->version.value_or(0);
    switch (firmware->state()) {
    case ModelFirmware::State::Checking:
    case ModelFirmware::State::Downloading:
        return;  // onFirmwareSettled() decides again
    case ModelFirmware::State::Unchecked:
    case ModelFirmware::State::Failed:
        firmware->check(version);
        return;
    case ModelFirmware::State::Offered:
    case ModelFirmware::State::Current:
    case ModelFirmware::State::Ready:
        break;
    }
    const std::optional<bool> needs = firmware->needs(version);
    if (!needs)
        firmware->check(version);
    else if (!*needs)
        endUnit(unit, Outcomes::upToDate(FlashRequest::Command::Update));
    else if (firmware->state() == ModelFirmware::State::Ready)
        startUnit(unit, firmware->path());
    else
        firmware->download();
}

void WatchCommand::onFirmwareSettled(ModelFirmware *firmware)
{
    if (isFinished() || stopping)
        return;
    for (Unit *unit : waitingFor(firmware)) {
        if (firmware->state() == ModelFirmware::State::Failed)
            endUnit(unit, firmware->failure());
        else
            decide(unit);
    }
}

void WatchCommand::onUnitEnded()
{
    const StationTally now = tally();
    emit event(FlashEvents::tally(now.done, now.failed, now.inProgress));
    if (stopping && now.inProgress == 0)
        finishStation();
}

void WatchCommand::interrupt()
{
    poller.stop();
    if (!watching) {
        Command::interrupt();
        return;
    }
    StationCommand::interrupt();
}
