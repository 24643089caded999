#include "commands/checkcommand.h"

#include "update/manifest.h"
#include "update/versiontext.h"

CommandInfo CheckCommand::info()
{
    using C = ExitCode;
    return { "check", "check [--device PATH | --serial SN] [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "Asks the download server whether newer firmware is available."),
             { QStringLiteral("device"), QStringLiteral("serial") },
             { C::Success, C::Usage, C::NoController, C::NoAccess, C::SeveralControllers, C::FirmwareAvailable, C::NewerUpdater, C::ServerUnreachable, C::ManifestIncomplete, C::Interrupted },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 return std::make_unique<CheckCommand>(request, canAsk);
             } };
}

CheckCommand::CheckCommand(const FlashRequest &request, bool canAsk)
    : ControllerCommand(request, canAsk)
{
    connect(&session, &UpdateSession::firmwareOffered, this, [this](const QString &offered, const QString &changeLog) {
        if (!checking())
            return;
        const int version = Manifest::firmwareNumber(offered);
        emit event(FlashEvents::firmwareOffer(session.link().shownVersion(), version, changeLog));
        onFirmwareOffered(version);
    });
    connect(&session, &UpdateSession::updaterOffered, this, [this](const QString &offered, const QString &changeLog) {
        if (!checking())
            return;
        emit event(FlashEvents::updaterOffer(VersionText::offeredNumber(offered), changeLog));
        finish(Outcomes::newerUpdater());
    });
    connect(&session, &UpdateSession::upToDate, this, [this] {
        if (!checking())
            return;
        emit event(FlashEvents::upToDate(session.link().shownVersion()));
        finish(Outcomes::upToDate(installs()));
    });
    connect(&session, &UpdateSession::checkFailed, this, [this](const UpdateSession::CheckProblem &problem) {
        if (checking())
            finish(Outcomes::checkFailed(problem.kind));
    });
    connect(&session, &UpdateSession::firmwareReady, this, &CheckCommand::onFirmwareReady);
}

void CheckCommand::start()
{
    if (openController())
        startCheck();
}

void CheckCommand::startCheck()
{
    session.checkForUpdate();
}

void CheckCommand::onFirmwareOffered(int)
{
    finish(Outcomes::firmwareAvailable());
}

// With the hand-placed override file the check offers no version: the
// file is taken as it is.
void CheckCommand::onFirmwareReady(const FirmwareFile &file)
{
    if (file.source != FirmwareFile::Source::HandPlaced || !checking())
        return;
    emit event(FlashEvents::overrideFile(file.path));
    onHandPlacedFile(file.path);
}

void CheckCommand::onHandPlacedFile(const QString &)
{
    finish(Outcomes::updateFileInPlace());
}
