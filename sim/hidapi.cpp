// The hidapi functions the updater calls, over the simulator's registry of
// virtual devices. The system header is included so that the compiler holds
// every definition to its declared signature.

#include <hidapi.h>

#include "devicehandle.h"
#include "misuselog.h"
#include "registry.h"
#include "standardcontroller.h"

#include <atomic>
#include <chrono>
#include <cwchar>
#include <thread>

using HidSim::MisuseLog;
using HidSim::Registry;

namespace {

// hidapi's calls on its process-wide state (hid_init, hid_exit,
// hid_enumerate, hid_open, hid_open_path, hid_error(NULL)) free and replace
// one error text that nothing guards: two threads inside them at once
// corrupt the real library's heap. Here each such call is marked for its
// whole duration, which is drawn out a little (the real enumeration and
// open take milliseconds), so that callers that do not serialise them
// overlap reliably; an overlap is recorded as misuse.
class ProcessWideCall
{
public:
    explicit ProcessWideCall(const char *name)
    {
        if (inside.fetch_add(1) > 0)
            MisuseLog::record(QStringLiteral("%1 while another thread was inside hidapi's process-wide calls "
                                             "(hid_init, hid_exit, hid_enumerate, hid_open, hid_open_path, "
                                             "hid_error(NULL)): they must be serialised")
                                  .arg(QLatin1String(name)));
    }
    ~ProcessWideCall()
    {
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        inside.fetch_sub(1);
    }
    ProcessWideCall(const ProcessWideCall &) = delete;
    ProcessWideCall &operator=(const ProcessWideCall &) = delete;

private:
    static std::atomic<int> inside;
};

std::atomic<int> ProcessWideCall::inside { 0 };

Registry &registry()
{
    Registry &instance = Registry::instance();
    instance.configureOnce();
    return instance;
}

// Copies a string of the device's description; -1 when the device has it
// not or is gone, or the buffer holds nothing.
int copyString(hid_device *dev, const std::optional<std::wstring> &text, wchar_t *string, size_t maxlen)
{
    if (!dev || !dev->controller->isPresent() || !text || !string || maxlen == 0)
        return -1;
    std::wcsncpy(string, text->c_str(), maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

} // namespace

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    const ProcessWideCall call("hid_init");
    registry().clearError();
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    const ProcessWideCall call("hid_exit");
    registry().clearError();
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    const ProcessWideCall call("hid_enumerate");
    return registry().enumerate(vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    Registry::freeEnumeration(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t *serial_number)
{
    const ProcessWideCall call("hid_open");
    return registry().open(vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    const ProcessWideCall call("hid_open_path");
    return registry().open(path);
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    return dev ? dev->controller->write(*dev, data, length) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data, size_t length,
                                                 int milliseconds)
{
    return dev ? dev->controller->read(*dev, data, length, milliseconds) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    return dev ? dev->controller->read(*dev, data, length) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    if (!dev)
        return -1;
    dev->controller->setNonBlocking(*dev, nonblock != 0);
    return 0;
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    if (dev)
        Registry::instance().close(dev);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return dev ? copyString(dev, dev->controller->description().manufacturer, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return dev ? copyString(dev, dev->controller->description().product, string, maxlen) : -1;
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    return dev ? copyString(dev, dev->controller->description().serialNumber, string, maxlen) : -1;
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
    if (dev)
        return dev->controller->error(*dev);
    const ProcessWideCall call("hid_error(NULL)");
    return registry().lastError();
}
