#include "manifest.h"

#include "common/version.h"
#include "protocol/models.h"

#include <QStringList>
#include <QUrl>

namespace Manifest {

QByteArray withoutCarriageReturns(const QByteArray &bytes)
{
    QByteArray result = bytes;
    result.replace('\r', QByteArray());
    return result;
}

QMap<QString, QString> entries(const QByteArray &body)
{
    const int nul = body.indexOf('\0');
    const QString text = QString::fromUtf8(body.constData(), nul < 0 ? body.size() : nul);

    QMap<QString, QString> result;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        result.insert(line.left(equals), line.mid(equals + 1));
    }
    return result;
}

QString modelKey(int unitType, bool *known)
{
    const ModelInfo *model = modelForUnitType(unitType);
    if (known)
        *known = model != nullptr;
    return QLatin1String(model ? model->manifestKey : "CALYX2");
}

// Tolerant parsing, because servers write addresses as people type them:
// blanks, "//" inside the path, non-ASCII letters. Only the scheme and the
// host decide; the address itself is never rewritten.
bool isWebAddress(const QString &address)
{
    const QUrl url(address, QUrl::TolerantMode);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"))
           && !url.host().isEmpty();
}

bool isNewerFirmware(const QString &offered, int current)
{
    return offered.toDouble() > current;
}

int firmwareNumber(const QString &offered)
{
    return int(offered.toDouble());
}

Check evaluate(const QByteArray &body, int unitType, const QString &currentVersion)
{
    const QMap<QString, QString> map = entries(body);

    Check check;
    const QString key = modelKey(unitType, &check.unitTypeKnown);
    Values &values = check.values;
    values.firmwareVersion = map.value(key + QLatin1String("Ver"));
    values.firmwareBinaryUrl = map.value(key + QLatin1String("Bin"));
    values.firmwareChangeLogUrl = map.value(key + QLatin1String("ChangeLog"));
    values.mainVersion = map.value(QStringLiteral("MainVer"));
    values.mainChangeLogUrl = map.value(QStringLiteral("MainChangeLog"));
    values.mainBinaryUrl = map.value(QStringLiteral("WinMainBin"));
    check.updaterAddressRefused = !values.mainBinaryUrl.isEmpty() && !isWebAddress(values.mainBinaryUrl);

    if (values.firmwareVersion.isEmpty() || values.firmwareBinaryUrl.isEmpty()
        || values.firmwareChangeLogUrl.isEmpty() || values.mainBinaryUrl.isEmpty() || check.updaterAddressRefused
        || values.mainVersion.isEmpty()) {
        check.outcome = Outcome::InformationMissing;
        return check;
    }

    // Text that is not a number reads as 0, which never counts as newer.
    if (values.mainVersion.toInt(nullptr, 10) > updaterVersion) {
        check.outcome = Outcome::UpdaterOutdated;
        return check;
    }
    check.outcome = isNewerFirmware(values.firmwareVersion, currentVersion.toInt())
                        ? Outcome::FirmwareOutdated
                        : Outcome::UpToDate;
    return check;
}

} // namespace Manifest
