#include "commands/updatecommand.h"

#include "station/updateallcommand.h"

#include "update/versiontext.h"

#include <QtDebug>

CommandInfo UpdateCommand::info()
{
    using C = ExitCode;
    return { "update", "update [--all | --device PATH | --serial SN] [--file PATH] [--sha256 HEX] [--yes] [--timeout SECONDS] [--record FILE] [--station NAME] [--operator NAME] [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "Downloads the offered firmware (or takes PATH) and installs it on the controller."),
             { QStringLiteral("device"), QStringLiteral("serial"), QStringLiteral("all"), QStringLiteral("file"), QStringLiteral("sha256"), QStringLiteral("yes"), QStringLiteral("timeout"),
               QStringLiteral("record"), QStringLiteral("station"), QStringLiteral("operator") },
             { C::Success, C::Usage, C::NoController, C::NoAccess, C::SeveralControllers, C::NotSupported, C::NewerUpdater, C::ServerUnreachable, C::FileProblem, C::ManifestIncomplete, C::ImageNotApproved, C::NotConfirmed, C::TransferRefused, C::WrongMd5, C::InstallFailed, C::ControllerGone, C::LibraryMissing, C::ResultUnknown, C::Interrupted },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 if (request.all)
                     return std::make_unique<UpdateAllCommand>(request, canAsk);
                 return std::make_unique<UpdateCommand>(request, canAsk);
             } };
}

UpdateCommand::UpdateCommand(const FlashRequest &request, bool canAsk)
    : CheckCommand(request, canAsk)
    , unit(&session, request.timeoutSeconds)
{
    unit.requireSha256(request.sha256);
    connect(&session, &UpdateSession::downloadProgress, this, [this](int percent) {
        if (stage == Stage::Downloading)
            emitProgress(QStringLiteral("download"), percent);
    });
    connect(&session, &UpdateSession::firmwareReady, this, &UpdateCommand::onFirmwareReady);
    connectUnit();
}

void UpdateCommand::start()
{
    if (refusedToFlash() || !openRecord())
        return;
    attempt.started = QDateTime::currentDateTimeUtc();
    if (!openController())
        return;
    attempt.firmwareBefore = session.link().shownVersion();
    if (request.file.isEmpty())
        startCheck();
    else
        askToSend(tr("Send %1 to the %2?").arg(request.file, controllerName()));
}

void UpdateCommand::onFirmwareOffered(int offered)
{
    attempt.offered = offered;
    askToSend(tr("Download firmware %1 and install it on the %2?")
                  .arg(VersionText::firmware(offered), controllerName()));
}

void UpdateCommand::onHandPlacedFile(const QString &path)
{
    askToSend(tr("Send %1 to the %2?").arg(path, controllerName()));
}

void UpdateCommand::askToSend(const QString &question)
{
    stage = Stage::Confirming;
    if (request.yes) {
        confirm(true);
        return;
    }
    emit confirmationNeeded(question);
}

void UpdateCommand::confirm(bool yes)
{
    if (stage != Stage::Confirming || isFinished())
        return;
    if (!yes) {
        finish(Outcomes::notConfirmed());
        return;
    }
    if (!request.file.isEmpty()) {
        startTransfer(request.file);
    } else if (session.firmwareFile().source == FirmwareFile::Source::HandPlaced) {
        startTransfer(session.firmwareFile().path);
    } else {
        stage = Stage::Downloading;
        restartClock();
        session.downloadFirmware();
    }
}

// The downloaded firmware is announced and sent; a given file and the
// hand-placed one go from confirm().
void UpdateCommand::onFirmwareReady(const FirmwareFile &file)
{
    if (isFinished() || file.source != FirmwareFile::Source::Downloaded || stage != Stage::Downloading)
        return;
    emit event(FlashEvents::firmwareStored(file.path));
    startTransfer(file.path);
}

void UpdateCommand::startTransfer(const QString &imagePath)
{
    stage = Stage::Transferring;
    attempt.imagePath = imagePath;
    attempt.source = !request.file.isEmpty() ? QStringLiteral("file")
                     : session.firmwareFile().source == FirmwareFile::Source::HandPlaced ? QStringLiteral("hand-placed")
                                                                                         : QStringLiteral("downloaded");
    unit.start(imagePath);
}

void UpdateCommand::connectUnit()
{
    connect(&unit, &UnitUpdate::transferStarted, this, [this](int reports) {
        restartClock();
        emit event(FlashEvents::transferStarted(session.firmwareFile().path, reports));
    });
    connect(&unit, &UnitUpdate::progress, this, [this](UnitUpdate::Step step, int percent, int done, int total) {
        emitProgress(step == UnitUpdate::Step::Transfer ? QStringLiteral("transfer") : QStringLiteral("install"),
                     percent, done, total);
    });
    connect(&unit, &UnitUpdate::transferCompleted, this, [this] {
        restartClock();
        emit event(FlashEvents::transferCompleted());
    });
    connect(&unit, &UnitUpdate::finished, this,
            [this](const UpdateResult &result) {
                attempt.result = result;
                finish(Outcomes::ended(result, selectedPath()));
            });
}

// Every run that found its controller is an attempt on record.
Outcome UpdateCommand::recorded(const Outcome &outcome)
{
    if (!record || selectedEntry().paths.isEmpty())
        return outcome;
    attempt.entry = selectedEntry();
    QString error;
    if (record->write(RecordKeeper::recordOf(attempt, outcome), &error))
        return outcome;
    qWarning().noquote() << "record not written:" << record->path() << error;
    return Outcomes::recordNotWritten(record->path(), error, outcome.message);
}

void UpdateCommand::interrupt()
{
    if (isFinished())
        return;
    // Ends through the unit's result, which comes after the closed
    // library's call when it runs.
    if (stage == Stage::Transferring)
        unit.stop();
    else
        Command::interrupt();
}
