#ifndef LISTCOMMAND_H
#define LISTCOMMAND_H

#include "commands/command.h"

// "list": every attached controller, each opened in turn to read its
// version.
class ListCommand : public Command
{
    Q_OBJECT

public:
    static CommandInfo info();
    ListCommand(const FlashRequest &request, bool canAsk) : Command(request, canAsk) {}
    void start() override;
};

#endif // LISTCOMMAND_H
