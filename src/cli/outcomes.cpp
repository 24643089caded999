#include "outcomes.h"

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

// The controller has the whole image: what it does with it is unknown.
bool hasWholeImage(TransferEngine::Phase phase)
{
    return phase == TransferEngine::Phase::AwaitingVerdict || phase == TransferEngine::Phase::Applying;
}

QString findOutAdvice()
{
    return tr("do not power it off; reconnect it and run tavoro-flash list to see its firmware version");
}

} // namespace

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

Outcome transferFailed(TransferEngine::Failure failure, TransferEngine::Phase phase, const QString &updateFile)
{
    using F = TransferEngine::Failure;
    const QString again = tr("check the USB connection and run update again");
    switch (failure) {
    case F::FileNotLoaded:
        return outcome(ExitCode::FileProblem, QStringLiteral("file-problem"),
                       tr("Cannot read the update file %1 whole: check the disk and run update again.").arg(updateFile));
    case F::StartNotWritten:
        return outcome(ExitCode::ControllerGone, QStringLiteral("controller-gone"),
                       tr("Cannot write to the controller; it was not changed: %1.").arg(again));
    case F::DeviceTimeout:
        return outcome(ExitCode::TransferRefused, QStringLiteral("transfer-refused"),
                       tr("The controller timed out waiting for the image and keeps its old firmware: %1.").arg(again));
    case F::DeviceInternalError:
        return outcome(ExitCode::TransferRefused, QStringLiteral("transfer-refused"),
                       tr("The controller reported an internal error and keeps its old firmware: power it off and on, "
                          "then run update again."));
    case F::PacketsSkipped:
        return outcome(ExitCode::TransferRefused, QStringLiteral("transfer-refused"),
                       tr("The controller missed reports (packets skipped) and keeps its old firmware: %1.").arg(again));
    case F::WrongMd5:
        return outcome(ExitCode::WrongMd5, QStringLiteral("wrong-md5"),
                       tr("The controller rejected the image (wrong MD5) and keeps its old firmware: %1.").arg(again));
    case F::UpdateInternalError:
        return outcome(ExitCode::InstallFailed, QStringLiteral("install-failed"),
                       tr("The controller could not install the update (internal error): power it off and on, "
                          "then run update again."));
    case F::WrongFile:
        return outcome(ExitCode::InstallFailed, QStringLiteral("install-failed"),
                       tr("The controller rejected the image as a wrong file: make sure the firmware is for this model "
                          "(or run update without --file), then run update again."));
    case F::EndNotWritten:
        return outcome(ExitCode::ControllerGone, QStringLiteral("controller-gone"),
                       tr("Cannot send the end of the transfer to the controller: %1.").arg(again));
    case F::ConnectionLost:
        if (phase == TransferEngine::Phase::Applying) {
            return outcome(ExitCode::ResultUnknown, QStringLiteral("result-unknown"),
                           tr("The controller disconnected while installing; the result is unknown: reconnect it and "
                              "run tavoro-flash list to see its firmware version."));
        }
        if (hasWholeImage(phase)) {
            return outcome(ExitCode::ResultUnknown, QStringLiteral("result-unknown"),
                           tr("The controller disconnected after it had received the whole image; the result is "
                              "unknown and it may be installing the update: %1.").arg(findOutAdvice()));
        }
        return outcome(ExitCode::ControllerGone, QStringLiteral("controller-gone"),
                       tr("The controller disconnected in mid-transfer and keeps its old firmware: reconnect it "
                          "and run update again."));
    case F::LibraryMissing:
        return outcome(ExitCode::LibraryMissing, QStringLiteral("library-missing"),
                       tr("The transfer library for MOSS controllers is not installed: reinstall the Tavoro updater."));
    }
    // Only a value outside the enumeration gets here.
    return outcome(ExitCode::ControllerGone, QStringLiteral("controller-gone"), tr("The transfer failed."));
}

Outcome interrupted(TransferEngine::Phase phase)
{
    using P = TransferEngine::Phase;
    const QString name = QStringLiteral("interrupted");
    switch (phase) {
    case P::NothingSent:
        return outcome(ExitCode::Interrupted, name, tr("Stopped. The controller was not touched."));
    case P::PartlySent:
        return outcome(ExitCode::Interrupted, name,
                       tr("Stopped in mid-transfer: the controller holds a partial image, keeps its old firmware and "
                          "will time out. Run update again."));
    case P::AwaitingVerdict:
        return outcome(ExitCode::Interrupted, name,
                       tr("Stopped after the transfer: the controller has the whole image and may be checking or "
                          "installing it. Do not power it off; reconnect it and run tavoro-flash list to see its "
                          "firmware version."));
    case P::Applying:
    case P::Finished:  // not met: the run has ended with the verdict
        break;
    }
    return outcome(ExitCode::Interrupted, name,
                   tr("Stopped after the transfer: the controller is installing the update. Do not power it off "
                      "until it has finished."));
}

Outcome noVerdict(int seconds)
{
    return outcome(ExitCode::ResultUnknown, QStringLiteral("result-unknown"),
                   QCoreApplication::translate("Outcomes", "The controller has the whole image but reported no "
                                               "result within %n second(s); it may be installing the update: %1.",
                                               nullptr, seconds).arg(findOutAdvice()));
}

} // namespace Outcomes
