#ifndef SCENARIO_H
#define SCENARIO_H

// What a demo run or an end-to-end test puts in front of the updater:
// simulated controllers, each of one model at one firmware version, and the
// files of the download server for one outcome of the update check.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace Demo {

enum class Outcome {
    Update,         // newer firmware; the controller installs it
    UpToDate,       // the manifest names the controller's own version
    NewerUpdater,   // the manifest names a newer updater
    Unreachable,    // nothing answers at the download server's address
    WrongMd5,       // the controller rejects the image's digest
    NoController,   // no controller is attached
    IncompleteManifest,  // the manifest lacks the model's firmware image address
};

// The outcomes' names on the command line, in declaration order:
// "update", "up-to-date", "newer-updater", "unreachable", "wrong-md5",
// "no-controller", "incomplete-manifest".
QStringList outcomeNames();
std::optional<Outcome> outcomeFromName(const QString &name);

// The unit types a model name stands for: one, or both halves of a
// two-unit model, in search order. Case and blanks do not matter, and a
// model sold under two names ("IRIS / IRIS S") answers to either. Empty
// when no model has that name.
QList<int> unitTypesForModel(const QString &name);

// A further controller attached beside the first.
struct Unit
{
    QString model;                // a name unitTypesForModel() knows
    int version = 14;             // its firmware version byte, 0..255
    int attachAfterMs = 0;        // plugged in this long after the program's first look; 0: from the start
};

// "MODEL VERSION" or "MODEL VERSION +MS" (plugged in MS milliseconds after
// the program's first look), such as "GLYPH PRO 12" or "EBONY 13 +5000".
// nullopt, with the reason in *error, for any other text; the model name
// itself is checked by makeScenario.
std::optional<Unit> unitFromText(const QString &text, QString *error);

struct Settings
{
    QString model;                // the first controller: a name unitTypesForModel() knows
    int version = 14;             // its firmware version byte, 0..255
    QList<Unit> moreUnits;        // further controllers, attached after it in this order
    Outcome outcome = Outcome::Update;
    int imageSize = 200003;       // bytes of the offered firmware image; 0: an empty one
    bool fractionalVersions = false;  // the manifest writes firmware versions as "13.0", not "13"
    int applyTimeMs = 6000;       // the controller's time to install it
    QString recordFile;           // the simulator's log of received reports; empty: none
};

struct Download
{
    QByteArray body;
    QByteArray contentType;
};

struct Scenario
{
    QList<int> unitTypes;                 // the first controller's devices
    int offeredVersion = 0;               // the manifest's firmware version for its model
    QByteArray image;                     // the firmware image the server offers for it
    QByteArray imagePath;                 // ... at this path
    QHash<QByteArray, Download> files;    // what the download server answers, by path
    QByteArray simulatorConfig;           // JSON for TAVORO_HIDSIM_CONFIG
    bool serverReachable = true;
};

// Every controller's model gets its own manifest entry, change log and
// image; where several controllers share a model, the first of them sets
// the version offered. nullopt, with the reason in *error, for an unknown
// model, a version outside 0..255 or a negative size or time.
std::optional<Scenario> makeScenario(const Settings &settings, QString *error);

} // namespace Demo

#endif // SCENARIO_H
