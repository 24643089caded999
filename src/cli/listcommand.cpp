#include "listcommand.h"

void ListCommand::start()
{
    const QList<ControllerEntry> entries = ControllerLink::attachedControllers();
    const QString firstFailure = showControllers(entries);
    if (entries.isEmpty())
        finish(Outcomes::noController());
    else if (!firstFailure.isEmpty())
        finish(Outcomes::noAccess(firstFailure));
    else
        finish(Outcomes::listed(int(entries.size())));
}
