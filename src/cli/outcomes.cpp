#include "outcomes.h"

#include "update/firmwarefiles.h"

#include <QCoreApplication>

namespace Outcomes {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Outcomes", text);
}

Outcome outcome(ExitCode code, const QString &name, const QString &message)
{
    return { code, name, message };
}

} // namespace

QString pathText(const QByteArray &path)
{
    return QString::fromLocal8Bit(path);
}

QString openFailure(const QString &reason)
{
    return reason.isEmpty() ? tr("no answer") : reason;
}

Outcome listed(int count)
{
    return outcome(ExitCode::Success, QStringLiteral("listed"),
                   QCoreApplication::translate("Outcomes", "%n controller(s) attached.", nullptr, count));
}

Outcome noController()
{
    return outcome(ExitCode::NoController, QStringLiteral("no-controller"),
                   tr("No Tavoro controller found: connect one over USB and run again."));
}

Outcome noControllerAt(const QString &path)
{
    return outcome(ExitCode::NoController, QStringLiteral("no-controller"),
                   tr("No controller at %1: run tavoro-flash list to see the attached ones.").arg(path));
}

Outcome noControllerWithSerial(const QString &serial)
{
    return outcome(ExitCode::NoController, QStringLiteral("no-controller"),
                   tr("No controller with the serial number %1: run tavoro-flash list to see the attached ones.")
                       .arg(serial));
}

// The choice is the user's, never a guess.
Outcome severalControllers(int count)
{
    return outcome(ExitCode::SeveralControllers, QStringLiteral("several-controllers"),
                   tr("%1 controllers are attached: choose one with --device PATH (the paths are listed above).")
                       .arg(count));
}

Outcome noAccess(const QByteArray &path, const QString &reason)
{
    return outcome(ExitCode::NoAccess, QStringLiteral("no-access"),
                   tr("Cannot open the controller at %1 (%2): %3.")
                       .arg(pathText(path), openFailure(reason), accessAdvice()));
}

Outcome upToDate(bool installing)
{
    return outcome(ExitCode::Success, QStringLiteral("up-to-date"),
                   installing ? tr("Nothing to install.") : tr("Nothing to do."));
}

Outcome firmwareAvailable()
{
    return outcome(ExitCode::FirmwareAvailable, QStringLiteral("firmware-available"),
                   tr("Newer firmware is available: run tavoro-flash update to install it."));
}

Outcome updateFileInPlace()
{
    return outcome(ExitCode::FirmwareAvailable, QStringLiteral("firmware-available"),
                   tr("An update file is in place: run tavoro-flash update to install it."));
}

Outcome newerUpdater()
{
    return outcome(ExitCode::NewerUpdater, QStringLiteral("newer-updater"),
                   tr("Install the newer Tavoro updater first, then run again."));
}

Outcome firmwareFailed(const ModelFirmware::Failure &failure)
{
    return failure.newerUpdater ? newerUpdater() : checkFailed(failure.problem);
}

Outcome checkFailed(UpdateChecker::Problem problem)
{
    switch (problem) {
    case UpdateChecker::Problem::Connection:
        break;
    case UpdateChecker::Problem::ManifestIncomplete:
        return outcome(ExitCode::ManifestIncomplete, QStringLiteral("manifest-incomplete"),
                       tr("The download server %1 answered, but its version list lacks an entry for this controller "
                          "or the updater: try again later, or report it to Tavoro support.")
                           .arg(QStringLiteral(TAVORO_DOWNLOAD_HOST)));
    case UpdateChecker::Problem::FirmwareNotSaved:
        return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                       tr("Cannot save the firmware in %1: check free space and write access there, then run again.")
                           .arg(FirmwareFiles::programDirectory()));
    }
    return outcome(ExitCode::ServerUnreachable, QStringLiteral("server-unreachable"),
                   tr("Cannot reach the download server %1: check the internet connection (and the http_proxy "
                      "setting), then run again.").arg(QStringLiteral(TAVORO_DOWNLOAD_HOST)));
}

