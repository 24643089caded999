#ifndef DEVICEHANDLE_H
#define DEVICEHANDLE_H

#include <hidapi.h>

#include <memory>
#include <string>

namespace HidSim {
class StandardController;
}

// What hidapi hands out as hid_device: one open handle on a virtual device.
// Its fields belong to the controller's lock, except `controller`, which is
// fixed from opening to hid_close.
struct hid_device_
{
    std::shared_ptr<HidSim::StandardController> controller;
    bool closed = false;
    bool nonBlocking = false;
    int callsInProgress = 0;
    std::wstring lastError;      // empty: the last call succeeded
    std::wstring reportedError;  // what hid_error last returned a pointer into
};

#endif // DEVICEHANDLE_H
