// Drives the simulator through the hidapi calls, as the updater does.

#include <devicereports.h>
#include <hidsim.h>
#include <registry.h>
#include <simconfig.h>

#include <device/models.h>
#include <device/reports.h>

#include <hidapi.h>

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

using HidSim::Controller;

Q_DECLARE_METATYPE(HidSim::WritePacing)

namespace {

constexpr int calyx2 = 1;  // leading-header layout
constexpr int moss = 11;   // image outside the reports
constexpr int ebony = 12;  // trailing-header layout

QByteArray md5Hex(const QByteArray &data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5).toHex();
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

// Opens the controller and reads its version report.
hid_device *openController(const Controller &controller)
{
    hid_device *device = hid_open_path(controller->path().c_str());
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
    void init();

    // Must be the first test to make a hidapi call: the file is read once.
    void configFileAttachesDevicesAndRecordsWrites();
    void configParsingReadsEveryField();
    void configParsingRejects_data();
    void configParsingRejects();

    void enumerationFilters_data();
    void enumerationFilters();
    void enumerationStringsAndListings();
    void openFailures_data();
    void openFailures();
    void versionByte_data();
    void versionByte();

    void transfer_data();
    void transfer();
    void brokenSequence_data();
    void brokenSequence();
    void verdictSettings_data();
    void verdictSettings();
    void refusedStart();
    void mossTransfer_data();
    void mossTransfer();

    void logDownload_data();
    void logDownload();
    void logResendRepeatsLastReply();
    void scriptedReportsComeFirst();
    void logSplitting_data();
    void logSplitting();

    void writeFaults();
    void unplug_data();
    void unplug();
    void silentDevice();
    void writesRecordedByteExact();
    void writePacing_data();
    void writePacing();

    void readTimeoutWaitsForDelayedReport();
    void writeFromAnotherThreadWakesBlockedRead();
    void unplugWakesBlockedRead();
};

void TestHidSim::init()
{
    HidSim::reset();
}

void TestHidSim::configFileAttachesDevicesAndRecordsWrites()
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
        {"model": 1, "product": null, "silent": true}]})");
    config.close();
    qputenv("TAVORO_HIDSIM_CONFIG", config.fileName().toLocal8Bit());

    QCOMPARE(hid_init(), 0);
    hid_device_info *entries = hid_enumerate(vendorId, 0);
    QVERIFY(entries && entries->next && !entries->next->next);
    QCOMPARE(entries->product_id, modelForUnitType(ebony)->productId);
    QVERIFY(!entries->next->product_string);

    hid_device *device = hid_open_path(entries->path);
    QCOMPARE(quint8(readReport(device, 1000).at(63)), quint8(17));
    const Report::Layout layout = Report::trailingHeader;
    const QByteArray image = testLog(130);
    sendFirmware(device, layout, md5Hex(image), imageReports(layout, image));
    QCOMPARE(waitingStatuses(device, layout), QList<int>({ Report::statusWrongMd5 }));
    writeReport(device, Report::buildLogRequest(layout, 1));
    const QByteArray header = readReport(device);
    QCOMPARE(header.mid(1, 32), md5Hex(testLog(100)));

    hid_device *silent = hid_open_path(entries->next->path);
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

    hid_close(device);
    hid_close(silent);
    hid_free_enumeration(entries);
    qunsetenv("TAVORO_HIDSIM_CONFIG");
}