Outcome cannotAsk()
{
    return outcome(ExitCode::NotConfirmed, QStringLiteral("not-confirmed"),
                   tr("Nothing done: an update needs confirmation, and there is no terminal to ask on; add --yes."));
}

Outcome notConfirmed()
{
    return outcome(ExitCode::NotConfirmed, QStringLiteral("not-confirmed"),
                   tr("Nothing done: the update was not confirmed. The controller was not touched."));
}

Outcome unusableFile(const QString &path, bool exists)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   exists ? tr("The firmware file %1 is empty: check the path given to --file.").arg(path)
                          : tr("No firmware file at %1: check the path given to --file.").arg(path));
}

Outcome handPlacedAtStation(const QString &path)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("A hand-placed update file is in place (%1), and a station cannot tell which model it is for: "
                      "give it with --file, or remove it, then run again.").arg(path));
}

Outcome severalModels(const QString &file)
{
    return outcome(ExitCode::SeveralControllers, QStringLiteral("several-models"),
                   tr("Controllers of several models are attached, and %1 is for one: attach only controllers of "
                      "its model, or run without --file.").arg(file));
}

Outcome mossNotAlone()
{
    return outcome(ExitCode::NotSupported, QStringLiteral("not-supported"),
                   tr("Several MOSS controllers are attached, and their transfer library cannot tell them apart: "
                      "flash them one at a time."));
}

Outcome leftBeforeStart()
{
    return outcome(ExitCode::ControllerGone, QStringLiteral("controller-gone"),
                   tr("The controller was unplugged before its update started; it was not touched and keeps its "
                      "old firmware."));
}

Outcome verified(const QString &firmware)
{
    return outcome(ExitCode::Success, QStringLiteral("verified"),
                   tr("Plugged in again, the controller runs firmware %1, as it was sent.").arg(firmware));
}

Outcome notVerified(const QString &firmware, const QString &expected)
{
    return outcome(ExitCode::InstallFailed, QStringLiteral("not-verified"),
                   tr("Plugged in again, the controller runs firmware %1, not %2 as it was sent: it did not "
                      "install the update and is flashed again.")
                       .arg(firmware, expected));
}

Outcome recordNotOpened(const QString &path, const QString &reason)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot open the record file %1 for appending (%2): nothing was flashed. Give a writable "
                      "file with --record.")
                       .arg(path, reason));
}

Outcome recordNotWritten(const QString &path, const QString &reason, const QString &ended)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot write to the record file %1 (%2): no further controller is flashed. %3")
                       .arg(path, reason, ended).trimmed());
}

Outcome pairHasNoLog()
{
    return outcome(ExitCode::NotSupported, QStringLiteral("not-supported"),
                   tr("The log of a two-unit controller cannot be downloaded: connect a single-unit controller."));
}

Outcome logDownloaded(qint64 bytes)
{
    return outcome(ExitCode::Success, QStringLiteral("log-downloaded"),
                   QCoreApplication::translate("Outcomes", "Device log downloaded (%n byte(s)).", nullptr,
                                               int(bytes)));
}

Outcome logNotWritten(const QString &path, const QString &reason)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot write the device log %1 (%2): check free space and write access there, then run "
                      "again.").arg(path, reason));
}

Outcome logInterrupted(const QString &path)
{
    return outcome(ExitCode::Interrupted, QStringLiteral("interrupted"),
                   tr("Stopped. The part of the log received so far is in %1.").arg(path));
}

Outcome logIncomplete(const QString &path)
{
    return outcome(ExitCode::LogIncomplete, QStringLiteral("log-incomplete"),
                   tr("The controller did not send its whole log: reconnect it and run log again "
                      "(the part received is in %1).").arg(path));
}

Outcome outputNotWritten(const QString &output, const QString &reason, const QString &log)
{
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot write %1 (%2), which is left as it was: check the path, free space and write "
                      "access; the log is in %3.").arg(output, reason, log));
}

