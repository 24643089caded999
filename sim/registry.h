#ifndef REGISTRY_H
#define REGISTRY_H

#include "devicehandle.h"
#include "hidsim.h"
#include "simconfig.h"

#include <QString>

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace HidSim {

class ReportRecorder;
class StandardController;

// The attached virtual devices and the open handles, behind the hidapi
// functions and the control interface. Thread-safe. Lock order: the
// registry's lock before a controller's, never the other way round.
class Registry
{
public:
    static Registry &instance();

    // Attaches the devices of the file named by TAVORO_HIDSIM_CONFIG, if
    // any; only the first call does anything. A device the file plugs in
    // later is attached by the first enumeration or open once its time has
    // come, as a program that watches for new devices would find it.
    void configureOnce();

    // An empty path in `description` is replaced by a unique one.
    std::shared_ptr<StandardController> attach(DeviceDescription description,
                                               const ControllerSettings &settings);
    void detach(const Controller &controller);
    void reset();

    // Appends every report any device receives from now on to `path`.
    void recordWrites(const QString &path);

    // hid_enumerate: a list the caller frees with freeEnumeration, or
    // nullptr when no device matches (0 matches any ID).
    hid_device_info *enumerate(unsigned short vendorId, unsigned short productId);
    static void freeEnumeration(hid_device_info *entries);

    // hid_open_path and hid_open: a new handle, or nullptr with the reason
    // in lastError(). hid_open matches the serial number when one is given.
    hid_device *open(const char *path);
    hid_device *open(unsigned short vendorId, unsigned short productId, const wchar_t *serialNumber);

    // hid_close: marks the handle closed, waits for calls still in progress
    // on it (a close under them is recorded as misuse first), frees it.
    void close(hid_device *handle);

    // hid_init and hid_exit: forget the last error.
    void clearError();

    // hid_error(NULL): the error of the last open or enumeration on any
    // thread, as hidapi keeps one for the process. As there, the text is
    // freed by the next such call, or the next hid_error(NULL), on any thread.
    const wchar_t *lastError();

    int enumerationCount() const;
    int openHandleCount() const;

private:
    Registry() = default;
    hid_device *openController(const std::shared_ptr<StandardController> &controller,
                               const std::wstring &name);
    std::shared_ptr<StandardController> attachLocked(DeviceDescription description,
                                                     const ControllerSettings &settings);
    void attachDueDevices();
    void attachConfigured(const ConfiguredDevice &device);

    struct LateDevice
    {
        std::chrono::steady_clock::time_point due;
        ConfiguredDevice device;
    };

    // A configured device that comes back `afterMs` after it was unplugged.
    struct Replug
    {
        std::shared_ptr<StandardController> unplugged;
        int afterMs;
        ConfiguredDevice again;
    };

    mutable std::mutex mutex;
    std::once_flag configured;
    std::vector<std::shared_ptr<StandardController>> devices;  // in attach order
    std::set<hid_device *> handles;
    std::vector<LateDevice> lateDevices;  // from the configuration file, not yet plugged in
    std::vector<Replug> replugs;  // of configured devices attached so far
    std::chrono::steady_clock::time_point configuredAt;  // the times in the file count from here
    std::shared_ptr<ReportRecorder> recorder;
    std::wstring error;          // empty: the last call succeeded
    std::unique_ptr<wchar_t[]> reportedError;  // what hid_error(NULL) last returned
    int enumerations = 0;
    int pathsMadeUp = 0;
};

} // namespace HidSim

#endif // REGISTRY_H
