// Connecting a controller: the search by product ID, opening one unit or
// the two halves of a pair, and reading the firmware version.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "device/hidstrings.h"
#include "device/models.h"
#include "device/reports.h"
#include "devlog/logdownloader.h"
#include "update/updatechecker.h"

#include <QDebug>
#include <QMessageBox>

#include <memory>

namespace {

using EnumerationList = std::unique_ptr<hid_device_info, decltype(&hid_free_enumeration)>;

EnumerationList enumerate(unsigned short productId)
{
    return EnumerationList(hid_enumerate(vendorId, productId), &hid_free_enumeration);
}

void logEntry(const hid_device_info *entry)
{
    qDebug() << "device" << hidText(entry->product_string);
    qDebug() << "manufacturer_string" << hidText(entry->manufacturer_string);
    qDebug() << "cur dev pid=" << entry->product_id;
}

// Opens the device at `path`. When that fails, hidapi's reason goes to the
// program log, so that a missing access right can be told from an absent
// device. Returns the new handle, owned by the caller, or null.
hid_device *openDevicePath(const char *path)
{
    hid_device *handle = hid_open_path(path);
    if (!handle)
        qDebug() << "can't open device" << QString::fromLocal8Bit(path) << hidText(hid_error(nullptr));
    return handle;
}

// Reads the first report `handle` sends, waiting up to a second, and takes
// the version byte of `unitType` from it. Returns false, with a warning in
// the program log and `version` untouched, when nothing arrived.
bool readVersion(hid_device *handle, int unitType, quint8 *version)
{
    unsigned char payload[Report::payloadSize] = {};
    if (hid_read_timeout(handle, payload, sizeof payload, Report::versionReadTimeout) <= 0) {
        qErrnoWarning("Can't read current version\n");
        return false;
    }
    *version = Report::versionByte(payload, unitType);
    return true;
}

} // namespace

// Tries the models in table order and connects the first one found; a
// model's position in the table becomes the unit type. The first half of a
// two-unit model waits in `pendingHalf` until its other half turns up.
void MainWindow::connectSlot()
{
    pendingHalf = PendingHalf();
    pairMode = pairModeOff;

    for (int candidate = 0; candidate < unitTypeCount; ++candidate) {
        unitType = candidate;
        const Report::Layout layout = Report::layoutForUnitType(candidate);
        commandOffset = layout.commandOffset;
        dataOffset = layout.dataOffset;

        const EnumerationList entries = enumerate(modelForUnitType(candidate)->productId);
        const hid_device_info *selected = nullptr;
        for (const hid_device_info *entry = entries.get(); entry; entry = entry->next) {
            logEntry(entry);
            if (!isTavoroProduct(entry->product_string))
                continue;
            if (!isHalf(candidate)) {
                selected = entry;
                break;
            }
            if (!pendingHalf.isSet) {
                pendingHalf.isSet = 1;
                pendingHalf.unitType = candidate;
                pendingHalf.path = QByteArray(entry->path);
            } else if (otherHalf(pendingHalf.unitType) == candidate) {
                pairMode = pairModeOn;
                const PendingHalf leftHalf = pendingHalf;
                pendingHalf = PendingHalf();
                if (!identifyDevice(entry, leftHalf))
                    showNotFound();
                return;
            }
            // Any other half (a second listing of the pending one, or a half
            // of another model) cannot complete the pending pair.
        }

        // A single unit found while a half waits for its partner is not opened.
        if (pendingHalf.isSet)
            continue;
        if (identifyDevice(selected))
            return;
    }
    showNotFound();
}

// Single mode. Returns false when `entry` is null or cannot be opened; once
// the device is open the connection counts as made, even if its version
// cannot be read.
bool MainWindow::identifyDevice(const hid_device_info *entry)
{
    if (!entry)
        return false;
    hid_device *opened = openDevicePath(entry->path);
    if (!opened)
        return false;
    device = opened;
    ui->connect_button->setEnabled(false);

    quint8 version = 0;
    if (readVersion(device, unitType, &version)) {
        deviceVersion = version;
        updateChecker->setCurrentVersion(QString::number(version));
    }

    QMessageBox::information(this, tr("Info"), tr(modelForUnitType(unitType)->announcement));

    logDownloader->setDevice(device, unitType);
    updateChecker->setUnitType(unitType);
    updateChecker->checkVersion();
    return true;
}

// Pair mode: `rightHalf` is opened as `device`, `leftHalf` as `secondDevice`.
// The update checker compares with the right half's version; `deviceVersion`
// ends with the left half's. Returns false when either half cannot be
// opened; a right half already open then stays open as `device`. The log
// download works on single units only, so the downloader gets no handle.
bool MainWindow::identifyDevice(const hid_device_info *rightHalf, const PendingHalf &leftHalf)
{
    hid_device *right = openDevicePath(rightHalf->path);
    if (!right)
        return false;
    device = right;
    hid_device *left = openDevicePath(leftHalf.path.constData());
    if (!left)
        return false;
    secondDevice = left;
    ui->connect_button->setEnabled(false);

    quint8 version = 0;
    if (readVersion(device, unitType, &version)) {
        deviceVersion = version;
        updateChecker->setCurrentVersion(QString::number(version));
    }
    if (readVersion(secondDevice, leftHalf.unitType, &version))
        deviceVersion = version;

    QMessageBox::information(this, tr("Info"), tr(modelForUnitType(unitType)->announcement));

    updateChecker->setUnitType(unitType);
    updateChecker->checkVersion();
    return true;
}

void MainWindow::showNotFound()
{
    QMessageBox::critical(this, tr("Error"), tr("Device is not found.\nPlease connect."));
}