void TestHidSim::configParsingReadsEveryField()
{
    QString error;
    const auto config = HidSim::parseConfig(R"({"recordFile": "out.txt", "devices": [
        {"model": 7, "version": 21, "applyTimeMs": 500, "verdict": 7, "startReply": 10,
         "silent": true, "log": "aGVsbG8=", "product": null, "manufacturer": "Other",
         "listings": 2, "reportsTransferComplete": false, "sendsVersionReport": false},
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
    QVERIFY(!full.settings.reportsTransferComplete);
    QVERIFY(!full.settings.sendsVersionReport);
    QCOMPARE(full.verdict, std::optional<quint8>(7));
    QCOMPARE(full.startReply, std::optional<quint8>(10));
    QVERIFY(full.silent);

    const HidSim::ConfiguredDevice &plain = config->devices.at(1);
    QCOMPARE(plain.description.productId, modelForUnitType(0)->productId);
    QCOMPARE(plain.description.product, std::optional<std::wstring>(L"Tavoro HID"));
    QCOMPARE(plain.description.manufacturer, std::optional<std::wstring>(L"Tavoro"));
    QCOMPARE(plain.settings.version, quint8(14));
    QVERIFY(plain.settings.log.isEmpty());
    QVERIFY(!plain.verdict && !plain.startReply && !plain.silent);
}

void TestHidSim::configParsingRejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("problem");

    QTest::newRow("not JSON") << QByteArray("{devices") << QString();
    QTest::newRow("not an object") << QByteArray("[]") << QString();
    QTest::newRow("typo") << QByteArray(R"({"devices": [{"model": 0, "verdikt": 7}]})")
                          << QStringLiteral("unknown field \"verdikt\"");
    QTest::newRow("unit type") << QByteArray(R"({"devices": [{"model": 18}]})") << QStringLiteral("\"model\"");
    QTest::newRow("no unit type") << QByteArray(R"({"devices": [{"version": 3}]})") << QStringLiteral("\"model\"");
    QTest::newRow("status") << QByteArray(R"({"devices": [{"model": 0, "verdict": 16}]})")
                            << QStringLiteral("\"verdict\"");
    QTest::newRow("fraction") << QByteArray(R"({"devices": [{"model": 0, "version": 1.5}]})")
                              << QStringLiteral("\"version\"");
    QTest::newRow("base64") << QByteArray(R"({"devices": [{"model": 0, "log": "a*b"}]})")
                            << QStringLiteral("base64");
    QTest::newRow("missing log file") << QByteArray(R"({"devices": [{"model": 0, "logFile": "none.log"}]})")
                                      << QStringLiteral("logFile");
    QTest::newRow("devices") << QByteArray(R"({"devices": {"model": 0}})") << QStringLiteral("\"devices\"");
}

