#include "commands/commandregistry.h"

#include "commands/checkcommand.h"
#include "commands/listcommand.h"
#include "commands/logcommand.h"
#include "commands/reportcommand.h"
#include "commands/updatecommand.h"
#include "station/watchcommand.h"

namespace CommandRegistry {

const QList<CommandSpec> &commands()
{
    static const QList<CommandSpec> all {
        ListCommand::spec(),
        CheckCommand::spec(),
        UpdateCommand::spec(),
        LogCommand::spec(),
        WatchCommand::spec(),
        ReportCommand::spec(),
    };
    return all;
}

const CommandSpec *find(const QString &name)
{
    for (const CommandSpec &spec : commands()) {
        if (name == QLatin1String(spec.name))
            return &spec;
    }
    return nullptr;
}

} // namespace CommandRegistry
