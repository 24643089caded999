#ifndef STANDARDCONTROLLER_H
#define STANDARDCONTROLLER_H

#include "devicehandle.h"
#include "hidsim.h"
#include "logsender.h"
#include "transferreceiver.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

namespace HidSim {

// A virtual controller that speaks the report protocol as a real one does:
// a version report when opened, firmware transfers with their verdicts and
// log downloads, plus the faults of the control interface.
//
// All members are thread-safe. Each controller has a lock of its own, which
// guards its state and the fields of its open handles, so that units driven
// from threads of their own never wait for one another. Calls that wait
// (reads, hid_close) wait on one condition variable, woken whenever input
// arrives, a handle closes or the device goes away; a paced write sleeps
// without holding the lock.
class StandardController final : public VirtualController
{
public:
    using WriteObserver = std::function<void(const QByteArray &report)>;

    // `description.path` must already be set.
    StandardController(const DeviceDescription &description, const ControllerSettings &settings);

    std::string path() const override { return deviceDescription.path; }
    int unitType() const override { return settings.unitType; }

    QList<QByteArray> writtenReports() const override;
    void clearWrittenReports() override;
    QByteArray receivedImage() const override;
    QByteArray announcedMd5() const override;

    void queueInputReport(const QByteArray &payload) override;
    void queueInputReportAfterWrites(int writes, const QByteArray &payload) override;
    void setLog(const QByteArray &log) override;

    void setSilent(bool silent) override;
    void setStartReply(unsigned char status) override;
    void setVerdict(unsigned char status) override;
    void failWrite(int nth) override;
    void failRead(int nth) override;
    void setAllWritesFail(bool fail) override;
    void unplugAfterWrites(int writes) override;
    void unplug() override;
    void setOpenFails(bool fail) override;
    void setWritePacing(WritePacing pacing) override;

    bool isOpen() const override;
    int openCount() const override;

    // The hidapi side.

    const DeviceDescription &description() const { return deviceDescription; }

    // Attached and not unplugged: listed by enumerations and can be opened.
    bool isPresent() const;

    // Unplugged at `when`, as by unplug(): from then on every call finds it
    // gone, and a read waiting then wakes and fails.
    void unplugAt(std::chrono::steady_clock::time_point when);
    // When it was unplugged, by any means; nullopt while it is present.
    std::optional<std::chrono::steady_clock::time_point> unpluggedAt() const;

    // Counts a new handle as open and sends the version report when it is
    // the only one. False, with the reason in *error, when the device is
    // gone or refuses to open.
    bool open(std::wstring *error);

    // Marks `handle` closed, wakes the calls waiting on it (they fail) and
    // returns once none is left in progress; the caller then frees it.
    void close(hid_device &handle);

    // hid_write, hid_read_timeout (a negative time-out blocks), hid_read
    // (blocks unless the handle is non-blocking) and hid_error.
    int write(hid_device &handle, const unsigned char *data, size_t length);
    int read(hid_device &handle, unsigned char *data, size_t length, int timeoutMs);
    int read(hid_device &handle, unsigned char *data, size_t length);
    const wchar_t *error(hid_device &handle);
    void setNonBlocking(hid_device &handle, bool nonBlocking);

    // Called with every report the device received (65 bytes), outside the
    // lock, on the writing thread.
    void setWriteObserver(WriteObserver observer);

private:
    using Clock = std::chrono::steady_clock;

    struct PendingReport
    {
        QByteArray payload;
        Clock::time_point due;
    };

    class CallScope;

    bool gone(Clock::time_point now) const;
    bool usable(hid_device &handle);
    std::optional<Clock::time_point> pacingDeadline(long long writeNumber);
    void receive(const unsigned char *payload);
    void send(const QByteArray &payload, int delayMs = 0);
    bool isPending(const QByteArray &payload) const;
    std::optional<QByteArray> takeReport(Clock::time_point now);
    void releaseScriptedReports(long long writeNumber);
    void disconnect();

    const DeviceDescription deviceDescription;
    const ControllerSettings settings;
    const Report::Layout layout;

    mutable std::mutex mutex;
    std::condition_variable changed;

    TransferReceiver transfer;
    LogSender logs;

    std::deque<QByteArray> scripted;
    std::vector<std::pair<long long, QByteArray>> scriptedAfterWrite;  // write number, payload
    std::deque<PendingReport> ownReports;  // ordered by due time
    QList<QByteArray> written;

    bool present = true;
    std::optional<Clock::time_point> unplugTime;  // unplug() or unplugAt(): when
    bool silent = false;
    bool openFails = false;
    bool allWritesFail = false;
    std::set<long long> failingWrites;  // write numbers
    std::set<long long> failingReads;   // read numbers
    long long readCount = 0;
    long long unplugAtWrite = 0;        // 0: never
    long long writeCount = 0;
    WritePacing pacing = WritePacing::Immediate;
    // The device's own USB frame clock: frames start every 1 ms from the
    // moment it was attached; the last frame a write was given.
    const Clock::time_point frameOrigin = Clock::now();
    Clock::time_point lastFrame;
    int openHandles = 0;
    int opens = 0;
    WriteObserver writeObserver;
};

} // namespace HidSim

#endif // STANDARDCONTROLLER_H
