#ifndef HIDLIBRARY_H
#define HIDLIBRARY_H

#include <QString>

#include <hidapi.h>

#include <memory>

// hidapi's calls on the state of the whole process, behind one lock.
//
// hidapi keeps process-wide state that it does not guard: hid_init, which
// hid_enumerate, hid_open and hid_open_path call first, frees and replaces
// the one error text that hid_error(NULL) returns. Two threads inside such
// calls at once corrupt the heap. Every call of hid_init, hid_exit,
// hid_enumerate (and hid_free_enumeration of its list), hid_open,
// hid_open_path and hid_error(NULL) in the program goes through here.
//
// The calls on an open handle (hid_read, hid_read_timeout, hid_write,
// hid_error(handle), hid_close) do not: they touch only that handle, so
// units driven from threads of their own never wait for one another's
// transfers. hidapi's own rules for sharing one handle still apply.
//
// All functions are thread-safe; each holds the lock for its whole call.
class HidLibrary
{
public:
    struct EnumerationDeleter
    {
        void operator()(hid_device_info *entries) const;
    };
    // hid_enumerate's list, freed (under the lock) when it goes.
    using Enumeration = std::unique_ptr<hid_device_info, EnumerationDeleter>;

    HidLibrary() = delete;

    // hid_init and hid_exit. hidapi initialises itself on the first
    // enumeration or open; exit() releases its state, after which the next
    // call initialises it again. 0 on success, -1 on error.
    static int init();
    static int exit();

    // hid_enumerate: the devices with the given vendor and product ID (0
    // matches any); null when none matches or the enumeration failed.
    static Enumeration enumerate(unsigned short vendorId, unsigned short productId);

    // hid_open_path: the opened device, or null. When `error` is not null,
    // *error is set to hidapi's reason for a failure (as hid_error(NULL)
    // gives it, copied before the lock is let go), or emptied on success.
    // The caller closes the handle with hid_close.
    static hid_device *openPath(const char *path, QString *error = nullptr);
};

#endif // HIDLIBRARY_H
