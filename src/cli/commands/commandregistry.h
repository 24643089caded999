#ifndef COMMANDREGISTRY_H
#define COMMANDREGISTRY_H

#include "commands/command.h"

#include <QList>
#include <QString>

// Every command of the flasher, in the order the help lists them. A new
// command is a class that declares its CommandSpec, and one line here.
namespace CommandRegistry {

const QList<CommandSpec> &commands();

// The command named `name`; nullptr for none.
const CommandSpec *find(const QString &name);

} // namespace CommandRegistry

#endif // COMMANDREGISTRY_H
