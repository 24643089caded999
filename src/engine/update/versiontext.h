#ifndef VERSIONTEXT_H
#define VERSIONTEXT_H

#include <QString>

// How version numbers are written, as the window and the flasher show
// them, and the window's update texts. Pure formatting.
namespace VersionText {

// An offered version as it arrives from the manifest: a base-10 integer,
// or 0 when the text is not one ("2.4", "abc").
int offeredNumber(const QString &text);

// Firmware versions count tenths: 23 -> "2.3", 105 -> "10.5", 7 -> "0.7".
QString firmware(int tenths);

// Updater versions: 14 -> "0.14", 9 -> "0.9", 100 -> "0.100".
QString updater(int version);

// The two lines of the firmware offer for a unit at `deviceVersion`.
QString firmwareOffer(int deviceVersion, const QString &offeredVersion);

// The two lines of the updater offer.
QString updaterOffer(const QString &offeredVersion);

// A problem report's text: `msg`, then a line break and `msg2` unless
// `msg2` is null. An empty, non-null `msg2` leaves a trailing line break.
QString problem(const QString &msg, const QString &msg2);

} // namespace VersionText

#endif // VERSIONTEXT_H
