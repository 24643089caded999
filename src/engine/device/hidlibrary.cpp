#include "hidlibrary.h"

#include "device/hidstrings.h"

#include <mutex>

namespace {

// A function-local static: usable from the constructors of other statics.
std::mutex &libraryMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

void HidLibrary::EnumerationDeleter::operator()(hid_device_info *entries) const
{
    const std::lock_guard<std::mutex> lock(libraryMutex());
    hid_free_enumeration(entries);
}

int HidLibrary::init()
{
    const std::lock_guard<std::mutex> lock(libraryMutex());
    return hid_init();
}

int HidLibrary::exit()
{
    const std::lock_guard<std::mutex> lock(libraryMutex());
    return hid_exit();
}

HidLibrary::Enumeration HidLibrary::enumerate(unsigned short vendorId, unsigned short productId)
{
    const std::lock_guard<std::mutex> lock(libraryMutex());
    return Enumeration(hid_enumerate(vendorId, productId));
}

hid_device *HidLibrary::openPath(const char *path, QString *error)
{
    const std::lock_guard<std::mutex> lock(libraryMutex());
    hid_device *handle = hid_open_path(path);
    // The text is hidapi's until its next call on the process's state.
    if (error)
        *error = handle ? QString() : hidText(hid_error(nullptr));
    return handle;
}
