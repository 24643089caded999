#include "updatecommand.h"

#include "update/versiontext.h"

#include <QTimer>

#include <chrono>

UpdateCommand::UpdateCommand(const FlashRequest &request, bool canAsk)
    : CheckCommand(request, canAsk)
    , verdictWatchdog(new QTimer(this))
{
    verdictWatchdog->setSingleShot(true);
    verdictWatchdog->setInterval(std::chrono::seconds(request.timeoutSeconds));
    connect(verdictWatchdog, &QTimer::timeout, this, [this] {
        if (isFinished())
            return;
        finish(Outcomes::noVerdict(this->request.timeoutSeconds));
        session.stopTransfer();
    });
    connect(&session, &UpdateSession::downloadProgress, this, [this](int percent) {
        if (stage == Stage::Downloading)
            emitProgress(QStringLiteral("download"), percent);
    });
    connect(&session, &UpdateSession::firmwareReady, this, &UpdateCommand::onFirmwareReady);
    connectTransfer();
}

void UpdateCommand::start()
{
    if (refusedToFlash())
        return;
    if (!openController())
        return;
    if (request.file.isEmpty())
        startCheck();
    else
        askToSend(tr("Send %1 to the %2?").arg(request.file, controllerName()));
}

void UpdateCommand::onFirmwareOffered(int offered)
{
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
        session.useFirmwareFile(request.file);
    } else if (session.firmwareFile().source == FirmwareFile::Source::HandPlaced) {
        startTransfer();
    } else {
        stage = Stage::Downloading;
        restartClock();
        session.downloadFirmware();
    }
}

// The image the session sends: the downloaded firmware is announced, a
// given file goes as it is; the hand-placed file was announced by the check.
void UpdateCommand::onFirmwareReady(const FirmwareFile &file)
{
    if (isFinished())
        return;
    switch (file.source) {
    case FirmwareFile::Source::Downloaded:
        if (stage != Stage::Downloading)
            return;
        emit event(FlashEvents::firmwareStored(file.path));
        startTransfer();
        return;
    case FirmwareFile::Source::Given:
        startTransfer();
        return;
    case FirmwareFile::Source::HandPlaced:
        return;
    }
}

void UpdateCommand::startTransfer()
{
    stage = Stage::Transferring;
    session.startOrStopTransfer();
}

void UpdateCommand::connectTransfer()
{
    connect(&session, &UpdateSession::transferStarted, this, &UpdateCommand::announceTransfer);
    connect(&session, &UpdateSession::transferProgress, this, [this](int percent) {
        announceTransfer();
        emitProgress(QStringLiteral("transfer"), percent, session.reportsSent(), session.reportCount());
    });
    connect(&session, &UpdateSession::libraryProgress, this, [this](int current, int total) {
        if (total > 0)
            emitProgress(QStringLiteral("transfer"), int(qint64(current) * 100 / total));
    });
    // Progress comes before each report, so never 100 %; the controller's
    // word that it has the whole image is the 100 %.
    connect(&session, &UpdateSession::transferCompleted, this, [this](UpdateSession::Installation installation) {
        if (isFinished())
            return;
        if (installation == UpdateSession::Installation::Watched)
            emitProgress(QStringLiteral("transfer"), 100, session.reportCount(), session.reportCount());
        restartClock();
        emit event(FlashEvents::transferCompleted());
    });
    connect(&session, &UpdateSession::installProgress, this, [this](int percent) {
        if (!isFinished() && session.controllerPhase() == TransferEngine::Phase::Applying)
            emitProgress(QStringLiteral("install"), percent);
    });
    connect(&session, &UpdateSession::updateFinished, this, [this](UpdateSession::Installation installation) {
        if (isFinished())
            return;
        if (installation == UpdateSession::Installation::Watched)
            emitProgress(QStringLiteral("install"), 100);
        finish(Outcomes::installed(installation));
    });
    connect(&session, &UpdateSession::transferFailed, this, [this](TransferEngine::Failure failure) {
        if (stage == Stage::Transferring)
            finish(Outcomes::transferFailed(failure, session.controllerPhase(), session.firmwareFile().path));
    });
    connect(&session, &UpdateSession::transferStopped, this,
            [this] { finish(Outcomes::interrupted(session.controllerPhase())); });
    // The wait for the verdict starts once the controller has the whole image.
    connect(&session, &UpdateSession::controllerPhaseChanged, this, [this](TransferEngine::Phase phase) {
        if (phase == TransferEngine::Phase::AwaitingVerdict && !isFinished())
            verdictWatchdog->start();
    });
}

// A single unit says when it is ready; a pair is not announced, and its
// first data report tells it.
void UpdateCommand::announceTransfer()
{
    if (transferAnnounced)
        return;
    transferAnnounced = true;
    restartClock();
    emit event(FlashEvents::transferStarted(session.firmwareFile().path, session.reportCount()));
}

void UpdateCommand::interrupt()
{
    if (isFinished())
        return;
    // Ends through transferStopped(), which comes after the closed library's
    // call when it runs.
    if (stage == Stage::Transferring)
        session.stopTransfer();
    else
        Command::interrupt();
}
