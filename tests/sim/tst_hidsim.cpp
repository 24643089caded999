// Drives the simulator through the hidapi calls, as the updater does.

#include <devicereports.h>
#include <hidsim.h>
#include <simconfig.h>

#include <protocol/models.h>
#include <protocol/reports.h>

#include <hidapi.h>

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using HidSim::Controller;

Q_DECLARE_METATYPE(HidSim::WritePacing)

namespace {

constexpr int calyx2 = 1;  // leading-header layout
constexpr int moss = 11;   // image outside the reports
constexpr int ebony = 12;  // trailing-header layout

// An open handle that closes itself; converts to the hid_device * the calls take.
class Device
{
public:
    explicit Device(hid_device *handle) : handle(handle, hid_close) {}
    operator hid_device *() const { return handle.get(); }
    void close() { handle.reset(); }

private:
    std::unique_ptr<hid_device, decltype(&hid_close)> handle;
};

QByteArray md5Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
}

// A device string, with NULL told apart from an empty one.
QString wide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QStringLiteral("<null>");
}

int writeReport(hid_device *device, const QByteArray &report)
{
    return hid_write(device, reinterpret_cast<const unsigned char *>(report.constData()),
                     size_t(report.size()));
}

// One input report, or an empty array when none came: within `timeoutMs`,
// or, for a negative value, before hid_read gave up.
QByteArray readReport(hid_device *device, int timeoutMs = 0)
{
    unsigned char payload[Report::payloadSize];
    const int result = timeoutMs < 0 ? hid_read(device, payload, sizeof payload)
                                     : hid_read_timeout(device, payload, sizeof payload, timeoutMs);
    return result > 0 ? QByteArray(reinterpret_cast<const char *>(payload), result) : QByteArray();
}

int statusOf(const QByteArray &payload, Report::Layout layout)
{
    return quint8(payload.at(layout.commandOffset)) >> 4;
}

// The status codes of the reports waiting to be read.
QList<int> waitingStatuses(hid_device *device, Report::Layout layout)
{
    QList<int> codes;
    for (QByteArray report = readReport(device); !report.isEmpty(); report = readReport(device))
        codes.append(statusOf(report, layout));
    return codes;
}

// A controller of settings.unitType's model with non-default settings.
Controller attachWith(const HidSim::ControllerSettings &settings)
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(settings.unitType)->productId;
    return HidSim::attach(description, settings);
}

// Opens the controller and reads its version report.
Device openController(const Controller &controller)
{
    Device device(hid_open_path(controller->path().c_str()));
    if (device)
        readReport(device, Report::versionReadTimeout);
    return device;
}

// The data and end reports carrying `image`, numbered from 1.
QList<QByteArray> imageReports(Report::Layout layout, const QByteArray &image)
{
    QList<QByteArray> reports;
    const int fullSlices = image.size() / Report::dataBytesPerReport;
    quint32 packet = 1;
    for (int slice = 0; slice < fullSlices; ++slice)
        reports.append(Report::buildDataPacket(layout, packet++,
                                               image.constData() + slice * Report::dataBytesPerReport));
    reports.append(Report::buildTransferEnd(layout, packet,
                                            image.constData() + fullSlices * Report::dataBytesPerReport,
                                            image.size() % Report::dataBytesPerReport));
    return reports;
}

// Announces `announced` and, once the controller is ready, sends `reports`.
// Returns the status that answered the start.
int sendFirmware(hid_device *device, Report::Layout layout, const QByteArray &announced,
                 const QList<QByteArray> &reports)
{
    writeReport(device, Report::buildTransferStart(layout, announced));
    const int answer = statusOf(readReport(device, 1000), layout);
    for (const QByteArray &report : reports)
        writeReport(device, report);
    return answer;
}

QByteArray testLog(int size)
{
    QByteArray log;
    for (int i = 0; i < size; ++i)
        log.append(char(i * 7 + 3));
    return log;
}

QByteArray logReply(quint8 code)
{
    QByteArray payload(Report::payloadSize, '\0');
    payload[0] = char(code);
    return payload;
}

} // namespace

class TestHidSim : public QObject
{
    Q_OBJECT

private slots:
    void init() { HidSim::reset(); }

