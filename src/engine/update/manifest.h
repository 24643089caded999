#ifndef MANIFEST_H
#define MANIFEST_H

#include <QByteArray>
#include <QMap>
#include <QString>

// The version manifest on the download server: "key=value" lines naming,
// per model key, the latest firmware version with the addresses of its
// image and change log, and the latest updater with its change log and
// download address.
namespace Manifest {

// What a check of the manifest concludes, in the order it is decided.
enum class Outcome {
    InformationMissing,  // a required entry is absent or empty
    UpdaterOutdated,     // "MainVer" is newer than this updater; firmware not compared
    FirmwareOutdated,    // the model's firmware version is newer than the unit's
    UpToDate,
};

// The six entries the program reads, empty when absent.
struct Values
{
    QString firmwareVersion;       // <model key>Ver
    QString firmwareBinaryUrl;     // <model key>Bin
    QString firmwareChangeLogUrl;  // <model key>ChangeLog
    QString mainVersion;           // MainVer
    QString mainChangeLogUrl;      // MainChangeLog (not required)
    QString mainBinaryUrl;         // WinMainBin
};

struct Check
{
    Values values;
    Outcome outcome = Outcome::InformationMissing;
    bool unitTypeKnown = true;  // false: the fallback model key was used
    // The "WinMainBin" value is present but not a web address, so it
    // counts as missing: it would otherwise reach the desktop's opener.
    bool updaterAddressRefused = false;
};

// Removes every carriage-return byte, so that CR LF and LF lines read alike.
QByteArray withoutCarriageReturns(const QByteArray &bytes);

// Splits the body (UTF-8, read up to its first NUL byte) into entries.
// A line's key is the text before its first "=", its value all text after
// it; nothing is trimmed, lines without "=" are skipped and a later
// duplicate replaces an earlier one.
QMap<QString, QString> entries(const QByteArray &body);

// The prefix of the model's manifest keys. An unknown unit type gets
// "CALYX2" and `known` (when given) is set to false.
QString modelKey(int unitType, bool *known = nullptr);

// True for an absolute "http://" or "https://" address with a host, however
// the rest is written (blanks, "//" in the path, a query, a fragment,
// non-ASCII): the only kind the desktop's opener is handed. False for
// another scheme, a relative or local path and a share ("//host/share").
bool isWebAddress(const QString &address);

// Whether the manifest's `offered` firmware version is newer than the
// controller's `current` one. Text that is not a number reads as 0; a
// fraction is allowed ("13.0").
bool isNewerFirmware(const QString &offered, int current);

// The manifest's `offered` firmware version in tenths as that comparison
// reads it, without a fraction ("13.0" is 13); 0 when it is not a number.
// The window shows offered versions by a stricter reading of its own.
int firmwareNumber(const QString &offered);

// Reads the body for the unit of `unitType` that runs `currentVersion`
// (decimal text of its one-byte version) and decides the outcome.
Check evaluate(const QByteArray &body, int unitType, const QString &currentVersion);

} // namespace Manifest

#endif // MANIFEST_H
