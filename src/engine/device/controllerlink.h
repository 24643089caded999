#ifndef CONTROLLERLINK_H
#define CONTROLLERLINK_H

#include "protocol/reports.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <hidapi.h>

#include <optional>

// One attached controller as an enumeration finds it: a single unit, or
// both halves of a two-unit model.
struct ControllerEntry
{
    int unitType = -1;        // the model's position in the model table
    QList<QByteArray> paths;  // HID path; a pair: right half, then left half
    QString serial;           // the USB serial number (a pair: the right half's); empty: it has none
};

// The connection to one controller: finding it among the attached HID
// devices, opening it (a single unit, or the two halves of a pair) and
// reading the firmware version it runs. Owns the handles it opens and
// closes them when it is destroyed or connects anew.
//
// Not thread-safe; the log downloader's worker thread may use device()
// only as its own contract allows. Links on threads of their own may work
// at once: what they ask of hidapi's process-wide state goes through
// HidLibrary.
class ControllerLink
{
public:
    ControllerLink() = default;
    ~ControllerLink();
    ControllerLink(const ControllerLink &) = delete;
    ControllerLink &operator=(const ControllerLink &) = delete;

    // Every attached controller, in model-table order, the two halves of a
    // pair as one entry. Opens nothing; one enumeration. Any thread.
    static QList<ControllerEntry> attachedControllers();

    // The search of "Connect": the models in table order, the first found is
    // opened and its version read. A half waits for its other half; a single
    // unit found meanwhile is passed over. False when nothing could be
    // opened; a pair's right half that opened stays open then.
    bool connectFirst();

    // Opens the controller of `entry` and reads its version. False when a
    // path could not be opened.
    bool connectTo(const ControllerEntry &entry);

    // Closes every handle; the link is unconnected afterwards.
    void close();

    bool isConnected() const { return device_ != nullptr && (!pairMode || secondDevice_ != nullptr); }
    hid_device *device() const { return device_; }              // the unit, or a pair's right half
    hid_device *secondDevice() const { return secondDevice_; }  // a pair's left half, else null
    bool isPair() const { return pairMode; }
    int unitType() const { return unitType_; }
    Report::Layout layout() const { return Report::layoutForUnitType(unitType_); }

    // The version the update check compares with (a pair's right half);
    // empty when it could not be read.
    std::optional<quint8> checkedVersion() const { return checkedVersion_; }
    // The version the window shows, as read on this connection: a pair's
    // left half's where it could be read, else the right half's; empty when
    // neither could be read.
    std::optional<quint8> shownVersion() const { return shownVersion_; }
    // The last shownVersion() that was read, kept across connections; 0
    // before any.
    quint8 deviceVersion() const { return deviceVersion_; }

    // hidapi's reason for the last path that could not be opened (such as
    // "Permission denied"); empty when the last open succeeded.
    QString lastOpenError() const { return lastOpenError_; }

private:
    hid_device *open(const QByteArray &path);
    bool connectSingle(int unitType, const QByteArray &path);
    bool connectPair(int rightType, const QByteArray &rightPath, const QByteArray &leftPath);
    void readVersions();

    hid_device *device_ = nullptr;
    hid_device *secondDevice_ = nullptr;
    bool pairMode = false;
    int unitType_ = 0;
    std::optional<quint8> checkedVersion_;
    std::optional<quint8> shownVersion_;
    quint8 deviceVersion_ = 0;
    QString lastOpenError_;
};

#endif // CONTROLLERLINK_H