    // Must be the first test to make a hidapi call: the file is read once.
    void configFileAttachesDevicesAndRecordsWrites()
    {
        QTemporaryDir dir;
        QFile log(dir.filePath(QStringLiteral("device.log")));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(testLog(100));
        log.close();
        QFile config(dir.filePath(QStringLiteral("sim.json")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(R"({"recordFile": "written.txt", "devices": [
            {"model": 12, "version": 17, "verdict": 12, "logFile": "device.log"},
            {"model": 1, "product": null, "silent": true},
            {"model": 0, "attachAfterMs": 150, "writePacing": "usbFrame"}]})");
        config.close();
        qputenv("TAVORO_HIDSIM_CONFIG", config.fileName().toLocal8Bit());

        QCOMPARE(hid_init(), 0);
        hid_device_info *entries = hid_enumerate(vendorId, 0);
        QElapsedTimer sinceConfigured;
        sinceConfigured.start();
        QVERIFY(entries && entries->next && !entries->next->next);
        QCOMPARE(entries->product_id, modelForUnitType(ebony)->productId);
        QVERIFY(!entries->next->product_string);

        const Device device(hid_open_path(entries->path));
        QCOMPARE(quint8(readReport(device, 1000).at(63)), quint8(17));
        const Report::Layout layout = Report::trailingHeader;
        const QByteArray image = testLog(130);
        sendFirmware(device, layout, md5Hex(image), imageReports(layout, image));
        QCOMPARE(waitingStatuses(device, layout), QList<int>({ Report::statusWrongMd5 }));
        writeReport(device, Report::buildLogRequest(layout, 1));
        QCOMPARE(readReport(device).mid(1, 32), md5Hex(testLog(100)));

        const Device silent(hid_open_path(entries->next->path));
        hid_free_enumeration(entries);
        QVERIFY(readReport(silent, 20).isEmpty());
        const QByteArray written = Report::buildLogAck();
        QCOMPARE(writeReport(silent, written), Report::outputSize);

        QFile record(dir.filePath(QStringLiteral("written.txt")));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = record.readAll().split('\n');
        // The start, three image reports, the log request and the acknowledgement,
        // each on a line of its own.
        QCOMPARE(lines.size(), 6 + 1);
        QCOMPARE(lines.at(0), Report::buildTransferStart(layout, md5Hex(image)).toHex());
        QCOMPARE(lines.at(5), written.toHex());
        QVERIFY(lines.at(6).isEmpty());

        // The third device is plugged in later, and paces its writes.
        QTest::qWait(int(qMax<qint64>(0, 200 - sinceConfigured.elapsed())));
        entries = hid_enumerate(vendorId, modelForUnitType(0)->productId);
        QVERIFY(entries && !entries->next);
        const Device late(hid_open_path(entries->path));
        hid_free_enumeration(entries);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(writeReport(late, written), Report::outputSize);
        qunsetenv("TAVORO_HIDSIM_CONFIG");
    }

