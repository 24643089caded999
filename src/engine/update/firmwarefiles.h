#ifndef FIRMWAREFILES_H
#define FIRMWAREFILES_H

#include <QObject>
#include <QString>

// An image ready to be sent, and where it came from.
struct FirmwareFile
{
    Q_GADGET

public:
    enum class Source {
        Downloaded,  // the offered firmware, stored by the update check
        HandPlaced,  // the override file in the program directory: no online check
        Given,       // a file a face named (the flasher's --file)
    };
    Q_ENUM(Source)

    QString path;
    Source source = Source::Downloaded;
};
Q_DECLARE_METATYPE(FirmwareFile)

// The files of the update service in the program directory.
namespace FirmwareFiles {

QString programDirectory();
QString updateFilePath();      // "updater.sb": what "Update Device" sends
QString overrideFilePath();    // "SUPER_MEGA_UPDATE.sb": placed by hand

} // namespace FirmwareFiles

#endif // FIRMWAREFILES_H
