#include "exitcode.h"

#include <QCoreApplication>

QList<ExitCodeInfo> exitCodeTable()
{
    const auto tr = [](const char *text) { return QCoreApplication::translate("ExitCode", text); };
    const QString list = QStringLiteral("list");
    const QString check = QStringLiteral("check");
    const QString update = QStringLiteral("update");
    const QString log = QStringLiteral("log");
    const QStringList all { list, check, update, log };
    const QStringList device { check, update, log };
    return {
        { ExitCode::Success, tr("done: listed, firmware current, update installed, log downloaded"), all },
        { ExitCode::Usage, tr("unknown command or option, or a missing or invalid value"), all },
        { ExitCode::NoController, tr("no controller attached, or none at the --device path"), all },
        { ExitCode::NoAccess, tr("a controller could not be opened (on Linux: install the udev rule)"), all },
        { ExitCode::SeveralControllers, tr("several controllers attached: choose one with --device"), device },
        { ExitCode::NotSupported, tr("the command does not work with this controller"), { log } },
        { ExitCode::FirmwareAvailable, tr("newer firmware is available"), { check } },
        { ExitCode::NewerUpdater, tr("a newer updater must be installed first"), { check, update } },
        { ExitCode::ServerUnreachable, tr("the download server could not be reached"), { check, update } },
        { ExitCode::FileProblem, tr("a file could not be written or read: firmware, update file, device log, --output"), { update, log } },
        { ExitCode::ManifestIncomplete, tr("the server's version list lacks an entry for the controller or the updater"), { check, update } },
        { ExitCode::NotConfirmed, tr("not confirmed (no terminal: use --yes)"), { update } },
        { ExitCode::TransferRefused, tr("the controller refused the transfer; it keeps its firmware"), { update } },
        { ExitCode::WrongMd5, tr("the controller rejected the image (wrong MD5); it keeps its firmware"), { update } },
        { ExitCode::InstallFailed, tr("the controller could not install the image"), { update } },
        { ExitCode::ControllerGone, tr("the controller was disconnected or stopped taking reports; it keeps its "
                                       "firmware"), { update } },
        { ExitCode::LibraryMissing, tr("the transfer library of MOSS controllers is not installed"), { update } },
        { ExitCode::ResultUnknown, tr("the controller has the whole image but no result came (disconnected, or "
                                      "silent past --timeout)"), { update } },
        { ExitCode::LogIncomplete, tr("the controller did not send its whole log"), { log } },
        { ExitCode::Interrupted, tr("stopped with Ctrl+C"), device },
    };
}
