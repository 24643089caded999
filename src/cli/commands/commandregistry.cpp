#include "commands/commandregistry.h"

#include "commands/checkcommand.h"
#include "commands/listcommand.h"
#include "commands/logcommand.h"
#include "commands/reportcommand.h"
#include "commands/updatecommand.h"
#include "station/watchcommand.h"

namespace CommandRegistry {

const QList<CommandInfo> &commands()
{
    static const QList<CommandInfo> all {
        ListCommand::info(),
        CheckCommand::info(),
        UpdateCommand::info(),
        LogCommand::info(),
        WatchCommand::info(),
        ReportCommand::info(),
    };
    return all;
}

const CommandInfo *find(const QString &name)
{
    for (const CommandInfo &entry : commands()) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

} // namespace CommandRegistry