void TestHidSim::configParsingRejects()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, problem);

    QString error;
    QVERIFY(!HidSim::parseConfig(json, QDir::tempPath(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(problem), qPrintable(error));
}

void TestHidSim::enumerationFilters_data()
{
    QTest::addColumn<int>("vendor");
    QTest::addColumn<int>("product");
    QTest::addColumn<int>("expected");

    const int calyx2Product = modelForUnitType(calyx2)->productId;
    QTest::newRow("any") << 0 << 0 << 3;
    QTest::newRow("vendor") << int(vendorId) << 0 << 2;
    QTest::newRow("vendor and product") << int(vendorId) << calyx2Product << 1;
    QTest::newRow("product of two vendors") << 0 << calyx2Product << 2;
    QTest::newRow("nothing") << int(vendorId) << 0x7777 << 0;
}

void TestHidSim::enumerationFilters()
{
    QFETCH(int, vendor);
    QFETCH(int, product);
    QFETCH(int, expected);

    HidSim::attachModel(calyx2);
    HidSim::attachModel(ebony);
    HidSim::DeviceDescription foreign;
    foreign.vendorId = 0x1234;
    foreign.productId = modelForUnitType(calyx2)->productId;
    HidSim::attach(foreign, HidSim::ControllerSettings());

    hid_device_info *entries = hid_enumerate(ushort(vendor), ushort(product));
    int count = 0;
    for (hid_device_info *entry = entries; entry; entry = entry->next) {
        QVERIFY(vendor == 0 || entry->vendor_id == vendor);
        QVERIFY(product == 0 || entry->product_id == product);
        ++count;
    }
    QCOMPARE(count, expected);
    QCOMPARE(QString::fromWCharArray(hid_error(nullptr)) == QLatin1String("Success"), expected > 0);
    QCOMPARE(HidSim::enumerationCount(), 1);
    hid_free_enumeration(entries);
}

void TestHidSim::enumerationStringsAndListings()
{
    const Controller model = HidSim::attachModel(ebony);
    HidSim::DeviceDescription bare;
    bare.vendorId = vendorId;
    bare.productId = 0x0BAD;
    bare.product = std::nullopt;
    bare.manufacturer = std::nullopt;
    bare.listings = 3;
    const Controller listed = HidSim::attach(bare, HidSim::ControllerSettings());

    hid_device_info *entries = hid_enumerate(vendorId, 0);
    QVERIFY(entries);
    QCOMPARE(entries->path, model->path().c_str());
    QCOMPARE(entries->product_id, modelForUnitType(ebony)->productId);
    QCOMPARE(QString::fromWCharArray(entries->product_string), QStringLiteral("Tavoro HID"));
    QCOMPARE(QString::fromWCharArray(entries->manufacturer_string), QStringLiteral("Tavoro"));
    int listings = 0;
    for (hid_device_info *entry = entries->next; entry; entry = entry->next) {
        QCOMPARE(entry->path, listed->path().c_str());
        QVERIFY(!entry->product_string && !entry->manufacturer_string);
        ++listings;
    }
    QCOMPARE(listings, 3);

    wchar_t text[32];
    hid_device *device = hid_open_path(listed->path().c_str());
    QCOMPARE(hid_get_product_string(device, text, 32), -1);
    hid_close(device);
    device = hid_open_path(model->path().c_str());
    QCOMPARE(hid_get_product_string(device, text, 32), 0);
    QCOMPARE(QString::fromWCharArray(text), QStringLiteral("Tavoro HID"));
    hid_close(device);
    hid_free_enumeration(entries);
}

void TestHidSim::openFailures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("unknown path") << QStringLiteral("path");
    QTest::newRow("refuses") << QStringLiteral("refuses");
    QTest::newRow("unplugged") << QStringLiteral("unplugged");
    QTest::newRow("detached") << QStringLiteral("detached");
}

void TestHidSim::openFailures()
{
    QFETCH(QString, fault);

    const Controller controller = HidSim::attachModel(calyx2);
    std::string path = controller->path();
    if (fault == QLatin1String("path"))
        path += "x";
    else if (fault == QLatin1String("refuses"))
        controller->setOpenFails(true);
    else if (fault == QLatin1String("unplugged"))
        controller->unplug();
    else
        HidSim::detach(controller);

    QVERIFY(!hid_open_path(path.c_str()));
    QVERIFY(QString::fromWCharArray(hid_error(nullptr)).startsWith(QLatin1String("Failed to open")));
    QCOMPARE(controller->openCount(), 0);
    QCOMPARE(HidSim::openHandleCount(), 0);

    if (fault == QLatin1String("refuses")) {
        controller->setOpenFails(false);
        hid_device *device = hid_open(vendorId, modelForUnitType(calyx2)->productId, nullptr);
        QVERIFY(device);
        QCOMPARE(HidSim::openHandleCount(), 1);
        QVERIFY(controller->isOpen());
        hid_close(device);
        QCOMPARE(HidSim::openHandleCount(), 0);
        QVERIFY(!controller->isOpen());
        QCOMPARE(controller->openCount(), 1);
    }
}

void TestHidSim::versionByte_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("versionOffset");
    QTest::newRow("CALYX4") << 0 << 63;
    QTest::newRow("GLYPH IO") << 4 << 63;
    QTest::newRow("HALO2") << 5 << 62;
    QTest::newRow("HALO4") << 6 << 62;
    QTest::newRow("IRIS") << 7 << 62;
    QTest::newRow("JADE") << 8 << 62;
    QTest::newRow("KITE") << 9 << 63;
    QTest::newRow("EBONY") << 12 << 63;
    QTest::newRow("ARDEN right") << 14 << 63;
    QTest::newRow("FJORD") << 17 << 63;
}

