#include "standardcontroller.h"

#include "devicereports.h"

#include <protocol/models.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace HidSim {

namespace {

constexpr auto stallEvery = 100;
constexpr auto stallTime = std::chrono::milliseconds(5);

const wchar_t *const closedText = L"The device handle is closed";
const wchar_t *const disconnectedText = L"The device has been disconnected";
const wchar_t *const rejectedText = L"The device did not accept the report";
const wchar_t *const readFailedText = L"The read from the device failed";
const wchar_t *const badWriteText = L"A report is 1 to 65 bytes long";
const wchar_t *const badBufferText = L"No buffer to read into";
const wchar_t *const successText = L"Success";

QByteArray paddedPayload(const QByteArray &payload)
{
    QByteArray padded = payload.left(Report::payloadSize);
    padded.append(QByteArray(Report::payloadSize - padded.size(), '\0'));
    return padded;
}

} // namespace

// Counts a call as in progress on its handle so that hid_close waits for it.
// Retakes the lock if the call let go of it.
class StandardController::CallScope
{
public:
    CallScope(std::unique_lock<std::mutex> &lock, hid_device &handle, std::condition_variable &changed)
        : lock(lock), handle(handle), changed(changed)
    {
        ++handle.callsInProgress;
    }
    ~CallScope()
    {
        if (!lock.owns_lock())
            lock.lock();
        --handle.callsInProgress;
        changed.notify_all();
    }
    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

private:
    std::unique_lock<std::mutex> &lock;
    hid_device &handle;
    std::condition_variable &changed;
};

StandardController::StandardController(const DeviceDescription &description,
                                       const ControllerSettings &settings)
    : deviceDescription(description),
      settings(settings),
      layout(Report::layoutForUnitType(settings.unitType)),
      transfer(layout, settings.unitType == mossUnitType)
{
    transfer.setApplyTimeMs(settings.applyTimeMs);
    transfer.setReportsTransferComplete(settings.reportsTransferComplete);
    logs.setLog(settings.log);
}

QList<QByteArray> StandardController::writtenReports() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return written;
}

void StandardController::clearWrittenReports()
{
    std::lock_guard<std::mutex> lock(mutex);
    written.clear();
}

QByteArray StandardController::receivedImage() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return transfer.image();
}

QByteArray StandardController::announcedMd5() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return transfer.announcedMd5();
}

void StandardController::queueInputReport(const QByteArray &payload)
{
    queueInputReportAfterWrites(0, payload);
}

void StandardController::queueInputReportAfterWrites(int writes, const QByteArray &payload)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (gone(Clock::now()))
        return;
    if (writes > 0) {
        scriptedAfterWrite.emplace_back(writeCount + writes, paddedPayload(payload));
        return;
    }
    scripted.push_back(paddedPayload(payload));
    changed.notify_all();
}

void StandardController::setLog(const QByteArray &log)
{
    std::lock_guard<std::mutex> lock(mutex);
    logs.setLog(log);
}

void StandardController::setSilent(bool makeSilent)
{
    std::lock_guard<std::mutex> lock(mutex);
    silent = makeSilent;
    if (silent)
        ownReports.clear();
}

void StandardController::setStartReply(unsigned char status)
{
    std::lock_guard<std::mutex> lock(mutex);
    transfer.setStartReply(status);
}

void StandardController::setVerdict(unsigned char status)
{
    std::lock_guard<std::mutex> lock(mutex);
    transfer.setVerdict(status);
}

void StandardController::failWrite(int nth)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (nth >= 1)
        failingWrites.insert(writeCount + nth);
}

void StandardController::failRead(int nth)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (nth >= 1)
        failingReads.insert(readCount + nth);
}

void StandardController::setAllWritesFail(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    allWritesFail = fail;
}

void StandardController::unplugAfterWrites(int writes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (writes <= 0)
        disconnect();
    else
        unplugAtWrite = writeCount + writes;
}

void StandardController::unplug()
{
    std::lock_guard<std::mutex> lock(mutex);
    disconnect();
}

void StandardController::setOpenFails(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex);
    openFails = fail;
}

void StandardController::setWritePacing(WritePacing newPacing)
{
    std::lock_guard<std::mutex> lock(mutex);
    pacing = newPacing;
}

bool StandardController::isOpen() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return openHandles > 0;
}

