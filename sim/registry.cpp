#include "registry.h"

#include "reportrecorder.h"
#include "simconfig.h"
#include "standardcontroller.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace HidSim {

namespace {

constexpr unsigned short vendorUsagePage = 0xFF00;

char *copyOf(const std::string &text)
{
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

wchar_t *copyOf(const std::optional<std::wstring> &text)
{
    if (!text)
        return nullptr;
    wchar_t *copy = static_cast<wchar_t *>(std::malloc((text->size() + 1) * sizeof(wchar_t)));
    std::wmemcpy(copy, text->c_str(), text->size() + 1);
    return copy;
}

// One entry per listing; a real device lists one per top-level collection.
hid_device_info *newEntry(const DeviceDescription &description, int listing)
{
    auto *entry = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
    entry->path = copyOf(description.path);
    entry->vendor_id = description.vendorId;
    entry->product_id = description.productId;
    entry->release_number = 0x0100;
    entry->manufacturer_string = copyOf(description.manufacturer);
    entry->product_string = copyOf(description.product);
    entry->serial_number = copyOf(description.serialNumber);
    entry->usage_page = vendorUsagePage;
    entry->usage = static_cast<unsigned short>(listing + 1);
    entry->interface_number = 0;
    entry->bus_type = HID_API_BUS_USB;
    return entry;
}

// "TV" and eight hex digits of the path's FNV-1a hash, as real serial
// numbers look: the same path gives the same serial number.
std::wstring madeUpSerial(const std::string &path)
{
    std::uint32_t hash = 2166136261u;
    for (const unsigned char c : path)
        hash = (hash ^ c) * 16777619u;
    wchar_t text[16];
    std::swprintf(text, 16, L"TV%08X", unsigned(hash));
    return text;
}

void applyConfiguration(StandardController &controller, const ConfiguredDevice &device)
{
    if (device.verdict)
        controller.setVerdict(*device.verdict);
    if (device.startReply)
        controller.setStartReply(*device.startReply);
    controller.setSilent(device.silent);
    controller.setOpenFails(device.openFails);
    if (device.unplugAfterWrites > 0)
        controller.unplugAfterWrites(device.unplugAfterWrites);
    controller.setWritePacing(device.writePacing);
}

} // namespace

Registry &Registry::instance()
{
    static Registry registry;
    return registry;
}

void Registry::configureOnce()
{
    std::call_once(configured, [this] {
        const QString path = qEnvironmentVariable("TAVORO_HIDSIM_CONFIG");
        if (path.isEmpty())
            return;
        QFile file(path);
        QString problem;
        std::optional<SimConfig> config;
        if (!file.open(QIODevice::ReadOnly))
            problem = file.errorString();
        else
            config = parseConfig(file.readAll(), QFileInfo(path).absolutePath(), &problem);
        if (!config) {
            std::fprintf(stderr, "hidsim: ignoring %s: %s\n", qPrintable(path), qPrintable(problem));
            return;
        }
        if (!config->recordFile.isEmpty())
            recordWrites(config->recordFile);
        std::lock_guard<std::mutex> lock(mutex);
        configuredAt = std::chrono::steady_clock::now();
        for (const ConfiguredDevice &device : config->devices) {
            if (device.attachAfterMs > 0)
                lateDevices.push_back({ configuredAt + std::chrono::milliseconds(device.attachAfterMs), device });
            else
                attachConfigured(device);
        }
    });
}

std::shared_ptr<StandardController> Registry::attach(DeviceDescription description,
                                                     const ControllerSettings &settings)
{
    std::lock_guard<std::mutex> lock(mutex);
    return attachLocked(std::move(description), settings);
}

std::shared_ptr<StandardController> Registry::attachLocked(DeviceDescription description,
                                                           const ControllerSettings &settings)
{
    if (description.path.empty())
        description.path = "/dev/hidsim" + std::to_string(++pathsMadeUp);
    if (description.serialNumber && description.serialNumber->empty())
        description.serialNumber = madeUpSerial(description.path);
    auto controller = std::make_shared<StandardController>(description, settings);
    if (recorder) {
        std::shared_ptr<ReportRecorder> target = recorder;
        controller->setWriteObserver([target](const QByteArray &report) { target->record(report); });
    }
    devices.push_back(controller);
    return controller;
}

// In the order the file lists them, among those due.
void Registry::attachDueDevices()
{
    const auto now = std::chrono::steady_clock::now();
    const auto due = std::stable_partition(lateDevices.begin(), lateDevices.end(),
                                           [now](const LateDevice &late) { return late.due > now; });
    std::vector<LateDevice> plugged(due, lateDevices.end());
    lateDevices.erase(due, lateDevices.end());
    for (auto replug = replugs.begin(); replug != replugs.end();) {
        const auto unplugged = replug->unplugged->unpluggedAt();
        if (unplugged && *unplugged + std::chrono::milliseconds(replug->afterMs) <= now) {
            plugged.push_back({ now, replug->again });
            replug = replugs.erase(replug);
        } else {
            ++replug;
        }
    }
    for (const LateDevice &late : plugged)
        attachConfigured(late.device);
}

// With its timed unplug and its return, if the configuration names them.
void Registry::attachConfigured(const ConfiguredDevice &device)
{
    const auto controller = attachLocked(device.description, device.settings);
    applyConfiguration(*controller, device);
    if (device.unplugAfterMs > 0)
        controller->unplugAt(configuredAt + std::chrono::milliseconds(device.unplugAfterMs));
    if (device.replugAfterMs > 0) {
        ConfiguredDevice again = device;
        again.description.path = controller->path();
        again.settings.version = device.replugVersion.value_or(device.settings.version);
        again.unplugAfterWrites = again.unplugAfterMs = again.replugAfterMs = 0;
        replugs.push_back({ controller, device.replugAfterMs, again });
    }
}

void Registry::detach(const Controller &controller)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = std::find(devices.begin(), devices.end(), controller);
    if (found == devices.end())
        return;
    (*found)->unplug();
    devices.erase(found);
}

