#include "versiontext.h"

#include "common/version.h"

namespace VersionText {

int offeredNumber(const QString &text)
{
    return text.toInt(nullptr, 10);
}

QString firmware(int tenths)
{
    return QString::number(tenths / 10) + QLatin1Char('.') + QString::number(tenths % 10);
}

QString updater(int version)
{
    return QLatin1String("0.") + QString::number(version);
}

QString firmwareOffer(int deviceVersion, const QString &offeredVersion)
{
    return QLatin1String("Your unit current version: ") + firmware(deviceVersion)
           + QLatin1String("\nLatest version: ") + firmware(offeredNumber(offeredVersion));
}

QString updaterOffer(const QString &offeredVersion)
{
    return QLatin1String("Your Tavoro updater version: ") + updater(updaterVersion)
           + QLatin1String("\nLatest version: ") + updater(offeredNumber(offeredVersion));
}

QString problem(const QString &msg, const QString &msg2)
{
    if (msg2.isNull())
        return msg;
    return msg + QLatin1Char('\n') + msg2;
}

} // namespace VersionText
