#include "station/watchcommand.h"

#include "protocol/models.h"
#include "update/versiontext.h"

#include <QtDebug>

namespace {

// Enumerating a few times a second finds a controller soon after it is
// plugged in, at a cost that does not show.
constexpr int pollIntervalMs = 250;

} // namespace

CommandInfo WatchCommand::info()
{
    using C = ExitCode;
    return { "watch", "watch [--file PATH] [--sha256 HEX] [--yes] [--timeout SECONDS] [--record FILE] [--station NAME] [--operator NAME] [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "A flashing station: updates each controller as it is plugged in, until Ctrl+C."),
             { QStringLiteral("file"), QStringLiteral("sha256"), QStringLiteral("yes"), QStringLiteral("timeout"), QStringLiteral("record"),
               QStringLiteral("station"), QStringLiteral("operator") },
             { C::Success, C::Usage, C::NoController, C::NoAccess, C::SeveralControllers, C::NotSupported, C::NewerUpdater, C::ServerUnreachable, C::FileProblem, C::ManifestIncomplete, C::ImageNotApproved, C::NotConfirmed, C::TransferRefused, C::WrongMd5, C::InstallFailed, C::ControllerGone, C::LibraryMissing, C::ResultUnknown, C::Interrupted },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 return std::make_unique<WatchCommand>(request, canAsk);
             } };
}

WatchCommand::WatchCommand(const FlashRequest &request, bool canAsk)
    : StationCommand(request, canAsk)
{
    poller.setInterval(pollIntervalMs);
    connect(&poller, &QTimer::timeout, this, &WatchCommand::poll);
}

void WatchCommand::start()
{
    if (refusedToFlash(true) || !openRecord())
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
    const QList<ControllerEntry> entries = UpdateSession::attachedControllers();
    QSet<QByteArray> present;
    for (const ControllerEntry &entry : entries)
        present.insert(entry.paths.first());
    QSet<QByteArray> unplugged = attached;
    unplugged.subtract(present);
    for (const QByteArray &path : qAsConst(unplugged)) {
        qDebug().noquote() << "controller unplugged:" << Outcomes::pathText(path);
        attached.remove(path);
        // A unit that still waited for its firmware never touched the
        // controller; one that runs ends by its own result.
        for (Unit *unit : waitingUnits()) {
            if (unit->entry.paths.first() == path)
                endUnit(unit, Outcomes::leftBeforeStart());
        }
    }
    QList<ControllerEntry> newMoss;
    for (const ControllerEntry &entry : entries) {
        if (!attached.contains(entry.paths.first()) && entry.unitType == mossUnitType)
            newMoss.append(entry);
    }
    for (const ControllerEntry &entry : entries) {
        const QByteArray &path = entry.paths.first();
        // One unit per controller at a time: a controller back at its path
        // while its unit still runs is that unit's.
        if (attached.contains(path) || hasUnitAt(path))
            continue;
        attached.insert(path);
        Unit *unit = addUnit(entry);
        if (!unit)
            continue;
        if (const Unit *earlier = installedBefore(*unit)) {
            const QString runs = FlashEvents::firmwareText(unit->version);
            if (unit->version && *unit->version == *earlier->offered) {
                endUnit(unit, Outcomes::verified(runs));
                continue;
            }
            endUnit(unit, Outcomes::notVerified(runs, VersionText::firmware(*earlier->offered)));
            if (stopping)
                continue;
            unit = addAttempt(*unit);
        }
        // Two MOSS controllers found together cannot be told apart by their
        // library; one plugged in while another's update runs waits for it.
        if (newMoss.size() > 1 && entry.unitType == mossUnitType)
            endUnit(unit, Outcomes::mossNotAlone());
        else
            decide(unit);
    }
}

// Checked on re-plug: the unit's last attempt installed a known version,
// and it has not been checked since.
const StationCommand::Unit *WatchCommand::installedBefore(const Unit &found) const
{
    if (found.entry.serial.isEmpty())
        return nullptr;
    const QList<Unit *> all = allUnits();
    for (auto earlier = all.crbegin(); earlier != all.crend(); ++earlier) {
        const Unit *unit = *earlier;
        if (unit == &found || unit->entry.serial != found.entry.serial || !unit->outcome)
            continue;
        const bool installed = unit->outcome->name == QLatin1String("installed")
                               || unit->outcome->name == QLatin1String("installing");
        return installed && unit->offered ? unit : nullptr;
    }
    return nullptr;
}

bool WatchCommand::hasUnitAt(const QByteArray &path) const
{
    for (const Unit *unit : unitsNotEnded()) {
        if (unit->entry.paths.first() == path)
            return true;
    }
    return false;
}

bool WatchCommand::mossUnitRunning() const
{
    for (const Unit *unit : unitsNotEnded()) {
        if (unit->runner && unit->entry.unitType == mossUnitType)
            return true;
    }
    return false;
}

void WatchCommand::decide(Unit *unit)
{
    if (!request.file.isEmpty()) {
        if (fileUnitType < 0)
            fileUnitType = unit->entry.unitType;
        if (unit->entry.unitType != fileUnitType)
            endUnit(unit, Outcomes::severalModels(request.file));
        else
            startWhenFree(unit, request.file);
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
        endUnit(unit, Outcomes::upToDate(true));
    else if (firmware->state() == ModelFirmware::State::Ready)
        startWhenFree(unit, firmware->path());
    else
        firmware->download();
}

// The closed library is told only the model: one MOSS at a time.
void WatchCommand::startWhenFree(Unit *unit, const QString &firmwarePath)
{
    if (unit->entry.unitType == mossUnitType && mossUnitRunning())
        return;  // onUnitEnded() decides again
    startUnit(unit, firmwarePath);
}

void WatchCommand::onFirmwareSettled(ModelFirmware *firmware)
{
    if (isFinished() || stopping)
        return;
    for (Unit *unit : waitingFor(firmware)) {
        if (firmware->state() == ModelFirmware::State::Failed)
            endUnit(unit, Outcomes::firmwareFailed(firmware->failure()));
        else
            decide(unit);
    }
}

void WatchCommand::onUnitEnded()
{
    if (!stopping && !isFinished()) {
        for (Unit *unit : waitingUnits()) {
            if (unit->entry.unitType == mossUnitType && !mossUnitRunning())
                decide(unit);
        }
    }
    if (!saidNoSerial) {
        for (const Unit *unit : allUnits()) {
            // An update that ran and succeeded, on a controller without a serial number.
            if (unit->result && unit->result->succeeded() && unit->entry.serial.isEmpty()) {
                saidNoSerial = true;
                emit event({ QStringLiteral("no-serial"),
                             tr("A controller without a USB serial number cannot be recognised when it is "
                                "plugged in again: its new firmware is not checked."),
                             {}, false });
                break;
            }
        }
    }
    const StationTally now = tally();
    emit event(FlashEvents::tally(now.done, now.failed, now.inProgress, now.notVerified, unitsPerHour()));
    if (stopping && now.inProgress == 0)
        finishStation();
}

void WatchCommand::onRecordFailed()
{
    poller.stop();
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
