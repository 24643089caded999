#ifndef CONTROLLERCOMMAND_H
#define CONTROLLERCOMMAND_H

#include "commands/command.h"

#include "session/updatesession.h"

// A command that works on one controller, through an update session: with
// one attached it takes it; with several it refuses, lists them and asks
// for --device. It never guesses which unit to work on.
class ControllerCommand : public Command
{
    Q_OBJECT

protected:
    using Command::Command;

    // Finds the one controller the request names and connects the session
    // to it; false after finishing with the reason.
    bool openController();
    // "MODEL at PATH (firmware X.Y)", for questions.
    QString controllerName() const;
    // The path of the controller openController() found.
    QByteArray selectedPath() const { return selected.paths.value(0); }
    const ControllerEntry &selectedEntry() const { return selected; }

    UpdateSession session;

private:
    ControllerEntry selected;
};

#endif // CONTROLLERCOMMAND_H