void TestHidSim::versionByte()
{
    QFETCH(int, unitType);
    QFETCH(int, versionOffset);

    const Controller controller = HidSim::attachModel(unitType, 0x2B);
    hid_device *device = hid_open_path(controller->path().c_str());
    const QByteArray report = readReport(device, Report::versionReadTimeout);
    QCOMPARE(report.size(), Report::payloadSize);
    QCOMPARE(quint8(report.at(versionOffset)), quint8(0x2B));
    QCOMPARE(report.count('\0'), Report::payloadSize - 1);
    QVERIFY(readReport(device).isEmpty());
    hid_close(device);
}

void TestHidSim::transfer_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("corrupted");

    for (int unitType : { calyx2, ebony }) {
        const char *layout = unitType == calyx2 ? "leading" : "trailing";
        for (int size : { 0, 59, 60, 121, 6000 }) {
            QTest::addRow("%s, %d bytes", layout, size) << unitType << size << false;
            if (size > 0)
                QTest::addRow("%s, %d bytes, corrupted", layout, size) << unitType << size << true;
        }
    }
}

void TestHidSim::transfer()
{
    QFETCH(int, unitType);
    QFETCH(int, size);
    QFETCH(bool, corrupted);

    const Report::Layout layout = Report::layoutForUnitType(unitType);
    const Controller controller = HidSim::attachModel(unitType);
    hid_device *device = openController(controller);
    const QByteArray image = testLog(size);
    QByteArray sent = image;
    if (corrupted)
        sent[size / 2] = char(sent.at(size / 2) ^ 0x01);

    QCOMPARE(sendFirmware(device, layout, md5Hex(image), imageReports(layout, sent)), int(Report::statusReady));
    const QList<int> expected = corrupted ? QList<int>({ Report::statusWrongMd5 })
                                          : QList<int>({ Report::statusTransferComplete, Report::statusUpdateFinished });
    QCOMPARE(waitingStatuses(device, layout), expected);
    QCOMPARE(controller->receivedImage(), sent);
    QCOMPARE(controller->announcedMd5(), md5Hex(image));
    hid_close(device);
}

void TestHidSim::brokenSequence_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<QString>("fault");
    for (int unitType : { calyx2, ebony }) {
        const char *layout = unitType == calyx2 ? "leading" : "trailing";
        QTest::addRow("%s, gap", layout) << unitType << QStringLiteral("gap");
        QTest::addRow("%s, repeat", layout) << unitType << QStringLiteral("repeat");
        QTest::addRow("%s, end number", layout) << unitType << QStringLiteral("end number");
        QTest::addRow("%s, end count", layout) << unitType << QStringLiteral("end count");
    }
}

void TestHidSim::brokenSequence()
{
    QFETCH(int, unitType);
    QFETCH(QString, fault);

    const Report::Layout layout = Report::layoutForUnitType(unitType);
    const Controller controller = HidSim::attachModel(unitType);
    hid_device *device = openController(controller);
    const QByteArray image = testLog(200);  // data 1..3, end 4 with 20 bytes
    QList<QByteArray> reports = imageReports(layout, image);
    if (fault == QLatin1String("gap")) {
        reports.removeAt(1);
    } else if (fault == QLatin1String("repeat")) {
        reports.insert(1, reports.at(0));
    } else if (fault == QLatin1String("end number")) {
        reports.last()[1 + layout.commandOffset + 3] = 5;
    } else {
        reports.last()[1 + layout.commandOffset + 1] = char(Report::dataBytesPerReport);
    }

    sendFirmware(device, layout, md5Hex(image), reports);
    QCOMPARE(waitingStatuses(device, layout), QList<int>({ Report::statusWrongFile }));
    hid_close(device);
}