QString accessAdvice()
{
#if defined(Q_OS_LINUX)
    return tr("install the udev rule 70-tavoro-updater.rules into /lib/udev/rules.d or /etc/udev/rules.d "
              "(from the source tree: sudo cp packaging/linux/70-tavoro-updater.rules /etc/udev/rules.d/), "
              "run sudo udevadm control --reload, then unplug and replug the controller");
#else
    return tr("close other programs that use the controller, unplug and replug it, and run again");
#endif
}

namespace {

using Cause = UpdateResult::Cause;
using End = UpdateResult::End;
using Holds = UpdateResult::Holds;

QString again()
{
    return tr("check the USB connection and run update again");
}

Outcome notStarted(const UpdateResult &result, const QByteArray &controllerPath)
{
    switch (result.cause) {
    case Cause::NotOpened:
        return noAccess(controllerPath, result.openError);
    case Cause::EmptyImage:
        return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                       tr("The firmware image %1 is empty, so nothing was sent and the controller was not touched: "
                          "remove it and run again.").arg(result.imagePath));
    case Cause::ImageNotApproved:
        return outcome(ExitCode::ImageNotApproved, QStringLiteral("image-not-approved"),
                       tr("The firmware image %1 is not the approved one (its SHA-256 differs from --sha256), so "
                          "nothing was sent and the controller was not touched: get the approved image, or ask for "
                          "the SHA-256 of the one to send.").arg(result.imagePath));
    case Cause::LibraryMissing:
#if defined(Q_OS_WIN)
        return outcome(ExitCode::LibraryMissing, QStringLiteral("library-missing"),
                       tr("The transfer library for MOSS controllers is not installed: reinstall the Tavoro updater."));
#else
        return outcome(ExitCode::LibraryMissing, QStringLiteral("library-missing"),
                       tr("MOSS controllers are updated with the Tavoro updater for Windows: their transfer library "
                          "exists only there. The controller was not touched."));
#endif
    default:
        break;
    }
    return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot read the update file %1 whole: check the disk and run update again.")
                       .arg(result.imagePath));
}

Outcome refused(const UpdateResult &result)
{
    const QString name = QStringLiteral("transfer-refused");
    switch (result.cause) {
    case Cause::DeviceInternalError:
        return outcome(ExitCode::TransferRefused, name,
                       tr("The controller reported an internal error and keeps its old firmware: power it off and on, "
                          "then run update again."));
    case Cause::PacketsSkipped:
        return outcome(ExitCode::TransferRefused, name,
                       tr("The controller missed reports (packets skipped) and keeps its old firmware: %1.")
                           .arg(again()));
    default:
        break;
    }
    return outcome(ExitCode::TransferRefused, name,
                   tr("The controller timed out waiting for the image and keeps its old firmware: %1.").arg(again()));
}

Outcome failed(const UpdateResult &result)
{
    if (result.cause == Cause::UpdateInternalError) {
        return outcome(ExitCode::InstallFailed, QStringLiteral("install-failed"),
                       tr("The controller could not install the update (internal error): power it off and on, "
                          "then run update again."));
    }
    const QString name = QStringLiteral("controller-gone");
    if (result.cause == Cause::NoAnswer) {
        return outcome(ExitCode::ControllerGone, name,
                       QCoreApplication::translate("Outcomes", "The controller stopped answering while it took "
                                                   "the image (nothing for %n second(s)) and keeps its old firmware: "
                                                   "%1.", nullptr,
                                                   result.deadlineSeconds).arg(again()));
    }
    if (result.holds == Holds::Untouched) {
        return outcome(ExitCode::ControllerGone, name,
                       tr("Cannot write to the controller; it was not changed: %1.").arg(again()));
    }
    if (result.cause == Cause::NotWritten) {
        return outcome(ExitCode::ControllerGone, name,
                       tr("Cannot send the rest of the transfer to the controller, which keeps its old firmware: %1.")
                           .arg(again()));
    }
    return outcome(ExitCode::ControllerGone, name,
                   tr("The controller disconnected in mid-transfer and keeps its old firmware: reconnect it "
                      "and run update again."));
}

