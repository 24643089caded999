#include "scenario.h"

#include "common/version.h"
#include "protocol/models.h"
#include "protocol/reports.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Demo {

namespace {

const char *const outcomeTexts[] = {
    "update", "up-to-date", "newer-updater", "unreachable", "wrong-md5", "no-controller", "incomplete-manifest",
};

const QByteArray downloadSite = QByteArrayLiteral("http://" TAVORO_DOWNLOAD_HOST);
const QByteArray manifestPath = QByteArrayLiteral("/TVDownloadSite/wp-content/uploads/versions.txt");
const QByteArray firmwareFolder = QByteArrayLiteral("/TVDownloadSite/wp-content/uploads/firmware/");
const QByteArray updaterChangeLogPath = QByteArrayLiteral("/TVDownloadSite/updater/changelog.txt");
const QByteArray updaterSetupPath = QByteArrayLiteral("/TVDownloadSite/updater/TavoroUpdaterSetup.exe");

// Models the manifest lists besides the demo's own all sit at this version.
constexpr int otherModelsVersion = 24;

QString normalisedName(const QString &name)
{
    return name.toUpper().remove(QLatin1Char(' '));
}

// Tenths as the window shows them: 13 -> "1.3".
QByteArray versionText(int tenths)
{
    return QByteArray::number(tenths / 10) + '.' + QByteArray::number(tenths % 10);
}

QByteArray firmwareFileName(const QByteArray &key, int version)
{
    return key + '_' + QByteArray::number(version);
}

QList<QByteArray> manifestKeys()
{
    QList<QByteArray> keys;
    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const QByteArray key = modelForUnitType(unitType)->manifestKey;
        if (!keys.contains(key))
            keys.append(key);
    }
    return keys;
}

// `offered`: the version offered for each attached controller's model, by
// manifest key. The model of `withoutImage` (when given) has no image
// address: an incomplete manifest. `fractional`: the versions are written
// with a fraction, as a server may.
QByteArray manifest(const QHash<QByteArray, int> &offered, int mainVersion, const QByteArray &withoutImage,
                    bool fractional)
{
    QByteArray text = "MainVer=" + QByteArray::number(mainVersion) + '\n'
                      + "MainChangeLog=" + downloadSite + updaterChangeLogPath + '\n'
                      + "WinMainBin=" + downloadSite + updaterSetupPath + '\n';
    for (const QByteArray &key : manifestKeys()) {
        const int version = offered.value(key, otherModelsVersion);
        const QByteArray file = downloadSite + firmwareFolder + firmwareFileName(key, version);
        text += key + "Ver=" + QByteArray::number(version) + (fractional ? ".0\n" : "\n");
        if (key != withoutImage)
            text += key + "Bin=" + file + ".sb\n";
        text += key + "ChangeLog=" + file + ".txt\n";
    }
    return text;
}

QByteArray firmwareChangeLog(const QByteArray &key, int version)
{
    return key + " firmware " + versionText(version) + "\n\n"
           + "- Steadier USB link on busy hubs\n"
           + "- Faster start after power on\n"
           + "- Fixes a stuck key after sleep\n";
}

QByteArray updaterChangeLog(int version)
{
    return "Tavoro updater 0." + QByteArray::number(version) + "\n\n"
           + "- Remembers the window position\n"
           + "- Clearer messages when the controller is unplugged\n";
}

// A recognisable header, then bytes that look like a compressed image. The
// same settings always give the same image.
QByteArray firmwareImage(const QByteArray &key, int version, int size)
{
    QByteArray image = "TAVORO FIRMWARE " + key + ' ' + versionText(version) + '\n';
    image.reserve(size);
    quint32 state = 2166136261u;  // FNV-1a of the header seeds the generator
    for (char byte : image)
        state = (state ^ quint8(byte)) * 16777619u;
    while (image.size() < size) {
        state = state * 1664525u + 1013904223u;
        image.append(char(state >> 24));
    }
    image.truncate(size);
    return image;
}

// One attached controller: a single unit or both halves of a pair.
struct Controller
{
    QList<int> unitTypes;
    Unit unit;
};

QByteArray simulatorConfig(const Settings &settings, const QList<Controller> &controllers)
{
    QJsonArray devices;
    if (settings.outcome != Outcome::NoController) {
        for (const Controller &controller : controllers) {
            for (int unitType : controller.unitTypes) {
                QJsonObject device {
                    { QStringLiteral("model"), unitType },
                    { QStringLiteral("version"), controller.unit.version },
                    { QStringLiteral("applyTimeMs"), settings.applyTimeMs },
                };
                if (settings.outcome == Outcome::WrongMd5)
                    device.insert(QStringLiteral("verdict"), int(Report::statusWrongMd5));
                if (controller.unit.attachAfterMs > 0)
                    device.insert(QStringLiteral("attachAfterMs"), controller.unit.attachAfterMs);
                devices.append(device);
            }
        }
    }
    QJsonObject config { { QStringLiteral("devices"), devices } };
    if (!settings.recordFile.isEmpty())
        config.insert(QStringLiteral("recordFile"), settings.recordFile);
    return QJsonDocument(config).toJson();
}

} // namespace