void TestHidSim::verdictSettings_data()
{
    QTest::addColumn<int>("verdict");  // -1: the controller's own
    QTest::addColumn<bool>("reportsTransferComplete");
    QTest::addColumn<bool>("corrupted");
    QTest::addColumn<QList<int>>("expected");

    const int complete = Report::statusTransferComplete;
    const int finished = Report::statusUpdateFinished;
    QTest::newRow("finished alone") << -1 << false << false << QList<int>({ finished });
    QTest::newRow("internal error") << int(Report::statusInternalError) << true << false
                                    << QList<int>({ Report::statusInternalError });
    QTest::newRow("wrong file") << int(Report::statusWrongFile) << true << false
                                << QList<int>({ Report::statusWrongFile });
    QTest::newRow("accepted despite digest") << complete << true << true << QList<int>({ complete, finished });
    QTest::newRow("finished at once") << finished << true << false << QList<int>({ finished });
}

void TestHidSim::verdictSettings()
{
    QFETCH(int, verdict);
    QFETCH(bool, reportsTransferComplete);
    QFETCH(bool, corrupted);
    QFETCH(QList<int>, expected);

    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(ebony)->productId;
    HidSim::ControllerSettings settings;
    settings.unitType = ebony;
    settings.reportsTransferComplete = reportsTransferComplete;
    const Controller controller = HidSim::attach(description, settings);
    if (verdict >= 0)
        controller->setVerdict(quint8(verdict));
    hid_device *device = openController(controller);

    const Report::Layout layout = Report::trailingHeader;
    const QByteArray image = testLog(100);
    sendFirmware(device, layout, corrupted ? md5Hex("other") : md5Hex(image), imageReports(layout, image));
    QCOMPARE(waitingStatuses(device, layout), expected);
    hid_close(device);
}

void TestHidSim::refusedStart()
{
    const Controller controller = HidSim::attachModel(calyx2);
    controller->setStartReply(Report::statusTimeout);
    hid_device *device = openController(controller);
    const Report::Layout layout = Report::leadingHeader;
    const QByteArray image = testLog(100);

    QCOMPARE(sendFirmware(device, layout, md5Hex(image), imageReports(layout, image)), int(Report::statusTimeout));
    QVERIFY(waitingStatuses(device, layout).isEmpty());
    QVERIFY(controller->receivedImage().isEmpty());
    hid_close(device);
}

void TestHidSim::mossTransfer_data()
{
    QTest::addColumn<int>("verdict");  // -1: the controller's own
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("accepted") << -1 << 0
                              << QList<int>({ Report::statusTransferComplete, Report::statusUpdateFinished });
    QTest::newRow("configured") << int(Report::statusInternalError) << 0
                                << QList<int>({ Report::statusInternalError });
    QTest::newRow("bytes in the end report") << -1 << 3 << QList<int>({ Report::statusWrongFile });
}

void TestHidSim::mossTransfer()
{
    QFETCH(int, verdict);
    QFETCH(int, count);
    QFETCH(QList<int>, expected);

    const Controller controller = HidSim::attachModel(moss);
    if (verdict >= 0)
        controller->setVerdict(quint8(verdict));
    hid_device *device = openController(controller);
    const Report::Layout layout = Report::leadingHeader;
    const QByteArray end = Report::buildTransferEnd(layout, 0, "abc", count);

    QCOMPARE(sendFirmware(device, layout, md5Hex("image sent elsewhere"), { end }), int(Report::statusReady));
    QCOMPARE(waitingStatuses(device, layout), expected);
    hid_close(device);
}