void Registry::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto &controller : devices)
        controller->unplug();
    devices.clear();
    lateDevices.clear();
    replugs.clear();
    handles.clear();
    recorder.reset();
    error.clear();
    reportedError.reset();
    enumerations = 0;
}

void Registry::recordWrites(const QString &path)
{
    auto newRecorder = std::make_shared<ReportRecorder>();
    if (!newRecorder->open(path)) {
        std::fprintf(stderr, "hidsim: cannot append to %s\n", qPrintable(path));
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    recorder = newRecorder;
    for (const auto &controller : devices)
        controller->setWriteObserver([newRecorder](const QByteArray &report) { newRecorder->record(report); });
}

hid_device_info *Registry::enumerate(unsigned short vendorId, unsigned short productId)
{
    std::lock_guard<std::mutex> lock(mutex);
    reportedError.reset();
    attachDueDevices();
    ++enumerations;
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const auto &controller : devices) {
        const DeviceDescription &description = controller->description();
        if ((vendorId != 0 && description.vendorId != vendorId)
            || (productId != 0 && description.productId != productId) || !controller->isPresent())
            continue;
        for (int listing = 0; listing < description.listings; ++listing) {
            *next = newEntry(description, listing);
            next = &(*next)->next;
        }
    }
    if (first)
        error.clear();
    else if (vendorId == 0 && productId == 0)
        error = L"No HID devices found in the system.";
    else
        error = L"No HID devices with requested VID/PID found in the system.";
    return first;
}

void Registry::freeEnumeration(hid_device_info *entries)
{
    while (entries) {
        hid_device_info *next = entries->next;
        std::free(entries->path);
        std::free(entries->serial_number);
        std::free(entries->manufacturer_string);
        std::free(entries->product_string);
        std::free(entries);
        entries = next;
    }
}

hid_device *Registry::open(const char *path)
{
    std::lock_guard<std::mutex> lock(mutex);
    reportedError.reset();
    attachDueDevices();
    const std::string wanted = path ? path : "";
    const std::wstring name = QStringLiteral("path '%1'").arg(QString::fromStdString(wanted)).toStdWString();
    for (const auto &controller : devices) {
        if (controller->description().path == wanted && controller->isPresent())
            return openController(controller, name);
    }
    error = L"Failed to open a device with " + name + L": No such device";
    return nullptr;
}

hid_device *Registry::open(unsigned short vendorId, unsigned short productId, const wchar_t *serialNumber)
{
    std::lock_guard<std::mutex> lock(mutex);
    reportedError.reset();
    attachDueDevices();
    const std::wstring name = QStringLiteral("VID %1 PID %2")
                                  .arg(vendorId, 4, 16, QLatin1Char('0'))
                                  .arg(productId, 4, 16, QLatin1Char('0'))
                                  .toStdWString();
    for (const auto &controller : devices) {
        const DeviceDescription &description = controller->description();
        const bool serialMatches = !serialNumber || (description.serialNumber && *description.serialNumber == serialNumber);
        if (description.vendorId == vendorId && description.productId == productId && serialMatches
            && controller->isPresent())
            return openController(controller, name);
    }
    error = L"Failed to open a device with " + name + L": No such device";
    return nullptr;
}

hid_device *Registry::openController(const std::shared_ptr<StandardController> &controller,
                                     const std::wstring &name)
{
    std::wstring reason;
    if (!controller->open(&reason)) {
        error = L"Failed to open a device with " + name + L": " + reason;
        return nullptr;
    }
    auto *handle = new hid_device;
    handle->controller = controller;
    handles.insert(handle);
    error.clear();
    return handle;
}

void Registry::close(hid_device *handle)
{
    handle->controller->close(*handle);
    {
        std::lock_guard<std::mutex> lock(mutex);
        handles.erase(handle);
    }
    delete handle;
}

void Registry::clearError()
{
    std::lock_guard<std::mutex> lock(mutex);
    error.clear();
    reportedError.reset();
}

// A copy of its own each time, freed by the next call on the process's
// error: a caller that keeps the text too long reads freed memory, as it
// would with hidapi.
const wchar_t *Registry::lastError()
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::wstring text = error.empty() ? std::wstring(L"Success") : error;
    reportedError.reset(new wchar_t[text.size() + 1]);
    std::wmemcpy(reportedError.get(), text.c_str(), text.size() + 1);
    return reportedError.get();
}

int Registry::enumerationCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return enumerations;
}

int Registry::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return int(handles.size());
}

} // namespace HidSim