int StandardController::openCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return opens;
}

bool StandardController::isPresent() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return !gone(Clock::now());
}

void StandardController::unplugAt(Clock::time_point when)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (present && (!unplugTime || when < *unplugTime))
        unplugTime = when;
    changed.notify_all();
}

std::optional<StandardController::Clock::time_point> StandardController::unpluggedAt() const
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!gone(Clock::now()))
        return std::nullopt;
    return unplugTime;
}

bool StandardController::open(std::wstring *error)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (gone(Clock::now())) {
        *error = disconnectedText;
        return false;
    }
    if (openFails) {
        *error = L"Permission denied";
        return false;
    }
    ++opens;
    if (++openHandles == 1 && settings.sendsVersionReport)
        send(versionReport(settings.unitType, settings.version));
    changed.notify_all();
    return true;
}

void StandardController::close(hid_device &handle)
{
    std::unique_lock<std::mutex> lock(mutex);
    handle.closed = true;
    changed.notify_all();
    changed.wait(lock, [&handle] { return handle.callsInProgress == 0; });
    // Reports the device sent to a host that no longer listens are gone.
    if (--openHandles == 0)
        ownReports.clear();
}

int StandardController::write(hid_device &handle, const unsigned char *data, size_t length)
{
    std::unique_lock<std::mutex> lock(mutex);
    CallScope scope(lock, handle, changed);
    if (!usable(handle))
        return -1;
    if (!data || length == 0 || length > size_t(Report::outputSize)) {
        handle.lastError = badWriteText;
        return -1;
    }

    const long long writeNumber = ++writeCount;
    const bool fails = allWritesFail || failingWrites.erase(writeNumber) > 0;
    if (const auto deadline = pacingDeadline(writeNumber)) {
        lock.unlock();
        std::this_thread::sleep_until(*deadline);
        lock.lock();
        if (!usable(handle))
            return -1;
    }

    QByteArray report(Report::outputSize, '\0');
    if (!fails) {
        std::memcpy(report.data(), data, length);
        written.append(report);
        receive(reinterpret_cast<const unsigned char *>(report.constData()) + 1);
        handle.lastError.clear();
    } else {
        handle.lastError = rejectedText;
    }
    releaseScriptedReports(writeNumber);
    if (writeNumber == unplugAtWrite)
        disconnect();
    changed.notify_all();

    if (fails)
        return -1;
    const WriteObserver observer = writeObserver;
    lock.unlock();
    if (observer)
        observer(report);
    return int(length);
}

int StandardController::read(hid_device &handle, unsigned char *data, size_t length, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    CallScope scope(lock, handle, changed);
    if (!data || length == 0) {
        handle.lastError = badBufferText;
        return -1;
    }
    if (failingReads.erase(++readCount) > 0) {
        handle.lastError = readFailedText;
        return -1;
    }
    const bool blocking = timeoutMs < 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(blocking ? 0 : timeoutMs);
    for (;;) {
        if (!usable(handle))
            return -1;
        const Clock::time_point now = Clock::now();
        if (const auto report = takeReport(now)) {
            const size_t count = std::min(length, size_t(report->size()));
            std::memcpy(data, report->constData(), count);
            handle.lastError.clear();
            return int(count);
        }
        if (!blocking && now >= deadline) {
            handle.lastError.clear();
            return 0;
        }
        // Sleep until the deadline or the next delayed report, whichever
        // comes first; new input, a close or an unplug wake us earlier.
        std::optional<Clock::time_point> wakeAt;
        if (!blocking)
            wakeAt = deadline;
        if (!ownReports.empty() && (!wakeAt || ownReports.front().due < *wakeAt))
            wakeAt = ownReports.front().due;
        if (unplugTime && (!wakeAt || *unplugTime < *wakeAt))
            wakeAt = *unplugTime;
        if (wakeAt)
            changed.wait_until(lock, *wakeAt);
        else
            changed.wait(lock);
    }
}

int StandardController::read(hid_device &handle, unsigned char *data, size_t length)
{
    bool nonBlocking;
    {
        std::lock_guard<std::mutex> lock(mutex);
        nonBlocking = handle.nonBlocking;
    }
    return read(handle, data, length, nonBlocking ? 0 : -1);
}

