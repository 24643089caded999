#include "commands/logcommand.h"

#include "commands/filecopy.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// A log download that moves no further for this much longer than the
// session waits for the controller's answer has stalled: that wait gives
// up on its own, but a part read that times out leaves it halted without
// a word.
constexpr int logStallMarginMs = 5000;

} // namespace

CommandInfo LogCommand::info()
{
    using C = ExitCode;
    return { "log", "log [--output FILE] [--device PATH | --serial SN] [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "Downloads the controller's internal log into the program directory."),
             { QStringLiteral("device"), QStringLiteral("serial"), QStringLiteral("output") },
             { C::Success, C::Usage, C::NoController, C::NoAccess, C::SeveralControllers, C::NotSupported, C::FileProblem, C::LogIncomplete, C::Interrupted },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 return std::make_unique<LogCommand>(request, canAsk);
             } };
}

LogCommand::LogCommand(const FlashRequest &request, bool canAsk)
    : ControllerCommand(request, canAsk)
    , stallWatchdog(new QTimer(this))
{
    stallWatchdog->setSingleShot(true);
    stallWatchdog->setInterval(UpdateSession::logAnswerWaitMs() + logStallMarginMs);
    connect(stallWatchdog, &QTimer::timeout, &session, &UpdateSession::stopLogDownload);
    connect(&session, &UpdateSession::logProgress, this, [this](int percent) {
        stallWatchdog->start();
        emitProgress(QStringLiteral("log"), percent);
    });
    connect(&session, &UpdateSession::logFinished, this, &LogCommand::onLogFinished);
}

void LogCommand::start()
{
    if (!openController())
        return;
    if (session.link().isPair()) {
        finish(Outcomes::pairHasNoLog());
        return;
    }
    downloading = true;
    restartClock();
    stallWatchdog->start();
    session.startLogDownload();
}

void LogCommand::onLogFinished(const UpdateSession::DeviceLog &log)
{
    if (!downloading || isFinished())
        return;
    stallWatchdog->stop();
    switch (log.end) {
    case UpdateSession::DeviceLog::End::FileNotWritten:
        finish(Outcomes::logNotWritten(log.path, log.fileProblem));
        return;
    case UpdateSession::DeviceLog::End::Incomplete:
        finish(stopRequested ? Outcomes::logInterrupted(log.path) : Outcomes::logIncomplete(log.path));
        return;
    case UpdateSession::DeviceLog::End::Complete:
        break;
    }
    if (stopRequested) {
        finish(Outcomes::logInterrupted(log.path));
        return;
    }
    emit event(FlashEvents::logSaved(log.path));
    if (!request.output.isEmpty()) {
        const QString copyFailure = FileCopy::copyReplacing(log.path, request.output);
        if (!copyFailure.isEmpty()) {
            finish(Outcomes::outputNotWritten(request.output, copyFailure, log.path));
            return;
        }
        emit event(FlashEvents::logSaved(request.output));
    }
    finish(Outcomes::logDownloaded(QFileInfo(log.path).size()));
}

// Ends in onLogFinished(), once the downloader has closed the file.
void LogCommand::interrupt()
{
    if (isFinished())
        return;
    if (!downloading) {
        Command::interrupt();
        return;
    }
    stopRequested = true;
    session.stopLogDownload();
}
