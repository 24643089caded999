#ifndef OUTCOMES_H
#define OUTCOMES_H

#include "commandline.h"
#include "exitcode.h"

#include "session/updateresult.h"
#include "session/updatesession.h"
#include "update/modelfirmware.h"

#include <QString>

// How a run of the flasher ends: the exit code, the outcome's name in the
// JSON result and the one line that tells the user what to do.
struct Outcome
{
    ExitCode code;
    QString name;
    QString message;
};

// Every way a run of the flasher ends, as the user reads it. Pure.
namespace Outcomes {

// A HID path as text.
QString pathText(const QByteArray &path);
// hidapi's reason why a controller could not be opened, where it gave one.
QString openFailure(const QString &reason);

// Finding the controller.
Outcome listed(int count);
Outcome noController();
Outcome noControllerAt(const QString &path);
Outcome noControllerWithSerial(const QString &serial);
Outcome severalControllers(int count);
// The controller at `path` could not be opened, for hidapi's `reason`.
Outcome noAccess(const QByteArray &path, const QString &reason);

// The check.
// `installing`: the run was to install newer firmware.
Outcome upToDate(bool installing);
Outcome firmwareAvailable();
Outcome updateFileInPlace();
Outcome newerUpdater();
Outcome checkFailed(UpdateChecker::Problem problem);
// A station's firmware that could not be checked or downloaded.
Outcome firmwareFailed(const ModelFirmware::Failure &failure);

// Before the transfer.
Outcome cannotAsk();
Outcome notConfirmed();
// --file names no file (`exists` false) or an empty one.
Outcome unusableFile(const QString &path, bool exists);

// A station.
Outcome handPlacedAtStation(const QString &path);
// --file for controllers of several models.
Outcome severalModels(const QString &file);
// The closed library cannot tell two MOSS controllers apart.
Outcome mossNotAlone();
// Unplugged while its unit waited for the firmware.
Outcome leftBeforeStart();
// Back after an installed result: on the version it was sent, or on another.
Outcome verified(const QString &firmware);
Outcome notVerified(const QString &firmware, const QString &expected);

// The record file.
Outcome recordNotOpened(const QString &path, const QString &reason);
// The attempt ended with `ended`, but its record could not be written.
Outcome recordNotWritten(const QString &path, const QString &reason, const QString &ended);

// The device log.
Outcome pairHasNoLog();
Outcome logDownloaded(qint64 bytes);
Outcome logNotWritten(const QString &path, const QString &reason);
Outcome logInterrupted(const QString &path);
Outcome logIncomplete(const QString &path);
Outcome outputNotWritten(const QString &output, const QString &reason, const QString &log);

// What a user does about a controller that cannot be opened: on Linux, the
// udev rule and how to install and load it.
QString accessAdvice();

// How an update of the controller at `controllerPath` ended.
Outcome ended(const UpdateResult &result, const QByteArray &controllerPath);

// Stopped with Ctrl+C before anything was sent.
Outcome stoppedUntouched();

} // namespace Outcomes

#endif // OUTCOMES_H