void TestHidSim::logDownload_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("parts");
    for (int unitType : { calyx2, 14 }) {
        const char *layout = unitType == calyx2 ? "leading" : "trailing";
        QTest::addRow("%s, 587 bytes", layout) << unitType << 587 << 10;
        QTest::addRow("%s, 63 bytes", layout) << unitType << 63 << 2;
        QTest::addRow("%s, 62 bytes", layout) << unitType << 62 << 1;
        QTest::addRow("%s, empty", layout) << unitType << 0 << 0;
    }
}

void TestHidSim::logDownload()
{
    QFETCH(int, unitType);
    QFETCH(int, size);
    QFETCH(int, parts);

    const Controller controller = HidSim::attachModel(unitType);
    const QByteArray log = testLog(size);
    controller->setLog(log);
    hid_device *device = openController(controller);
    writeReport(device, Report::buildLogRequest(Report::layoutForUnitType(unitType), 1));

    const QByteArray first = readReport(device, -1);
    if (size == 0) {
        QCOMPARE(first, logReply(Report::logClose));
        hid_close(device);
        return;
    }
    QCOMPARE(quint8(first.at(0)), quint8(Report::logHeader));
    const Report::LogHeaderInfo header = Report::decodeLogHeader(reinterpret_cast<const uchar *>(first.constData()));
    QCOMPARE(header.digest, md5Hex(log));
    QCOMPARE(header.parts, parts);

    QByteArray received;
    for (int part = 1; part <= parts; ++part) {
        writeReport(device, Report::buildLogAck());
        const QByteArray reply = readReport(device);
        const auto *payload = reinterpret_cast<const uchar *>(reply.constData());
        if (part < parts) {
            QCOMPARE(quint8(reply.at(0)), quint8(Report::logPart));
            received += reply.mid(1, Report::logPartBytes);
        } else {
            QCOMPARE(quint8(reply.at(0)), quint8(Report::logLastPart));
            received += Report::logLastPartBytes(payload);
        }
    }
    QCOMPARE(received, log);
    writeReport(device, Report::buildLogAck());
    QVERIFY(readReport(device).isEmpty());
    hid_close(device);
}

void TestHidSim::logResendRepeatsLastReply()
{
    const Controller controller = HidSim::attachModel(ebony);
    controller->setLog(testLog(100));
    hid_device *device = openController(controller);

    writeReport(device, Report::buildLogResend());
    QVERIFY2(readReport(device).isEmpty(), "nothing to resend before the first reply");
    writeReport(device, Report::buildLogRequest(Report::trailingHeader, 1));
    const QByteArray header = readReport(device);
    writeReport(device, Report::buildLogResend());
    QCOMPARE(readReport(device), header);
    writeReport(device, Report::buildLogAck());
    const QByteArray part = readReport(device);
    writeReport(device, Report::buildLogResend());
    QCOMPARE(readReport(device), part);
    writeReport(device, Report::buildLogAck());
    const QByteArray last = readReport(device);
    QCOMPARE(quint8(last.at(0)), quint8(Report::logLastPart));
    writeReport(device, Report::buildLogResend());
    QCOMPARE(readReport(device), last);
    QVERIFY(readReport(device).isEmpty());
    hid_close(device);
}

void TestHidSim::scriptedReportsComeFirst()
{
    const Controller controller = HidSim::attachModel(calyx2);
    controller->setLog(testLog(100));
    const QByteArray stray = logReply(Report::logPart);
    controller->queueInputReport(stray.left(10));  // zero-padded to 64 bytes
    hid_device *device = hid_open_path(controller->path().c_str());
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
    hid_close(device);
}

void TestHidSim::logSplitting_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("lastCount");
    QTest::newRow("1") << 1 << 1;
    QTest::newRow("126") << 126 << 0;
    QTest::newRow("587") << 587 << 20;
    QTest::newRow("63 * 300 + 62") << 63 * 300 + 62 << 62;
}