    void configParsingReadsEveryField()
    {
        QString error;
        const auto config = HidSim::parseConfig(R"({"recordFile": "out.txt", "devices": [
            {"model": 7, "version": 21, "applyTimeMs": 500, "verdict": 7, "startReply": 10,
             "silent": true, "log": "aGVsbG8=", "product": null, "manufacturer": "Other",
             "listings": 2, "reportsTransferComplete": false, "sendsVersionReport": false,
             "openFails": true, "unplugAfterWrites": 40, "writePacing": "occasionalStall",
             "attachAfterMs": 2500, "unplugAfterMs": 3000, "replugAfterMs": 400, "replugVersion": 22,
             "libraryBytesPerSecond": 65536},
            {"model": 0}]})", QStringLiteral("/base"), &error);
        QVERIFY2(config, qPrintable(error));
        QCOMPARE(config->recordFile, QStringLiteral("/base/out.txt"));
        QCOMPARE(int(config->devices.size()), 2);

        const HidSim::ConfiguredDevice &full = config->devices.at(0);
        QCOMPARE(full.description.vendorId, vendorId);
        QCOMPARE(full.description.productId, modelForUnitType(7)->productId);
        QVERIFY(!full.description.product);
        QCOMPARE(full.description.manufacturer, std::optional<std::wstring>(L"Other"));
        QCOMPARE(full.description.listings, 2);
        QCOMPARE(full.settings.unitType, 7);
        QCOMPARE(full.settings.version, quint8(21));
        QCOMPARE(full.settings.applyTimeMs, 500);
        QCOMPARE(full.settings.log, QByteArray("hello"));
        QVERIFY(!full.settings.reportsTransferComplete && !full.settings.sendsVersionReport);
        QCOMPARE(full.verdict, std::optional<quint8>(7));
        QCOMPARE(full.startReply, std::optional<quint8>(10));
        QVERIFY(full.silent && full.openFails);
        QCOMPARE(full.unplugAfterWrites, 40);
        QCOMPARE(full.writePacing, HidSim::WritePacing::OccasionalStall);
        QCOMPARE(full.attachAfterMs, 2500);
        QCOMPARE(full.unplugAfterMs, 3000);
        QCOMPARE(full.replugAfterMs, 400);
        QCOMPARE(full.replugVersion, std::optional<quint8>(22));
        QCOMPARE(full.libraryBytesPerSecond, 65536);

        const HidSim::ConfiguredDevice &plain = config->devices.at(1);
        QCOMPARE(plain.description.productId, modelForUnitType(0)->productId);
        QCOMPARE(plain.description.product, std::optional<std::wstring>(L"Tavoro HID"));
        QCOMPARE(plain.description.manufacturer, std::optional<std::wstring>(L"Tavoro"));
        QCOMPARE(plain.settings.version, quint8(14));
        QVERIFY(plain.settings.log.isEmpty());
        QVERIFY(!plain.verdict && !plain.startReply && !plain.silent && !plain.openFails);
        QCOMPARE(plain.unplugAfterWrites, 0);
        QCOMPARE(plain.writePacing, HidSim::WritePacing::Immediate);
        QCOMPARE(plain.attachAfterMs, 0);
        QVERIFY(plain.unplugAfterMs == 0 && plain.replugAfterMs == 0 && !plain.replugVersion);
    }

    void configParsingRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("problem");

        const auto device = [](const char *fields) { return QByteArray(R"({"devices": [{)") + fields + "}]}"; };
        QTest::newRow("not JSON") << QByteArray("{devices") << QString();
        QTest::newRow("not an object") << QByteArray("[]") << QString();
        QTest::newRow("typo") << device(R"("model": 0, "verdikt": 7)") << QStringLiteral("unknown field \"verdikt\"");
        QTest::newRow("unit type") << device(R"("model": 18)") << QStringLiteral("\"model\"");
        QTest::newRow("no unit type") << device(R"("version": 3)") << QStringLiteral("\"model\"");
        QTest::newRow("status") << device(R"("model": 0, "verdict": 16)") << QStringLiteral("\"verdict\"");
        QTest::newRow("fraction") << device(R"("model": 0, "version": 1.5)") << QStringLiteral("\"version\"");
        QTest::newRow("base64") << device(R"("model": 0, "log": "a*b")") << QStringLiteral("base64");
        QTest::newRow("missing log file") << device(R"("model": 0, "logFile": "none.log")") << QStringLiteral("logFile");
        QTest::newRow("pacing") << device(R"("model": 0, "writePacing": "usb frame")") << QStringLiteral("\"writePacing\"");
        QTest::newRow("negative delay") << device(R"("model": 0, "attachAfterMs": -5)") << QStringLiteral("\"attachAfterMs\"");
        QTest::newRow("unplugged before attached") << device(R"("model": 0, "attachAfterMs": 50, "unplugAfterMs": 50)")
                                                   << QStringLiteral("\"unplugAfterMs\"");
        QTest::newRow("replugged, never unplugged") << device(R"("model": 0, "replugAfterMs": 50)")
                                                    << QStringLiteral("\"replugAfterMs\"");
        QTest::newRow("version without replug") << device(R"("model": 0, "unplugAfterMs": 50, "replugVersion": 20)")
                                                << QStringLiteral("\"replugVersion\"");
        QTest::newRow("devices") << QByteArray(R"({"devices": {"model": 0}})") << QStringLiteral("\"devices\"");
    }

    void configParsingRejects()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, problem);

        QString error;
        QVERIFY(!HidSim::parseConfig(json, QDir::tempPath(), &error));
        QVERIFY(!error.isEmpty());
        QVERIFY2(error.contains(problem), qPrintable(error));
    }

    void enumeration_data()
    {
        QTest::addColumn<int>("vendor");
        QTest::addColumn<int>("product");
        QTest::addColumn<int>("expected");

        const int calyx2Product = modelForUnitType(calyx2)->productId;
        QTest::newRow("any") << 0 << 0 << 6;
        QTest::newRow("vendor") << int(vendorId) << 0 << 5;
        QTest::newRow("vendor and product") << int(vendorId) << calyx2Product << 1;
        QTest::newRow("product of two vendors") << 0 << calyx2Product << 2;
        QTest::newRow("listed thrice, no strings") << int(vendorId) << 0x0BAD << 3;
        QTest::newRow("nothing") << int(vendorId) << 0x7777 << 0;
    }

    void enumeration()
    {
        QFETCH(int, vendor);
        QFETCH(int, product);
        QFETCH(int, expected);

        QMap<QPair<int, int>, std::string> paths;
        for (const Controller &model : { HidSim::attachModel(calyx2), HidSim::attachModel(ebony) })
            paths[{ vendorId, modelForUnitType(model->unitType())->productId }] = model->path();
        HidSim::DeviceDescription foreign;
        foreign.vendorId = 0x1234;
        foreign.productId = modelForUnitType(calyx2)->productId;
        paths[{ 0x1234, foreign.productId }] = HidSim::attach(foreign, HidSim::ControllerSettings())->path();
        HidSim::DeviceDescription bare;
        bare.vendorId = vendorId;
        bare.productId = 0x0BAD;
        bare.product = bare.manufacturer = std::nullopt;
        bare.listings = 3;
        paths[{ vendorId, 0x0BAD }] = HidSim::attach(bare, HidSim::ControllerSettings())->path();

        hid_device_info *entries = hid_enumerate(ushort(vendor), ushort(product));
        int count = 0;
        for (hid_device_info *entry = entries; entry; entry = entry->next, ++count) {
            QVERIFY(vendor == 0 || entry->vendor_id == vendor);
            QVERIFY(product == 0 || entry->product_id == product);
            QCOMPARE(entry->path, paths.value({ entry->vendor_id, entry->product_id }).c_str());
            const bool named = entry->product_id != 0x0BAD;
            QCOMPARE(wide(entry->product_string), named ? QStringLiteral("Tavoro HID") : wide(nullptr));
            QCOMPARE(wide(entry->manufacturer_string), named ? QStringLiteral("Tavoro") : wide(nullptr));
        }
        QCOMPARE(count, expected);
        QCOMPARE(wide(hid_error(nullptr)) == QLatin1String("Success"), expected > 0);
        QCOMPARE(HidSim::enumerationCount(), 1);

        if (entries) {
            const Device device(hid_open_path(entries->path));
            wchar_t text[32] = {};
            const bool named = entries->product_id != 0x0BAD;
            QCOMPARE(hid_get_product_string(device, text, 32), named ? 0 : -1);
            QCOMPARE(QString::fromWCharArray(text), named ? QStringLiteral("Tavoro HID") : QString());
        }
        hid_free_enumeration(entries);
    }

    void openFailures()
    {
        const Controller controller = HidSim::attachModel(calyx2);
        controller->setOpenFails(true);
        for (const std::string &path : { controller->path() + "x", controller->path() }) {
            QVERIFY(!hid_open_path(path.c_str()));
            QVERIFY(wide(hid_error(nullptr)).startsWith(QLatin1String("Failed to open")));
            QCOMPARE(controller->openCount(), 0);
            QCOMPARE(HidSim::openHandleCount(), 0);
            hid_free_enumeration(hid_enumerate(0, 0));  // clears the last error
        }

        controller->setOpenFails(false);
        Device device(hid_open(vendorId, modelForUnitType(calyx2)->productId, nullptr));
        QVERIFY(device);
        QCOMPARE(HidSim::openHandleCount(), 1);
        QVERIFY(controller->isOpen());
        device.close();
        QCOMPARE(HidSim::openHandleCount(), 0);
        QVERIFY(!controller->isOpen());
        QCOMPARE(controller->openCount(), 1);
    }

    void versionByte_data()
    {
        QTest::addColumn<int>("unitType");
        QTest::addColumn<int>("versionOffset");
        for (int unitType = 0; unitType < unitTypeCount; ++unitType)
            QTest::addRow("unit type %d", unitType) << unitType << (unitType >= 5 && unitType <= 8 ? 62 : 63);
    }

    void versionByte()
    {
        QFETCH(int, unitType);
        QFETCH(int, versionOffset);

        const Controller controller = HidSim::attachModel(unitType, 0x2B);
        const Device device(hid_open_path(controller->path().c_str()));
        const QByteArray report = readReport(device, Report::versionReadTimeout);
        QCOMPARE(report.size(), Report::payloadSize);
        QCOMPARE(quint8(report.at(versionOffset)), quint8(0x2B));
        QCOMPARE(report.count('\0'), Report::payloadSize - 1);
        QVERIFY(readReport(device).isEmpty());
    }

    void transfer_data()
    {
        QTest::addColumn<int>("unitType");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("verdict");  // -1: the controller's own
        QTest::addColumn<QList<int>>("expected");

        const int complete = Report::statusTransferComplete, finished = Report::statusUpdateFinished;
        const int internalError = Report::statusInternalError, wrongFile = Report::statusWrongFile;
        const QList<int> accepted { complete, finished }, finishedOnly { finished };
        const QList<int> internal { internalError }, wrong { wrongFile }, wrongMd5 { Report::statusWrongMd5 };
        for (int unitType : { calyx2, ebony }) {
            const char *layout = unitType == calyx2 ? "leading" : "trailing";
            for (int size : { 0, 59, 60, 121, 6000 })
                QTest::addRow("%s, %d bytes", layout, size) << unitType << size << QString() << -1 << accepted;
            for (int size : { 59, 60, 121, 6000 })
                QTest::addRow("%s, %d bytes, corrupted", layout, size)
                    << unitType << size << QStringLiteral("corrupted") << -1 << wrongMd5;
            // 200 bytes: data 1..3, end 4 with 20 bytes.
            for (const char *fault : { "gap", "repeat", "end number", "end count" })
                QTest::addRow("%s, %s", layout, fault) << unitType << 200 << QString(fault) << -1 << wrong;
        }
        QTest::newRow("finished alone") << ebony << 100 << QStringLiteral("finished alone") << -1 << finishedOnly;
        QTest::newRow("internal error") << ebony << 100 << QString() << internalError << internal;
        QTest::newRow("wrong file") << ebony << 100 << QString() << wrongFile << wrong;
        QTest::newRow("accepted despite digest") << ebony << 100 << QStringLiteral("other digest") << complete << accepted;
        QTest::newRow("finished at once") << ebony << 100 << QString() << finished << finishedOnly;
        QTest::newRow("refused start") << calyx2 << 100 << QStringLiteral("refused") << -1 << QList<int>();
        // The model with the image outside the reports checks no digest,
        // only that the end report carries no bytes.
        QTest::newRow("moss") << moss << 0 << QStringLiteral("other digest") << -1 << accepted;
        QTest::newRow("moss, configured") << moss << 0 << QString() << internalError << internal;
        QTest::newRow("moss, bytes in the end report") << moss << 3 << QString() << -1 << wrong;
    }

    void transfer()
    {
        QFETCH(int, unitType);
        QFETCH(int, size);
        QFETCH(QString, fault);
        QFETCH(int, verdict);
        QFETCH(QList<int>, expected);

        const Report::Layout layout = Report::layoutForUnitType(unitType);
        HidSim::ControllerSettings settings;
        settings.unitType = unitType;
        settings.reportsTransferComplete = fault != QLatin1String("finished alone");
        const Controller controller = attachWith(settings);
        if (verdict >= 0)
            controller->setVerdict(quint8(verdict));
        const bool refused = fault == QLatin1String("refused");
        if (refused)
            controller->setStartReply(Report::statusTimeout);
        const Device device = openController(controller);

        const QByteArray image = testLog(size);
        QByteArray sent = image;
        if (fault == QLatin1String("corrupted"))
            sent[size / 2] = char(sent.at(size / 2) ^ 0x01);
        QList<QByteArray> reports = imageReports(layout, sent);
        const int headerAt = 1 + layout.commandOffset;  // in the output report
        if (unitType == moss)
            reports = { Report::buildTransferEnd(layout, 0, image.constData(), size) };
        else if (fault == QLatin1String("gap"))
            reports.removeAt(1);
        else if (fault == QLatin1String("repeat"))
            reports.insert(1, reports.at(0));
        else if (fault == QLatin1String("end number"))
            reports.last()[headerAt + 3] = 5;
        else if (fault == QLatin1String("end count"))
            reports.last()[headerAt + 1] = char(Report::dataBytesPerReport);
        const QByteArray announced = md5Hex(fault == QLatin1String("other digest") ? QByteArray("other") : image);

        QCOMPARE(sendFirmware(device, layout, announced, reports),
                 int(refused ? Report::statusTimeout : Report::statusReady));
        QCOMPARE(waitingStatuses(device, layout), expected);
        QCOMPARE(controller->announcedMd5(), announced);
        if (refused || unitType == moss)
            QVERIFY(controller->receivedImage().isEmpty());
        else if (!QStringList({ "gap", "repeat", "end count" }).contains(fault))
            QCOMPARE(controller->receivedImage(), sent);
    }

    void logDownload_data()
    {
        QTest::addColumn<int>("unitType");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("parts");
        // A log filling its last 63-byte part still ends with an empty last part.
        const QList<QPair<int, int>> logs { { 0, 0 }, { 1, 1 }, { 62, 1 }, { 63, 2 }, { 126, 3 },
                                            { 587, 10 }, { 63 * 300 + 62, 301 } };
        for (int unitType : { calyx2, 14 }) {
            for (const auto &[size, parts] : logs)
                QTest::addRow("%s, %d bytes", unitType == calyx2 ? "leading" : "trailing", size)
                    << unitType << size << parts;
        }
    }

    void logDownload()
    {
        QFETCH(int, unitType);
        QFETCH(int, size);
        QFETCH(int, parts);

        const Controller controller = HidSim::attachModel(unitType);
        const QByteArray log = testLog(size);
        controller->setLog(log);
        const Device device = openController(controller);
        writeReport(device, Report::buildLogResend());
        QVERIFY2(readReport(device).isEmpty(), "nothing to resend before the first reply");
        writeReport(device, Report::buildLogRequest(Report::layoutForUnitType(unitType), 1));

        // Each reply, the last one too, comes again once on a resend.
        QByteArray received;
        for (int reply = 0; reply <= parts; ++reply) {
            if (reply > 0)
                writeReport(device, Report::buildLogAck());
            const QByteArray payload = readReport(device, reply == 0 ? -1 : 0);
            QCOMPARE(payload.size(), Report::payloadSize);
            writeReport(device, Report::buildLogResend());
            QCOMPARE(readReport(device), payload);
            const auto *bytes = reinterpret_cast<const uchar *>(payload.constData());
            if (size == 0) {
                QCOMPARE(payload, logReply(Report::logClose));
            } else if (reply == 0) {
                QCOMPARE(bytes[0], quint8(Report::logHeader));
                QCOMPARE(Report::decodeLogHeader(bytes).digest, md5Hex(log));
                QCOMPARE(Report::decodeLogHeader(bytes).parts, parts);
            } else {
                QCOMPARE(bytes[0], quint8(reply < parts ? Report::logPart : Report::logLastPart));
                received += reply < parts ? payload.mid(1, Report::logPartBytes) : Report::logLastPartBytes(bytes);
            }
        }
        QCOMPARE(received, log);
        writeReport(device, Report::buildLogAck());
        QVERIFY(readReport(device).isEmpty());
    }

    void scriptedReportsComeFirst()
    {
        const Controller controller = HidSim::attachModel(calyx2);
        controller->setLog(testLog(100));
        const QByteArray stray = logReply(Report::logPart);
        controller->queueInputReport(stray.left(10));  // zero-padded to 64 bytes
        const Device device(hid_open_path(controller->path().c_str()));
        QCOMPARE(readReport(device), stray);  // ahead of the version report
        QCOMPARE(quint8(readReport(device).at(63)), quint8(14));

        // An odd reply lands just before the part the acknowledgement asks for;
        // the resend it provokes must not hand that part over twice.
        writeReport(device, Report::buildLogRequest(Report::leadingHeader, 1));
        controller->queueInputReportAfterWrites(1, logReply(0x41));
        QCOMPARE(quint8(readReport(device).at(0)), quint8(Report::logHeader));
        writeReport(device, Report::buildLogAck());
        QCOMPARE(readReport(device), logReply(0x41));
        writeReport(device, Report::buildLogResend());
        QCOMPARE(quint8(readReport(device).at(0)), quint8(Report::logPart));
        QVERIFY(readReport(device).isEmpty());
    }

    void writeFaults()
    {
        const Controller controller = HidSim::attachModel(calyx2);
        const Device device = openController(controller);
        const QByteArray start = Report::buildTransferStart(Report::leadingHeader, md5Hex("x"));
        const QByteArray ack = Report::buildLogAck();

        // A failed transferStart never reaches the controller: nothing answers it.
        controller->failWrite(1);
        QCOMPARE(writeReport(device, start), -1);
        QVERIFY(readReport(device).isEmpty());

        controller->failWrite(2);
        QCOMPARE(writeReport(device, start), Report::outputSize);
        QCOMPARE(writeReport(device, ack), -1);
        QVERIFY(wide(hid_error(device)) != QLatin1String("Success"));
        QCOMPARE(writeReport(device, QByteArray("\0\x30\x01", 3)), 3);
        QCOMPARE(wide(hid_error(device)), QStringLiteral("Success"));
        QCOMPARE(writeReport(device, QByteArray(Report::outputSize + 1, '\0')), -1);
        controller->setAllWritesFail(true);
        QCOMPARE(writeReport(device, ack), -1);
        QCOMPARE(writeReport(device, ack), -1);
        controller->setAllWritesFail(false);
        QCOMPARE(writeReport(device, ack), Report::outputSize);

        // Only what reached the device is recorded, byte-exact; a short report zero-padded.
        QByteArray padded(Report::outputSize, '\0');
        padded[1] = 0x30;
        padded[2] = 0x01;
        QCOMPARE(controller->writtenReports(), QList<QByteArray>({ start, padded, ack }));
        controller->clearWrittenReports();
        QVERIFY(controller->writtenReports().isEmpty());
    }

    void unplug_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("now") << QStringLiteral("now");
        QTest::newRow("detached") << QStringLiteral("detached");
        QTest::newRow("after two writes") << QStringLiteral("after two writes");
    }

    void unplug()
    {
        QFETCH(QString, how);

        const Controller controller = HidSim::attachModel(ebony);
        Device device = openController(controller);
        controller->queueInputReport(logReply(Report::logClose));
        const QByteArray ack = Report::buildLogAck();
        if (how == QLatin1String("now")) {
            controller->unplug();
        } else if (how == QLatin1String("detached")) {
            HidSim::detach(controller);
        } else {
            controller->unplugAfterWrites(2);
            QCOMPARE(writeReport(device, ack), Report::outputSize);
            QCOMPARE(writeReport(device, ack), Report::outputSize);
        }

        QCOMPARE(writeReport(device, ack), -1);
        unsigned char payload[Report::payloadSize];
        QCOMPARE(hid_read_timeout(device, payload, sizeof payload, 10), -1);
        QCOMPARE(hid_read(device, payload, sizeof payload), -1);
        wchar_t text[32];
        QCOMPARE(hid_get_product_string(device, text, 32), -1);
        QVERIFY(!hid_enumerate(0, 0));
        QVERIFY(!hid_open_path(controller->path().c_str()));
        QVERIFY(wide(hid_error(nullptr)).startsWith(QLatin1String("Failed to open")));
        QCOMPARE(controller->openCount(), 1);
        device.close();
        QCOMPARE(HidSim::openHandleCount(), 0);
    }

    void silentDevice()
    {
        const Controller controller = HidSim::attachModel(ebony);
        controller->setSilent(true);
        controller->setLog(testLog(10));
        const Device device(hid_open_path(controller->path().c_str()));
        QVERIFY(readReport(device, 20).isEmpty());
        writeReport(device, Report::buildTransferStart(Report::trailingHeader, md5Hex("")));
        writeReport(device, Report::buildTransferEnd(Report::trailingHeader, 1, nullptr, 0));
        writeReport(device, Report::buildLogRequest(Report::trailingHeader, 1));
        QVERIFY(readReport(device).isEmpty());
        QCOMPARE(controller->writtenReports().size(), 3);
        QCOMPARE(hid_set_nonblocking(device, 1), 0);
        unsigned char payload[Report::payloadSize];
        QCOMPARE(hid_read(device, payload, sizeof payload), 0);
    }

    void writePacing_data()
    {
        QTest::addColumn<HidSim::WritePacing>("pacing");
        QTest::addColumn<int>("units");  // each opened, written and read from threads of its own
        QTest::newRow("immediate") << HidSim::WritePacing::Immediate << 1;
        QTest::newRow("USB frame") << HidSim::WritePacing::UsbFrame << 1;
        QTest::newRow("occasional stall") << HidSim::WritePacing::OccasionalStall << 1;
        QTest::newRow("USB frame, three units at once") << HidSim::WritePacing::UsbFrame << 3;
    }

    void writePacing()
    {
        QFETCH(HidSim::WritePacing, pacing);
        QFETCH(int, units);

        const Report::Layout layout = Report::leadingHeader;
        std::vector<Controller> controllers;
        std::vector<QByteArray> images;  // one of its own per unit: a mix-up shows
        for (int unit = 0; unit < units; ++unit) {
            controllers.push_back(HidSim::attachModel(calyx2));
            controllers.back()->setWritePacing(pacing);
            images.push_back(testLog(60 * 120 + 7 + unit));
        }
        std::vector<QList<int>> statuses(static_cast<size_t>(units));
        std::vector<int> written(static_cast<size_t>(units));

        std::mutex openLock;  // hidapi's opens are serialised across the process
        std::vector<std::thread> threads;
        for (int unit = 0; unit < units; ++unit) {
            threads.emplace_back([&, unit] {
                const Device device = [&] {
                    const std::lock_guard<std::mutex> lock(openLock);
                    return openController(controllers[unit]);
                }();
                // The answers are read on another thread while the paced writes go on.
                std::thread reader([&] {
                    for (QByteArray report = readReport(device, 10000); !report.isEmpty();
                         report = readReport(device, 10000)) {
                        statuses[unit].append(statusOf(report, layout));
                        if (statuses[unit].last() == Report::statusUpdateFinished)
                            break;
                    }
                });
                written[unit] = writeReport(device, Report::buildTransferStart(layout, md5Hex(images[unit])))
                                == Report::outputSize;
                for (const QByteArray &report : imageReports(layout, images[unit]))
                    written[unit] += writeReport(device, report) == Report::outputSize;
                reader.join();
            });
        }
        for (std::thread &thread : threads)
            thread.join();

        for (int unit = 0; unit < units; ++unit) {
            QCOMPARE(written[unit], 1 + 121);
            QCOMPARE(statuses[unit], QList<int>({ Report::statusReady, Report::statusTransferComplete,
                                                  Report::statusUpdateFinished }));
            QCOMPARE(controllers[unit]->receivedImage(), images[unit]);
        }
    }

    void blockedReadWakes_data()
    {
        QTest::addColumn<QString>("wakeUp");
        QTest::addColumn<int>("firstByte");  // 0: the read fails
        QTest::newRow("delayed report falls due") << QStringLiteral("due") << int(Report::statusUpdateFinished << 4);
        QTest::newRow("write from another thread") << QStringLiteral("write") << int(Report::logHeader);
        QTest::newRow("unplug") << QStringLiteral("unplug") << 0;
    }

    void blockedReadWakes()
    {
        QFETCH(QString, wakeUp);
        QFETCH(int, firstByte);

        HidSim::ControllerSettings settings;
        settings.unitType = calyx2;
        settings.applyTimeMs = 150;
        settings.log = testLog(10);
        const Controller controller = attachWith(settings);
        const Device device = openController(controller);
        const Report::Layout layout = Report::leadingHeader;
        unsigned char payload[Report::payloadSize] = {};
        if (wakeUp == QLatin1String("due")) {
            sendFirmware(device, layout, md5Hex(""), imageReports(layout, QByteArray()));
            QCOMPARE(statusOf(readReport(device), layout), int(Report::statusTransferComplete));
            QCOMPARE(hid_read_timeout(device, payload, sizeof payload, 1), 0);
            QCOMPARE(wide(hid_error(device)), QStringLiteral("Success"));
        }

        // A blocking read wakes for a report that falls due, not only for new input.
        int readResult = 0;
        std::thread reader([&] { readResult = hid_read(device, payload, sizeof payload); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (wakeUp == QLatin1String("unplug"))
            controller->unplug();
        else if (wakeUp == QLatin1String("write"))
            writeReport(device, Report::buildLogRequest(layout, 1));
        reader.join();
        QCOMPARE(readResult, firstByte ? Report::payloadSize : -1);
        QCOMPARE(int(payload[0]), firstByte);
    }

    void misuseIsRecorded_data()
    {
        QTest::addColumn<QString>("calls");
        QTest::addColumn<QString>("recorded");  // a part of the one text recorded; empty: none
        QTest::newRow("enumerate and open on two threads") << QStringLiteral("unserialised")
                                                           << QStringLiteral("must be serialised");
        QTest::newRow("the same, serialised") << QStringLiteral("serialised") << QString();
        QTest::newRow("close under a read") << QStringLiteral("close") << QStringLiteral("hid_close on the handle");
    }

    // What the real hidapi answers with a corrupted heap is recorded, and
    // only that.
    void misuseIsRecorded()
    {
        QFETCH(QString, calls);
        QFETCH(QString, recorded);

        if (calls == QLatin1String("close")) {
            const Controller controller = HidSim::attachModel(ebony);
            controller->setSilent(true);
            Device device(hid_open_path(controller->path().c_str()));
            unsigned char payload[Report::payloadSize];
            // The reader keeps the handle itself: the misuse is the close,
            // not the test's own handover of its holder.
            std::thread reader([handle = static_cast<hid_device *>(device), &payload] {
                hid_read(handle, payload, sizeof payload);
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            device.close();
            reader.join();
        } else {
#ifdef Q_OS_WIN
            // Under Wine the two threads were seen not to meet inside the
            // calls' window; the check itself is the same on every system.
            if (calls != QLatin1String("serialised"))
                QSKIP("two threads are not seen to overlap under Wine");
#endif
            std::mutex lock;
            const bool serialised = calls == QLatin1String("serialised");
            const auto call = [&](const std::function<void()> &function) {
                std::unique_lock<std::mutex> held(lock, std::defer_lock);
                if (serialised)
                    held.lock();
                function();
            };
            std::thread enumerating([&] {
                for (int i = 0; i < 50; ++i)
                    call([] { hid_free_enumeration(hid_enumerate(vendorId, 0x7777)); });
            });
            for (int i = 0; i < 50; ++i) {
                call([] {
                    hid_open_path("/dev/hidsim-none");
                    wide(hid_error(nullptr));
                });
            }
            enumerating.join();
        }

        const QStringList misuse = HidSim::takeMisuse();
        if (recorded.isEmpty()) {
            QCOMPARE(misuse, QStringList());
        } else {
            QVERIFY2(!misuse.isEmpty(), "nothing recorded");
            QVERIFY2(misuse.first().contains(recorded), qPrintable(misuse.join(QLatin1Char('\n'))));
        }
    }
};

QTEST_GUILESS_MAIN(TestHidSim)
#include "tst_hidsim.moc"