const wchar_t *StandardController::error(hid_device &handle)
{
    std::lock_guard<std::mutex> lock(mutex);
    handle.reportedError = handle.lastError.empty() ? successText : handle.lastError;
    return handle.reportedError.c_str();
}

void StandardController::setNonBlocking(hid_device &handle, bool nonBlocking)
{
    std::lock_guard<std::mutex> lock(mutex);
    handle.nonBlocking = nonBlocking;
}

void StandardController::setWriteObserver(WriteObserver observer)
{
    std::lock_guard<std::mutex> lock(mutex);
    writeObserver = std::move(observer);
}

// A timed unplug takes effect at its time, whichever call comes first.
bool StandardController::gone(Clock::time_point now) const
{
    return !present || (unplugTime && now >= *unplugTime);
}

bool StandardController::usable(hid_device &handle)
{
    if (handle.closed) {
        handle.lastError = closedText;
        return false;
    }
    if (gone(Clock::now())) {
        handle.lastError = disconnectedText;
        return false;
    }
    return true;
}

std::optional<StandardController::Clock::time_point>
StandardController::pacingDeadline(long long writeNumber)
{
    switch (pacing) {
    case WritePacing::Immediate:
        break;
    case WritePacing::UsbFrame: {
        // One report per 1 ms frame: the write ends at the start of the
        // device's next frame that no other write has taken, so that two
        // writers on one device do not share a frame either.
        constexpr auto frame = std::chrono::milliseconds(1);
        const auto elapsed = std::chrono::floor<std::chrono::milliseconds>(Clock::now() - frameOrigin);
        lastFrame = std::max(frameOrigin + elapsed + frame, lastFrame + frame);
        return lastFrame;
    }
    case WritePacing::OccasionalStall:
        if (writeNumber % stallEvery == 0)
            return Clock::now() + stallTime;
        break;
    }
    return std::nullopt;
}

void StandardController::receive(const unsigned char *payload)
{
    if (transfer.takes(payload)) {
        logs.abort();
        for (const TransferReceiver::Reply &reply : transfer.receive(payload))
            send(statusReport(layout, reply.status), reply.delayMs);
        return;
    }
    if (payload[layout.commandOffset] == Report::logRequest) {
        send(logs.request());
    } else if (payload[0] == Report::logAck) {
        if (const auto part = logs.acknowledge())
            send(*part);
    } else if (payload[0] == Report::logResend) {
        // A resend while the last reply still waits unread would hand the
        // host that reply twice: it is not lost, only behind other input.
        const auto last = logs.resend();
        if (last && !isPending(*last))
            send(*last);
    }
}

void StandardController::send(const QByteArray &payload, int delayMs)
{
    if (silent || gone(Clock::now()))
        return;
    PendingReport report { paddedPayload(payload), Clock::now() + std::chrono::milliseconds(delayMs) };
    const auto position = std::upper_bound(ownReports.begin(), ownReports.end(), report.due,
                                           [](Clock::time_point due, const PendingReport &pending) {
                                               return due < pending.due;
                                           });
    ownReports.insert(position, std::move(report));
}

bool StandardController::isPending(const QByteArray &payload) const
{
    return std::any_of(ownReports.begin(), ownReports.end(),
                       [&payload](const PendingReport &pending) { return pending.payload == payload; });
}

std::optional<QByteArray> StandardController::takeReport(Clock::time_point now)
{
    if (!scripted.empty()) {
        QByteArray report = scripted.front();
        scripted.pop_front();
        return report;
    }
    if (!ownReports.empty() && ownReports.front().due <= now) {
        QByteArray report = ownReports.front().payload;
        ownReports.pop_front();
        return report;
    }
    return std::nullopt;
}

void StandardController::releaseScriptedReports(long long writeNumber)
{
    auto released = std::stable_partition(scriptedAfterWrite.begin(), scriptedAfterWrite.end(),
                                          [writeNumber](const auto &entry) { return entry.first > writeNumber; });
    for (auto entry = released; entry != scriptedAfterWrite.end(); ++entry)
        scripted.push_back(entry->second);
    scriptedAfterWrite.erase(released, scriptedAfterWrite.end());
}

void StandardController::disconnect()
{
    if (present && !gone(Clock::now()))
        unplugTime = Clock::now();
    present = false;
    scripted.clear();
    scriptedAfterWrite.clear();
    ownReports.clear();
    changed.notify_all();
}

} // namespace HidSim
