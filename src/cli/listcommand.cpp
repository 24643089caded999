#include "listcommand.h"

void ListCommand::start()
{
    const QList<ControllerEntry> entries = ControllerLink::attachedControllers();
    const std::optional<ControllerSummary> firstFailure = showControllers(entries);
    if (entries.isEmpty())
        finish(Outcomes::noController());
    else if (firstFailure)
        finish(Outcomes::noAccess(firstFailure->paths.first(), firstFailure->openError));
    else
        finish(Outcomes::listed(int(entries.size())));
}
