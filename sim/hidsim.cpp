#include "hidsim.h"

#include "misuselog.h"
#include "registry.h"
#include "standardcontroller.h"

#include <protocol/models.h>

namespace HidSim {

Controller attach(const DeviceDescription &description, const ControllerSettings &settings)
{
    return Registry::instance().attach(description, settings);
}

Controller attachModel(int unitType, unsigned char version)
{
    const ModelInfo *model = modelForUnitType(unitType);
    if (!model)
        return nullptr;
    DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = model->productId;
    ControllerSettings settings;
    settings.unitType = unitType;
    settings.version = version;
    return attach(description, settings);
}

void detach(const Controller &controller)
{
    Registry::instance().detach(controller);
}

void reset()
{
    Registry::instance().reset();
}

int enumerationCount()
{
    return Registry::instance().enumerationCount();
}

int openHandleCount()
{
    return Registry::instance().openHandleCount();
}

QStringList takeMisuse()
{
    return MisuseLog::take();
}

} // namespace HidSim
