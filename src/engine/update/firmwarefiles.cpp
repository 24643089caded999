#include "firmwarefiles.h"

#include <QCoreApplication>

namespace FirmwareFiles {

QString programDirectory()
{
    return QCoreApplication::applicationDirPath();
}

QString updateFilePath()
{
    return programDirectory() + QLatin1String("/updater.sb");
}

QString overrideFilePath()
{
    return programDirectory() + QLatin1String("/SUPER_MEGA_UPDATE.sb");
}

} // namespace FirmwareFiles
