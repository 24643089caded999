#include "exitcode.h"

#include <QCoreApplication>

QList<ExitCodeInfo> exitCodeTable()
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("ExitCode", text); };
    const QString list = QStringLiteral("list");
    const QString check = QStringLiteral("check");
    const QString update = QStringLiteral("update");
    const QString log = QStringLiteral("log");
    const QString watch = QStringLiteral("watch");
    const QStringList all { list, check, update, log, watch };
    const QStringList device { check, update, log };
    const QStringList flashing { update, watch };
    return {
        { ExitCode::Success, tr("done: listed, firmware current, update installed, log downloaded"), all },
        { ExitCode::Usage, tr("unknown command or option, or a missing or invalid value"), all },
        { ExitCode::NoController, tr("no controller attached, or none at the --device path"), all },
        { ExitCode::NoAccess, tr("a controller could not be opened (on Linux: install the udev rule)"), all },
        { ExitCode::SeveralControllers, tr("several controllers attached: choose one with --device (update --all: of several models with --file)"), device },
        { ExitCode::NotSupported, tr("the command does not work with this controller"), { log, update, watch } },
        { ExitCode::FirmwareAvailable, tr("newer firmware is available"), { check } },
        { ExitCode::NewerUpdater, tr("a newer updater must be installed first"), { check, update, watch } },
        { ExitCode::ServerUnreachable, tr("the download server could not be reached"), { check, update, watch } },
        { ExitCode::FileProblem, tr("a file could not be written or read: firmware, update file, device log, --output"), { update, log, watch } },
        { ExitCode::ManifestIncomplete, tr("the server's version list lacks an entry for the controller or the updater"), { check, update, watch } },
        { ExitCode::NotConfirmed, tr("not confirmed (no terminal: use --yes)"), flashing },
        { ExitCode::TransferRefused, tr("the controller refused the transfer; it keeps its firmware"), flashing },
        { ExitCode::WrongMd5, tr("the controller rejected the image (wrong MD5); it keeps its firmware"), flashing },
        { ExitCode::InstallFailed, tr("the controller could not install the image"), flashing },
        { ExitCode::ControllerGone, tr("the controller was disconnected or stopped taking reports; it keeps its "
                                       "firmware"), flashing },
        { ExitCode::LibraryMissing, tr("the transfer library of MOSS controllers is not installed"), flashing },
        { ExitCode::ResultUnknown, tr("the controller has the whole image but no result came (disconnected, or "
                                      "silent past --timeout)"), flashing },
        { ExitCode::LogIncomplete, tr("the controller did not send its whole log"), { log } },
        { ExitCode::Interrupted, tr("stopped with Ctrl+C"), { check, update, log, watch } },
    };
}

ExitCode stationExitCode(const QList<ExitCode> &unitCodes)
{
    // Most serious first: what leaves a controller in an unknown or broken
    // state, then what left it untouched, then what kept the station from
    // starting at all.
    static const ExitCode severity[] = {
        ExitCode::ResultUnknown,   ExitCode::InstallFailed,      ExitCode::ControllerGone,
        ExitCode::WrongMd5,        ExitCode::TransferRefused,    ExitCode::LibraryMissing,
        ExitCode::FileProblem,     ExitCode::ManifestIncomplete, ExitCode::ServerUnreachable,
        ExitCode::NewerUpdater,    ExitCode::NoAccess,           ExitCode::NotSupported,
        ExitCode::NotConfirmed,    ExitCode::Interrupted,
    };
    for (ExitCode code : severity) {
        if (unitCodes.contains(code))
            return code;
    }
    return ExitCode::Success;
}

void StationTally::addEnded(ExitCode code)
{
    if (code == ExitCode::Success)
        ++done;
    else if (code != ExitCode::Interrupted)
        ++failed;
}
