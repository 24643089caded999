// The hidapi functions the updater calls, over the simulator's registry of
// virtual devices. The system header is included so that the compiler holds
// every definition to its declared signature.

#include <hidapi.h>

#include "devicehandle.h"
#include "registry.h"
#include "standardcontroller.h"

#include <cwchar>

using HidSim::Registry;

namespace {

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
    registry();
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    return 0;
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    return registry().enumerate(vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    Registry::freeEnumeration(devs);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t *serial_number)
{
    return registry().open(vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
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
    return dev ? dev->controller->error(*dev) : registry().lastError();
}
