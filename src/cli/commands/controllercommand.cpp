#include "commands/controllercommand.h"

#include "protocol/models.h"

bool ControllerCommand::openController()
{
    const QList<ControllerEntry> entries = UpdateSession::attachedControllers();
    QList<ControllerEntry> matching;
    for (const ControllerEntry &entry : entries) {
        if (!request.serial.isEmpty() ? entry.serial == request.serial
                                      : request.device.isEmpty() || entry.paths.contains(request.device.toLocal8Bit()))
            matching.append(entry);
    }

    if (matching.isEmpty()) {
        if (entries.isEmpty())
            finish(Outcomes::noController());
        else if (!request.serial.isEmpty())
            finish(Outcomes::noControllerWithSerial(request.serial));
        else
            finish(!request.device.isEmpty() ? Outcomes::noControllerAt(request.device) : Outcomes::noController());
        return false;
    }
    if (matching.size() > 1) {
        showControllers(matching);
        finish(Outcomes::severalControllers(int(matching.size())));
        return false;
    }

    selected = matching.first();
    if (!session.connectTo(selected)) {
        finish(Outcomes::noAccess(selected.paths.first(), session.link().lastOpenError()));
        return false;
    }
    emit event(FlashEvents::controller(summaryOf(selected, session.reading())));
    return true;
}

QString ControllerCommand::controllerName() const
{
    const ModelInfo *model = modelForUnitType(selected.unitType);
    return tr("%1 at %2 (firmware %3)")
        .arg(model ? QLatin1String(model->name) : QString(), Outcomes::pathText(selected.paths.first()),
             FlashEvents::firmwareText(session.link().shownVersion()));
}
