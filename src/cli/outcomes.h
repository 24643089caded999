#ifndef OUTCOMES_H
#define OUTCOMES_H

#include "commandline.h"
#include "exitcode.h"

#include "session/updatesession.h"
#include "transfer/transferengine.h"

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
Outcome severalControllers(int count);
// The controller at `path` could not be opened, for hidapi's `reason`.
Outcome noAccess(const QByteArray &path, const QString &reason);

// The check.
Outcome upToDate(FlashRequest::Command command);
Outcome firmwareAvailable();
Outcome updateFileInPlace();
Outcome newerUpdater();
Outcome checkFailed(UpdateChecker::Problem problem);

// Before the transfer.
Outcome cannotAsk();
Outcome notConfirmed();
// --file names no file (`exists` false) or an empty one.
Outcome unusableFile(const QString &path, bool exists);
Outcome installed(UpdateSession::Installation installation);

// A station.
Outcome handPlacedAtStation(const QString &path);
// --file for controllers of several models.
Outcome severalModels(const QString &file);
// The closed library cannot tell two MOSS controllers apart.
Outcome mossNotAlone();

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

// A failed transfer of `updateFile`; `phase`: how far it had come.
Outcome transferFailed(TransferEngine::Failure failure, TransferEngine::Phase phase, const QString &updateFile);

// A transfer stopped with Ctrl+C at `phase`.
Outcome interrupted(TransferEngine::Phase phase);

// The controller had the whole image and gave no verdict within `seconds`.
Outcome noVerdict(int seconds);

} // namespace Outcomes

#endif // OUTCOMES_H