void TestHidSim::logSplitting()
{
    QFETCH(int, size);
    QFETCH(int, lastCount);

    const QList<QByteArray> replies = HidSim::logReplies(testLog(size));
    const Report::LogHeaderInfo header = Report::decodeLogHeader(reinterpret_cast<const uchar *>(replies.first().constData()));
    QCOMPARE(header.parts, replies.size() - 1);
    QCOMPARE(header.parts, size / 63 + 1);
    QCOMPARE(int(quint8(replies.last().at(1))), lastCount);
    for (const QByteArray &reply : replies)
        QCOMPARE(reply.size(), Report::payloadSize);
}

void TestHidSim::writeFaults()
{
    const Controller controller = HidSim::attachModel(calyx2);
    hid_device *device = openController(controller);
    const QByteArray ack = Report::buildLogAck();

    controller->failWrite(2);
    QCOMPARE(writeReport(device, ack), Report::outputSize);
    QCOMPARE(writeReport(device, ack), -1);
    QVERIFY(QString::fromWCharArray(hid_error(device)) != QLatin1String("Success"));
    QCOMPARE(writeReport(device, ack), Report::outputSize);
    QCOMPARE(QString::fromWCharArray(hid_error(device)), QStringLiteral("Success"));
    QCOMPARE(controller->writtenReports().size(), 2);

    controller->setAllWritesFail(true);
    QCOMPARE(writeReport(device, ack), -1);
    QCOMPARE(writeReport(device, ack), -1);
    controller->setAllWritesFail(false);
    QCOMPARE(writeReport(device, ack), Report::outputSize);
    QCOMPARE(controller->writtenReports().size(), 3);

    // A failed transferStart never reaches the controller.
    controller->failWrite(1);
    QCOMPARE(writeReport(device, Report::buildTransferStart(Report::leadingHeader, md5Hex(""))), -1);
    QVERIFY(readReport(device).isEmpty());
    hid_close(device);
}

void TestHidSim::unplug_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("now") << QStringLiteral("now");
    QTest::newRow("detached") << QStringLiteral("detached");
    QTest::newRow("after two writes") << QStringLiteral("after two writes");
}

void TestHidSim::unplug()
{
    QFETCH(QString, how);

    const Controller controller = HidSim::attachModel(ebony);
    hid_device *device = openController(controller);
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
    hid_close(device);
    QCOMPARE(HidSim::openHandleCount(), 0);
}

void TestHidSim::silentDevice()
{
    const Controller controller = HidSim::attachModel(ebony);
    controller->setSilent(true);
    controller->setLog(testLog(10));
    hid_device *device = hid_open_path(controller->path().c_str());
    QVERIFY(readReport(device, 20).isEmpty());
    writeReport(device, Report::buildTransferStart(Report::trailingHeader, md5Hex("")));
    writeReport(device, Report::buildTransferEnd(Report::trailingHeader, 1, nullptr, 0));
    writeReport(device, Report::buildLogRequest(Report::trailingHeader, 1));
    QVERIFY(readReport(device).isEmpty());
    QCOMPARE(controller->writtenReports().size(), 3);
    QCOMPARE(hid_set_nonblocking(device, 1), 0);
    unsigned char payload[Report::payloadSize];
    QCOMPARE(hid_read(device, payload, sizeof payload), 0);
    hid_close(device);
}

void TestHidSim::writesRecordedByteExact()
{
    const Controller controller = HidSim::attachModel(ebony);
    hid_device *device = openController(controller);
    const QByteArray start = Report::buildTransferStart(Report::trailingHeader, md5Hex("x"));
    QCOMPARE(writeReport(device, start), Report::outputSize);
    QCOMPARE(writeReport(device, QByteArray("\0\x30\x01", 3)), 3);
    QCOMPARE(writeReport(device, QByteArray(Report::outputSize + 1, '\0')), -1);

    QByteArray padded(Report::outputSize, '\0');
    padded[1] = 0x30;
    padded[2] = 0x01;
    QCOMPARE(controller->writtenReports(), QList<QByteArray>({ start, padded }));
    controller->clearWrittenReports();
    QVERIFY(controller->writtenReports().isEmpty());
    hid_close(device);
}

