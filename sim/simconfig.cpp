#include "simconfig.h"

#include <protocol/models.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStringList>

#include <cmath>

namespace HidSim {

namespace {

// Reads the fields of one JSON object, remembering the first problem.
class FieldReader
{
public:
    FieldReader(const QJsonObject &object, const QString &where) : object(object), where(where) {}

    bool has(const QString &key)
    {
        known.insert(key);
        return object.contains(key);
    }

    bool isNull(const QString &key) { return has(key) && object.value(key).isNull(); }

    // An integer in [low, high], or `fallback` when the key is absent.
    int integer(const QString &key, int low, int high, int fallback)
    {
        if (!has(key))
            return fallback;
        const QJsonValue value = object.value(key);
        const double number = value.toDouble(std::nan(""));
        if (!value.isDouble() || number != std::floor(number) || number < low || number > high) {
            fail(QStringLiteral("\"%1\" must be an integer from %2 to %3").arg(key).arg(low).arg(high));
            return fallback;
        }
        return int(number);
    }

    std::optional<quint8> statusOrNull(const QString &key)
    {
        if (!has(key) || isNull(key))
            return std::nullopt;
        return quint8(integer(key, 0, 15, 0));
    }

    bool boolean(const QString &key, bool fallback)
    {
        if (!has(key))
            return fallback;
        if (!object.value(key).isBool()) {
            fail(QStringLiteral("\"%1\" must be true or false").arg(key));
            return fallback;
        }
        return object.value(key).toBool();
    }

    // One of `names` (their position), or `fallback` when the key is absent.
    int choice(const QString &key, const QStringList &names, int fallback)
    {
        if (!has(key))
            return fallback;
        const int index = names.indexOf(object.value(key).toString());
        if (!object.value(key).isString() || index < 0) {
            fail(QStringLiteral("\"%1\" must be one of: %2").arg(key, names.join(QStringLiteral(", "))));
            return fallback;
        }
        return index;
    }

    QString string(const QString &key)
    {
        if (!has(key))
            return QString();
        if (!object.value(key).isString()) {
            fail(QStringLiteral("\"%1\" must be a string").arg(key));
            return QString();
        }
        return object.value(key).toString();
    }

    // Call after reading every field: unknown keys are most likely typos.
    bool finish(QString *error)
    {
        for (const QString &key : object.keys()) {
            if (!known.contains(key))
                fail(QStringLiteral("unknown field \"%1\"").arg(key));
        }
        if (!problem.isEmpty())
            *error = where + QStringLiteral(": ") + problem;
        return problem.isEmpty();
    }

