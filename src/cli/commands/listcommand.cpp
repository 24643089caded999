#include "commands/listcommand.h"

CommandInfo ListCommand::info()
{
    using C = ExitCode;
    return { "list", "list [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "Lists every attached controller: model, firmware version and HID path(s)."),
             {  },
             { C::Success, C::Usage, C::NoController, C::NoAccess },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 return std::make_unique<ListCommand>(request, canAsk);
             } };
}

void ListCommand::start()
{
    const QList<ControllerEntry> entries = UpdateSession::attachedControllers();
    const std::optional<ControllerSummary> firstFailure = showControllers(entries);
    if (entries.isEmpty())
        finish(Outcomes::noController());
    else if (firstFailure)
        finish(Outcomes::noAccess(firstFailure->paths.first(), firstFailure->openError));
    else
        finish(Outcomes::listed(int(entries.size())));
}
