#include "exitcode.h"

#include <QCoreApplication>

QList<ExitCodeInfo> exitCodeTable()
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("ExitCode", text); };
    return {
        { ExitCode::Success, tr("done: listed, firmware current, update installed, log downloaded") },
        { ExitCode::Usage, tr("unknown command or option, or a missing or invalid value") },
        { ExitCode::NoController, tr("no controller attached, or none at the --device path") },
        { ExitCode::NoAccess, tr("a controller could not be opened (on Linux: install the udev rule)") },
        { ExitCode::SeveralControllers, tr("several controllers attached: choose one with --device (update --all: of several models with --file)") },
        { ExitCode::NotSupported, tr("the command does not work with this controller") },
        { ExitCode::FirmwareAvailable, tr("newer firmware is available") },
        { ExitCode::NewerUpdater, tr("a newer updater must be installed first") },
        { ExitCode::ServerUnreachable, tr("the download server could not be reached") },
        { ExitCode::FileProblem, tr("a file could not be written or read, or the firmware image is empty: firmware, update file, "
                                    "device log, --output") },
        { ExitCode::ManifestIncomplete, tr("the server's version list lacks an entry for the controller or the updater") },
        { ExitCode::ImageNotApproved, tr("the firmware image is not the approved one: its SHA-256 differs from --sha256 "
                                         "(nothing is sent)") },
        { ExitCode::NotConfirmed, tr("not confirmed (no terminal: use --yes)") },
        { ExitCode::TransferRefused, tr("the controller refused the transfer; it keeps its firmware") },
        { ExitCode::WrongMd5, tr("the controller rejected the image (wrong MD5); it keeps its firmware") },
        { ExitCode::InstallFailed, tr("the controller could not install the image") },
        { ExitCode::ControllerGone, tr("the controller was disconnected or stopped taking reports; it keeps its "
                                       "firmware") },
        { ExitCode::LibraryMissing, tr("MOSS controllers: their transfer library is not installed (Windows) or does not exist for "
                                       "this system") },
        { ExitCode::ResultUnknown, tr("the controller has the whole image but no result came (disconnected, or "
                                      "silent past --timeout)") },
        { ExitCode::LogIncomplete, tr("the controller did not send its whole log") },
        { ExitCode::Interrupted, tr("stopped with Ctrl+C") },
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
        ExitCode::ImageNotApproved, ExitCode::FileProblem,       ExitCode::ManifestIncomplete,
        ExitCode::ServerUnreachable, ExitCode::NewerUpdater,     ExitCode::NoAccess,
        ExitCode::NotSupported,    ExitCode::NotConfirmed,
    };
    for (ExitCode code : severity) {
        if (unitCodes.contains(code))
            return code;
    }
    // Any other failure still fails the station, whatever its code.
    for (ExitCode code : unitCodes) {
        if (code != ExitCode::Success && code != ExitCode::Interrupted)
            return code;
    }
    return unitCodes.contains(ExitCode::Interrupted) ? ExitCode::Interrupted : ExitCode::Success;
}

void StationTally::addEnded(ExitCode code)
{
    if (code == ExitCode::Success)
        ++done;
    else if (code != ExitCode::Interrupted)
        ++failed;
}