QStringList outcomeNames()
{
    QStringList names;
    for (const char *text : outcomeTexts)
        names.append(QLatin1String(text));
    return names;
}

std::optional<Outcome> outcomeFromName(const QString &name)
{
    const int index = outcomeNames().indexOf(name);
    if (index < 0)
        return std::nullopt;
    return Outcome(index);
}

QList<int> unitTypesForModel(const QString &name)
{
    const QString wanted = normalisedName(name);
    QList<int> unitTypes;
    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const QString modelName = QLatin1String(modelForUnitType(unitType)->name);
        QStringList names = modelName.split(QLatin1Char('/'));
        names.append(modelName);
        for (const QString &candidate : names) {
            if (!wanted.isEmpty() && normalisedName(candidate) == wanted) {
                unitTypes.append(unitType);
                break;
            }
        }
    }
    return unitTypes;
}

std::optional<Unit> unitFromText(const QString &text, QString *error)
{
    QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Unit unit;
    bool ok = true;
    if (words.size() >= 3 && words.last().startsWith(QLatin1Char('+'))) {
        unit.attachAfterMs = words.takeLast().mid(1).toInt(&ok);
        ok = ok && unit.attachAfterMs >= 0;
    }
    if (ok && words.size() >= 2)
        unit.version = words.takeLast().toInt(&ok);
    else
        ok = false;
    if (!ok) {
        *error = QStringLiteral("\"%1\" is not \"MODEL VERSION\" or \"MODEL VERSION +MS\"").arg(text);
        return std::nullopt;
    }
    unit.model = words.join(QLatin1Char(' '));
    return unit;
}

std::optional<Scenario> makeScenario(const Settings &settings, QString *error)
{
    QList<Controller> controllers;
    for (const Unit &unit : QList<Unit> { { settings.model, settings.version, 0 } } + settings.moreUnits) {
        const QList<int> unitTypes = unitTypesForModel(unit.model);
        if (unitTypes.isEmpty()) {
            *error = QStringLiteral("no controller model is called \"%1\"").arg(unit.model);
            return std::nullopt;
        }
        if (unit.version < 0 || unit.version > 255) {
            *error = QStringLiteral("the firmware version must be a number from 0 to 255 (14 is version 1.4)");
            return std::nullopt;
        }
        controllers.append({ unitTypes, unit });
    }
    if (settings.imageSize < 0 || settings.applyTimeMs < 0) {
        *error = QStringLiteral("image size and apply time cannot be negative");
        return std::nullopt;
    }

    const bool current = settings.outcome == Outcome::UpToDate;
    QHash<QByteArray, int> offered;
    for (const Controller &controller : controllers) {
        const QByteArray key = modelForUnitType(controller.unitTypes.first())->manifestKey;
        if (!offered.contains(key))
            offered.insert(key, current ? controller.unit.version : controller.unit.version + 1);
    }
    const int mainVersion = settings.outcome == Outcome::NewerUpdater ? updaterVersion + 1 : updaterVersion;

    Scenario scenario;
    scenario.unitTypes = controllers.first().unitTypes;
    scenario.serverReachable = settings.outcome != Outcome::Unreachable;
    scenario.simulatorConfig = simulatorConfig(settings, controllers);
    const QByteArray ownKey = modelForUnitType(scenario.unitTypes.first())->manifestKey;
    scenario.files.insert(manifestPath,
                          { manifest(offered, mainVersion,
                                     settings.outcome == Outcome::IncompleteManifest ? ownKey : QByteArray(),
                                     settings.fractionalVersions),
                            "text/plain" });
    scenario.files.insert(updaterChangeLogPath, { updaterChangeLog(mainVersion), "text/plain; charset=utf-8" });
    for (auto model = offered.cbegin(); model != offered.cend(); ++model) {
        const QByteArray firmwarePath = firmwareFolder + firmwareFileName(model.key(), model.value());
        const QByteArray image = firmwareImage(model.key(), model.value(), settings.imageSize);
        scenario.files.insert(firmwarePath + ".txt",
                              { firmwareChangeLog(model.key(), model.value()), "text/plain; charset=utf-8" });
        scenario.files.insert(firmwarePath + ".sb", { image, "application/octet-stream" });
        if (model.key() == ownKey) {
            scenario.offeredVersion = model.value();
            scenario.image = image;
            scenario.imagePath = firmwarePath + ".sb";
        }
    }
    return scenario;
}

} // namespace Demo
