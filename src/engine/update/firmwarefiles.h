#ifndef FIRMWAREFILES_H
#define FIRMWAREFILES_H

#include <QString>

// The files of the update service in the program directory.
namespace FirmwareFiles {

QString programDirectory();
QString updateFilePath();      // "updater.sb": what "Update Device" sends
QString overrideFilePath();    // "SUPER_MEGA_UPDATE.sb": placed by hand

} // namespace FirmwareFiles

#endif // FIRMWAREFILES_H
