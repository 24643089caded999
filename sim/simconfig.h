#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include "hidsim.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace HidSim {

// One device of a configuration file, with the faults it may name.
struct ConfiguredDevice
{
    DeviceDescription description;
    ControllerSettings settings;
    std::optional<quint8> verdict;
    std::optional<quint8> startReply;
    bool silent = false;
    bool openFails = false;
    int unplugAfterWrites = 0;  // 0: stays attached
    WritePacing writePacing = WritePacing::Immediate;
    int attachAfterMs = 0;      // plugged in this long after the first hidapi call; 0: from the start
    int unplugAfterMs = 0;      // unplugged this long after the first hidapi call; 0: stays attached
    // Plugged in again at its path this long after it was unplugged (by
    // either of the two fields above), as the same device with `replugVersion`
    // (none: its own version) that is not unplugged again; 0: stays away.
    int replugAfterMs = 0;
    std::optional<quint8> replugVersion;
    int libraryBytesPerSecond = 0;  // the closed library's stand-in moves this many to it a second; 0: at once
};

struct SimConfig
{
    std::vector<ConfiguredDevice> devices;
    QString recordFile;  // empty: no recording
};

// Parses a configuration file's JSON text (format in sim/README.md). File
// names in it are taken relative to `baseDirectory`. On invalid input
// returns nullopt and says why in *error.
std::optional<SimConfig> parseConfig(const QByteArray &json, const QString &baseDirectory,
                                     QString *error);

} // namespace HidSim

#endif // SIMCONFIG_H