void TestHidSim::writePacing_data()
{
    QTest::addColumn<HidSim::WritePacing>("pacing");
    QTest::newRow("immediate") << HidSim::WritePacing::Immediate;
    QTest::newRow("USB frame") << HidSim::WritePacing::UsbFrame;
    QTest::newRow("occasional stall") << HidSim::WritePacing::OccasionalStall;
}

void TestHidSim::writePacing()
{
    QFETCH(HidSim::WritePacing, pacing);

    const Controller controller = HidSim::attachModel(calyx2);
    controller->setWritePacing(pacing);
    hid_device *device = openController(controller);
    const Report::Layout layout = Report::leadingHeader;
    const QByteArray image = testLog(60 * 120 + 7);

    // The answers are read on another thread while the paced writes go on.
    QList<int> statuses;
    std::thread reader([&] {
        for (QByteArray report = readReport(device, 10000); !report.isEmpty(); report = readReport(device, 10000)) {
            statuses.append(statusOf(report, layout));
            if (statuses.last() == Report::statusUpdateFinished)
                break;
        }
    });
    writeReport(device, Report::buildTransferStart(layout, md5Hex(image)));
    int written = 1;
    for (const QByteArray &report : imageReports(layout, image))
        written += writeReport(device, report) == Report::outputSize;
    reader.join();
    QCOMPARE(written, 1 + 121);
    QCOMPARE(statuses, QList<int>({ Report::statusReady, Report::statusTransferComplete,
                                    Report::statusUpdateFinished }));
    QCOMPARE(controller->receivedImage(), image);
    hid_close(device);
}

void TestHidSim::readTimeoutWaitsForDelayedReport()
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(calyx2)->productId;
    HidSim::ControllerSettings settings;
    settings.unitType = calyx2;
    settings.applyTimeMs = 150;
    const Controller controller = HidSim::attach(description, settings);
    hid_device *device = openController(controller);
    const Report::Layout layout = Report::leadingHeader;

    sendFirmware(device, layout, md5Hex(""), imageReports(layout, QByteArray()));
    QCOMPARE(statusOf(readReport(device), layout), int(Report::statusTransferComplete));
    unsigned char payload[Report::payloadSize];
    QCOMPARE(hid_read_timeout(device, payload, sizeof payload, 1), 0);
    QCOMPARE(QString::fromWCharArray(hid_error(device)), QStringLiteral("Success"));
    // A blocking read must wake for the report that falls due, not only for new input.
    QCOMPARE(hid_read(device, payload, sizeof payload), Report::payloadSize);
    QCOMPARE(payload[0] >> 4, int(Report::statusUpdateFinished));
    hid_close(device);
}

void TestHidSim::writeFromAnotherThreadWakesBlockedRead()
{
    const Controller controller = HidSim::attachModel(ebony);
    controller->setLog(testLog(10));
    hid_device *device = openController(controller);
    std::thread writer([device] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        writeReport(device, Report::buildLogRequest(Report::trailingHeader, 1));
    });
    const QByteArray header = readReport(device, -1);
    writer.join();
    QCOMPARE(quint8(header.at(0)), quint8(Report::logHeader));
    hid_close(device);
}

void TestHidSim::unplugWakesBlockedRead()
{
    const Controller controller = HidSim::attachModel(ebony);
    hid_device *device = openController(controller);
    int result = 0;
    std::thread reader([device, &result] {
        unsigned char payload[Report::payloadSize];
        result = hid_read(device, payload, sizeof payload);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    controller->unplug();
    reader.join();
    QCOMPARE(result, -1);
    hid_close(device);
}

QTEST_GUILESS_MAIN(TestHidSim)
#include "tst_hidsim.moc"
