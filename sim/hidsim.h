#ifndef HIDSIM_H
#define HIDSIM_H

// The hardware simulator's control interface.
//
// The simulator implements the hidapi C functions the updater calls over a
// registry of virtual devices. Tests, benchmarks and the demo attach virtual
// controllers here, inject faults, and read back every report the host wrote.
//
// All functions, and every hidapi function the simulator implements, are
// thread-safe: each controller may be opened, read and written from a
// thread of its own while others are driven from theirs. Every controller
// has a lock of its own, so units do not wait for one another; a short
// lock over all of them guards attaching, enumerating, opening and
// detaching. As with hidapi, one handle may be read on one thread while
// another writes it.
//
// The simulator is not kinder than hidapi: what the real library answers
// with a corrupted heap or a use-after-free is recorded as misuse (see
// takeMisuse), and a run that leaves any not taken fails at its end:
// - two threads inside hidapi's process-wide calls at once (hid_init,
//   hid_exit, hid_enumerate, hid_open, hid_open_path, hid_error(NULL));
//   each such call is drawn out a little so that an overlap shows;
// - hid_close on a handle while another thread is inside a call on it
//   (the simulator still waits for that call before it frees the handle).
// The text hid_error(NULL) returns is freed by the next of those calls.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

namespace HidSim {

// How a controller paces the host's writes.
enum class WritePacing {
    Immediate,        // a write costs nothing
    UsbFrame,         // a write blocks until the device's next free 1 ms frame begins:
                      // one report per frame, as a full-speed interrupt endpoint
                      // carries; each device keeps its own frame clock
    OccasionalStall,  // like Immediate, but every 100th write takes 5 ms
};

struct DeviceDescription
{
    unsigned short vendorId = 0;
    unsigned short productId = 0;
    std::optional<std::wstring> product = std::wstring(L"Tavoro HID");  // nullopt: NULL string
    std::optional<std::wstring> manufacturer = std::wstring(L"Tavoro");
    std::string path;      // empty: a unique path is made up
    // Empty: one of its own is made up from the path, so that a device
    // plugged in again at its path has it again; nullopt: none (NULL).
    std::optional<std::wstring> serialNumber = std::wstring();
    int listings = 1;      // entries per enumeration (real devices list one per usage)
};

struct ControllerSettings
{
    int unitType = 12;            // picks the layout and the version byte
    unsigned char version = 14;
    bool sendsVersionReport = true;
    int applyTimeMs = 0;          // from statusTransferComplete to statusUpdateFinished
    bool reportsTransferComplete = true;  // false: statusUpdateFinished alone
    QByteArray log;               // served in answer to a log request; empty: logClose
};

class VirtualController
{
public:
    virtual ~VirtualController() = default;

    virtual std::string path() const = 0;
    virtual int unitType() const = 0;

    // Every report the host wrote, 65 bytes each, as written (also failed
    // writes are not recorded: only what the device received).
    virtual QList<QByteArray> writtenReports() const = 0;
    virtual void clearWrittenReports() = 0;

    // The image bytes of the last transfer and the digest text announced for it.
    virtual QByteArray receivedImage() const = 0;
    virtual QByteArray announcedMd5() const = 0;

    // Input reports (64-byte payloads; shorter ones are zero-padded) that the
    // device sends next, ahead of anything it would send on its own.
    virtual void queueInputReport(const QByteArray &payload) = 0;

    // Like queueInputReport, but the report is sent once `writes` more writes
    // have reached the device (0: at once), so that it slips in just ahead
    // of the controller's own answer to that write.
    virtual void queueInputReportAfterWrites(int writes, const QByteArray &payload) = 0;

    // Replaces the log served in answer to the next log request.
    virtual void setLog(const QByteArray &log) = 0;

    // Faults.
    virtual void setSilent(bool silent) = 0;                // sends nothing of its own (queued input reports still come)
    virtual void setStartReply(unsigned char status) = 0;   // answer transferStart with this status nibble
    virtual void setVerdict(unsigned char status) = 0;      // answer transferEnd with this status nibble
    virtual void failWrite(int nth) = 0;                    // the nth write from now on fails (1 = next)
    virtual void failRead(int nth) = 0;                     // the nth read from now on fails at once (1 = next)
    virtual void setAllWritesFail(bool fail) = 0;
    virtual void unplugAfterWrites(int writes) = 0;         // unplugged after that many more writes
    virtual void unplug() = 0;                              // every call fails from now on
    virtual void setOpenFails(bool fail) = 0;               // hid_open_path returns NULL
    virtual void setWritePacing(WritePacing pacing) = 0;

    virtual bool isOpen() const = 0;     // a handle on it is open
    virtual int openCount() const = 0;   // successful opens since attached
};

using Controller = std::shared_ptr<VirtualController>;

// Attaches a device driven by a standard controller.
Controller attach(const DeviceDescription &description, const ControllerSettings &settings);

// Attaches a standard controller of the model `unitType`, with the vendor
// and product ID and the product string of a real one; nullptr for a unit
// type outside the model table.
Controller attachModel(int unitType, unsigned char version = 14);

void detach(const Controller &controller);

// Detaches every device, clears the counters and stops recording writes;
// call before each test.
void reset();

// Calls of hid_enumerate since the last reset.
int enumerationCount();

// Handles opened and not yet closed.
int openHandleCount();

// Every misuse of hidapi recorded since the last call (each once), which
// are then forgotten; any not taken by the end of the process make it
// exit with failure. reset() keeps them.
QStringList takeMisuse();

} // namespace HidSim

#endif // HIDSIM_H