    void fail(const QString &text)
    {
        if (problem.isEmpty())
            problem = text;
    }

private:
    QJsonObject object;
    QString where;
    QSet<QString> known;
    QString problem;
};

std::optional<std::wstring> wideStringOrNull(FieldReader &fields, const QString &key,
                                             const std::wstring &fallback)
{
    if (fields.isNull(key))
        return std::nullopt;
    if (!fields.has(key))
        return fallback;
    return fields.string(key).toStdWString();
}

std::optional<ConfiguredDevice> parseDevice(const QJsonObject &object, int index,
                                            const QString &baseDirectory, QString *error)
{
    FieldReader fields(object, QStringLiteral("device %1").arg(index));
    ConfiguredDevice device;
    if (!fields.has(QStringLiteral("model")))
        fields.fail(QStringLiteral("\"model\" (the unit type) is missing"));
    const ModelInfo *model = modelForUnitType(fields.integer(QStringLiteral("model"), 0, unitTypeCount - 1, 0));

    device.description.vendorId = vendorId;
    device.description.productId = model->productId;
    device.description.product = wideStringOrNull(fields, QStringLiteral("product"), L"Tavoro HID");
    device.description.manufacturer = wideStringOrNull(fields, QStringLiteral("manufacturer"), L"Tavoro");
    device.description.serialNumber = wideStringOrNull(fields, QStringLiteral("serial"), std::wstring());
    device.description.listings = fields.integer(QStringLiteral("listings"), 1, 16, 1);

    ControllerSettings &settings = device.settings;
    settings.unitType = model->unitType;
    settings.version = quint8(fields.integer(QStringLiteral("version"), 0, 255, settings.version));
    settings.sendsVersionReport = fields.boolean(QStringLiteral("sendsVersionReport"), true);
    settings.applyTimeMs = fields.integer(QStringLiteral("applyTimeMs"), 0, 3600000, 0);
    settings.reportsTransferComplete = fields.boolean(QStringLiteral("reportsTransferComplete"), true);

    const QString log = fields.string(QStringLiteral("log"));
    const QString logFile = fields.string(QStringLiteral("logFile"));
    if (!log.isEmpty() && !logFile.isEmpty())
        fields.fail(QStringLiteral("give \"log\" or \"logFile\", not both"));
    if (!log.isEmpty()) {
        const auto decoded = QByteArray::fromBase64Encoding(log.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            fields.fail(QStringLiteral("\"log\" is not base64"));
        settings.log = *decoded;
    }
    if (!logFile.isEmpty()) {
        QFile file(QDir(baseDirectory).absoluteFilePath(logFile));
        if (!file.open(QIODevice::ReadOnly))
            fields.fail(QStringLiteral("cannot read \"logFile\" %1").arg(file.fileName()));
        settings.log = file.readAll();
    }

    device.verdict = fields.statusOrNull(QStringLiteral("verdict"));
    device.startReply = fields.statusOrNull(QStringLiteral("startReply"));
    device.silent = fields.boolean(QStringLiteral("silent"), false);
    device.openFails = fields.boolean(QStringLiteral("openFails"), false);
    device.unplugAfterWrites = fields.integer(QStringLiteral("unplugAfterWrites"), 0, 100000000, 0);
    // In the order of WritePacing.
    const QStringList pacings { QStringLiteral("immediate"), QStringLiteral("usbFrame"),
                                QStringLiteral("occasionalStall") };
    device.writePacing = WritePacing(fields.choice(QStringLiteral("writePacing"), pacings, 0));
    device.attachAfterMs = fields.integer(QStringLiteral("attachAfterMs"), 0, 3600000, 0);
    device.unplugAfterMs = fields.integer(QStringLiteral("unplugAfterMs"), 0, 3600000, 0);
    if (device.unplugAfterMs > 0 && device.unplugAfterMs <= device.attachAfterMs)
        fields.fail(QStringLiteral("\"unplugAfterMs\" must come after \"attachAfterMs\""));
    device.replugAfterMs = fields.integer(QStringLiteral("replugAfterMs"), 0, 3600000, 0);
    if (device.replugAfterMs > 0 && device.unplugAfterMs == 0 && device.unplugAfterWrites == 0)
        fields.fail(QStringLiteral("\"replugAfterMs\" needs \"unplugAfterMs\" or \"unplugAfterWrites\""));
    if (fields.has(QStringLiteral("replugVersion"))) {
        device.replugVersion = quint8(fields.integer(QStringLiteral("replugVersion"), 0, 255, 0));
        if (device.replugAfterMs == 0)
            fields.fail(QStringLiteral("\"replugVersion\" needs \"replugAfterMs\""));
    }
    device.libraryBytesPerSecond = fields.integer(QStringLiteral("libraryBytesPerSecond"), 0, 1000000000, 0);

    if (!fields.finish(error))
        return std::nullopt;
    return device;
}

} // namespace

std::optional<SimConfig> parseConfig(const QByteArray &json, const QString &baseDirectory,
                                     QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? parseError.errorString()
                     : QStringLiteral("the configuration must be a JSON object");
        return std::nullopt;
    }

    FieldReader fields(document.object(), QStringLiteral("configuration"));
    SimConfig config;
    const QString recordFile = fields.string(QStringLiteral("recordFile"));
    if (!recordFile.isEmpty())
        config.recordFile = QDir(baseDirectory).absoluteFilePath(recordFile);
    const QJsonValue devices = document.object().value(QStringLiteral("devices"));
    if (fields.has(QStringLiteral("devices")) && !devices.isArray())
        fields.fail(QStringLiteral("\"devices\" must be an array"));
    if (!fields.finish(error))
        return std::nullopt;

    const QJsonArray entries = devices.toArray();
    for (int index = 0; index < entries.size(); ++index) {
        if (!entries.at(index).isObject()) {
            *error = QStringLiteral("device %1: must be a JSON object").arg(index);
            return std::nullopt;
        }
        const auto device = parseDevice(entries.at(index).toObject(), index, baseDirectory, error);
        if (!device)
            return std::nullopt;
        config.devices.push_back(*device);
    }
    return config;
}

} // namespace HidSim