QString findOutAdvice()
{
    return tr("do not power it off; reconnect it and run tavoro-flash list to see its firmware version");
}

Outcome resultUnknown(const UpdateResult &result)
{
    const QString name = QStringLiteral("result-unknown");
    switch (result.cause) {
    case Cause::NoVerdict:
        return outcome(ExitCode::ResultUnknown, name,
                       QCoreApplication::translate("Outcomes", "The controller has the whole image but reported no "
                                                   "result within %n second(s); it may be installing the update: %1.",
                                                   nullptr, result.deadlineSeconds).arg(findOutAdvice()));
    case Cause::StopTooLate:
        return outcome(ExitCode::ResultUnknown, name,
                       tr("Stopped, but the controller already had the whole image, and may be checking or "
                          "installing it: %1.").arg(findOutAdvice()));
    default:
        break;
    }
    if (result.holds == Holds::Installing) {
        return outcome(ExitCode::ResultUnknown, name,
                       tr("The controller disconnected while installing; the result is unknown: reconnect it and "
                          "run tavoro-flash list to see its firmware version."));
    }
    return outcome(ExitCode::ResultUnknown, name,
                   tr("The controller disconnected after it had received the whole image; the result is "
                      "unknown and it may be installing the update: %1.").arg(findOutAdvice()));
}

Outcome stopped(Holds holds)
{
    const QString name = QStringLiteral("interrupted");
    switch (holds) {
    case Holds::Untouched:
        return outcome(ExitCode::Interrupted, name, tr("Stopped. The controller was not touched."));
    case Holds::PartialImage:
    case Holds::OldFirmware:
        return outcome(ExitCode::Interrupted, name,
                       tr("Stopped in mid-transfer: the controller holds a partial image, keeps its old firmware and "
                          "will time out. Run update again."));
    case Holds::WholeImage:
        return outcome(ExitCode::Interrupted, name,
                       tr("Stopped after the transfer: the controller has the whole image and may be checking or "
                          "installing it. Do not power it off; reconnect it and run tavoro-flash list to see its "
                          "firmware version."));
    case Holds::Installing:
    case Holds::Installed:
        break;
    }
    return outcome(ExitCode::Interrupted, name,
                   tr("Stopped after the transfer: the controller is installing the update. Do not power it off "
                      "until it has finished."));
}

} // namespace

Outcome ended(const UpdateResult &result, const QByteArray &controllerPath)
{
    switch (result.end) {
    case End::Installed:
        return outcome(ExitCode::Success, QStringLiteral("installed"),
                       tr("Update installed. Disconnect the controller (or power it off) and reconnect it: "
                          "it then runs the new firmware."));
    case End::InstallingOnItsOwn:
        return outcome(ExitCode::Success, QStringLiteral("installing"),
                       tr("The controller installs the update on its own now: do not power it off until it has "
                          "finished."));
    case End::NotStarted:
        return notStarted(result, controllerPath);
    case End::Refused:
        return refused(result);
    case End::Rejected:
        if (result.cause == Cause::WrongMd5) {
            return outcome(ExitCode::WrongMd5, QStringLiteral("wrong-md5"),
                           tr("The controller rejected the image (wrong MD5) and keeps its old firmware: %1.")
                               .arg(again()));
        }
        return outcome(ExitCode::InstallFailed, QStringLiteral("install-failed"),
                       tr("The controller rejected the image as a wrong file: make sure the firmware is for this model "
                          "(or run update without --file), then run update again."));
    case End::Failed:
        return failed(result);
    case End::ResultUnknown:
        return resultUnknown(result);
    case End::Stopped:
        break;
    }
    return stopped(result.holds);
}

Outcome stoppedUntouched()
{
    return stopped(Holds::Untouched);
}

} // namespace Outcomes
