#include "controllerlink.h"

#include "device/hidlibrary.h"
#include "device/hidstrings.h"
#include "protocol/models.h"

#include <QDebug>
#include <QHash>
#include <QVector>

namespace {

void logEntry(const hid_device_info *entry)
{
    qDebug() << "device" << hidText(entry->product_string);
    qDebug() << "manufacturer_string" << hidText(entry->manufacturer_string);
    qDebug() << "cur dev pid=" << entry->product_id;
}

// The paths of the attached Tavoro devices by unit type, each once (a
// device is listed once per usage), in the order hidapi lists them, and
// their serial numbers in `serials`. One enumeration for all models: on
// Windows each one opens every HID interface of the machine, and the
// flasher's station asks several times a second.
QVector<QList<QByteArray>> tavoroPathsByUnitType(QHash<QByteArray, QString> &serials)
{
    QVector<QList<QByteArray>> paths(unitTypeCount);
    const HidLibrary::Enumeration entries = HidLibrary::enumerate(vendorId, 0);
    for (const hid_device_info *entry = entries.get(); entry; entry = entry->next) {
        const int unitType = unitTypeForProductId(entry->product_id);
        const QByteArray path(entry->path);
        if (unitType >= 0 && isTavoroProduct(entry->product_string) && !paths.at(unitType).contains(path)) {
            paths[unitType].append(path);
            serials.insert(path, hidText(entry->serial_number));
        }
    }
    return paths;
}

// Reads the first report `handle` sends, waiting up to a second, and takes
// the version byte of `unitType` from it. Empty, with a warning in the
// program log, when nothing arrived.
std::optional<quint8> readVersion(hid_device *handle, int unitType)
{
    unsigned char payload[Report::payloadSize] = {};
    if (hid_read_timeout(handle, payload, sizeof payload, Report::versionReadTimeout) <= 0) {
        qErrnoWarning("Can't read current version\n");
        return std::nullopt;
    }
    return Report::versionByte(payload, unitType);
}

} // namespace

ControllerLink::~ControllerLink()
{
    close();
}

QList<ControllerEntry> ControllerLink::attachedControllers()
{
    QHash<QByteArray, QString> serials;
    const QVector<QList<QByteArray>> pathsByType = tavoroPathsByUnitType(serials);
    QList<ControllerEntry> controllers;
    for (int type = 0; type < unitTypeCount; ++type) {
        const QList<QByteArray> &paths = pathsByType.at(type);
        if (!isHalf(type)) {
            for (const QByteArray &path : paths)
                controllers.append({ type, { path }, serials.value(path) });
            continue;
        }
        // A pair is listed under its second half in table order, as
        // "Connect" finds it; halves without a partner are left out.
        const int partner = otherHalf(type);
        if (partner > type)
            continue;
        const QList<QByteArray> &partnerPaths = pathsByType.at(partner);
        for (int i = 0; i < qMin(paths.size(), partnerPaths.size()); ++i)
            controllers.append({ type, { paths.at(i), partnerPaths.at(i) }, serials.value(paths.at(i)) });
    }
    return controllers;
}

bool ControllerLink::connectFirst()
{
    close();
    int pendingType = -1;
    QByteArray pendingPath;

    for (int candidate = 0; candidate < unitTypeCount; ++candidate) {
        unitType_ = candidate;
        const HidLibrary::Enumeration entries =
            HidLibrary::enumerate(vendorId, modelForUnitType(candidate)->productId);
        const hid_device_info *selected = nullptr;
        for (const hid_device_info *entry = entries.get(); entry; entry = entry->next) {
            logEntry(entry);
            if (!isTavoroProduct(entry->product_string))
                continue;
            if (!isHalf(candidate)) {
                selected = entry;
                break;
            }
            if (pendingType < 0) {
                pendingType = candidate;
                pendingPath = QByteArray(entry->path);
            } else if (otherHalf(pendingType) == candidate) {
                return connectPair(candidate, QByteArray(entry->path), pendingPath);
            }
            // Any other half (a second listing of the pending one, or a half
            // of another model) cannot complete the pending pair.
        }

        // A single unit found while a half waits for its partner is not opened.
        if (pendingType >= 0 || !selected)
            continue;
        if (connectSingle(candidate, QByteArray(selected->path)))
            return true;
    }
    return false;
}

bool ControllerLink::connectTo(const ControllerEntry &entry)
{
    close();
    if (entry.paths.size() == 2)
        return connectPair(entry.unitType, entry.paths.at(0), entry.paths.at(1));
    return entry.paths.size() == 1 && connectSingle(entry.unitType, entry.paths.first());
}

void ControllerLink::close()
{
    if (secondDevice_)
        hid_close(secondDevice_);
    if (device_)
        hid_close(device_);
    device_ = nullptr;
    secondDevice_ = nullptr;
    pairMode = false;
    checkedVersion_.reset();
    shownVersion_.reset();
}

// When the open fails, hidapi's reason goes to the program log, so that a
// missing access right can be told from an absent device.
hid_device *ControllerLink::open(const QByteArray &path)
{
    hid_device *handle = HidLibrary::openPath(path.constData(), &lastOpenError_);
    if (!handle)
        qDebug() << "can't open device" << QString::fromLocal8Bit(path) << lastOpenError_;
    return handle;
}

// Once the unit is open the connection counts as made, even if its version
// cannot be read.
bool ControllerLink::connectSingle(int unitType, const QByteArray &path)
{
    unitType_ = unitType;
    device_ = open(path);
    if (!device_)
        return false;
    readVersions();
    return true;
}

bool ControllerLink::connectPair(int rightType, const QByteArray &rightPath, const QByteArray &leftPath)
{
    unitType_ = rightType;
    pairMode = true;
    device_ = open(rightPath);
    if (!device_)
        return false;
    secondDevice_ = open(leftPath);
    if (!secondDevice_)
        return false;
    readVersions();
    return true;
}

// The update check compares with the unit's (a pair's right half's)
// version; the shown version is a pair's left half's where it could be
// read.
void ControllerLink::readVersions()
{
    checkedVersion_ = readVersion(device_, unitType_);
    shownVersion_ = checkedVersion_;
    if (secondDevice_) {
        if (const std::optional<quint8> left = readVersion(secondDevice_, otherHalf(unitType_)))
            shownVersion_ = left;
    }
    if (shownVersion_)
        deviceVersion_ = *shownVersion_;
}
