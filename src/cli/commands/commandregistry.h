#ifndef COMMANDREGISTRY_H
#define COMMANDREGISTRY_H

#include "commands/command.h"

#include <QList>
#include <QString>

// Every command of the flasher, in the order the help lists them. A new
// command is a class that declares its CommandInfo, and one line here.
namespace CommandRegistry {

const QList<CommandInfo> &commands();

// The command named `name`; nullptr for none.
const CommandInfo *find(const QString &name);

} // namespace CommandRegistry

#endif // COMMANDREGISTRY_H
