#ifndef OUTCOMES_H
#define OUTCOMES_H

#include "exitcode.h"

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

// The outcomes whose wording depends on the platform or on what failed.
// Pure.
namespace Outcomes {

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
