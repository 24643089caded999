#include "transferfixture.h"

#include "device/models.h"
#include "messageboxdriver.h"
#include "update/firmwarefiles.h"

#include <QCryptographicHash>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTest>

namespace TransferFixture {

namespace {

QStringList updateFilePaths()
{
    return { FirmwareFiles::updateFilePath(), FirmwareFiles::overrideFilePath() };
}

// Payload offsets of the 4-byte header and the 60-byte data area.
int commandOffsetOf(int unitType)
{
    return unitType >= 12 ? 60 : 0;
}

int dataOffsetOf(int unitType)
{
    return unitType >= 12 ? 0 : 4;
}

// Output reports carry the report ID 0 in front of the payload.
void setPayload(QByteArray &report, int offset, unsigned char value)
{
    report[offset + 1] = char(value);
}

} // namespace

void placeUpdateFile(const QByteArray &image)
{
    removeUpdateFiles();
    for (const QString &path : updateFilePaths()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(image), qint64(image.size()));
    }
}

void linkUpdateFile(const QString &target)
{
    removeUpdateFiles();
    for (const QString &path : updateFilePaths())
        QVERIFY(QFile::link(target, path));
}

void removeUpdateFiles()
{
    for (const QString &path : updateFilePaths())
        QFile::remove(path);
}

std::unique_ptr<MainWindow> connectWindow(MessageBoxDriver &boxes)
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    const int before = boxes.count();
    button(*window, "connect_button")->click();
    if (boxes.count() != before + 1 || !boxes.boxes().last().text.endsWith(QLatin1String("connected"))) {
        qWarning() << "no controller connected:" << boxes.texts();
        return nullptr;
    }
    return window;
}

QPushButton *button(MainWindow &window, const char *name)
{
    return window.findChild<QPushButton *>(QLatin1String(name));
}

QProgressBar *progressBar(MainWindow &window, const char *name)
{
    return window.findChild<QProgressBar *>(QLatin1String(name));
}

QLabel *label(MainWindow &window, const char *name)
{
    return window.findChild<QLabel *>(QLatin1String(name));
}

void pressUpdateDevice(MainWindow &window)
{
    QPushButton *update = button(window, "updateDeviceButton");
    update->setEnabled(true);
    update->click();
}

void startWithoutTimer(MainWindow &window)
{
    pressUpdateDevice(window);
    pressUpdateDevice(window);
}

void tick(MainWindow &window, int unitType)
{
    const char *slot = unitType == mossUnitType ? "transmitSlotUTP" : "transmitSlot";
    QMetaObject::invokeMethod(&window, slot, Qt::DirectConnection);
}

HidSim::Controller attachController(int unitType, const HidSim::ControllerSettings &settings)
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(unitType)->productId;
    HidSim::ControllerSettings own = settings;
    own.unitType = unitType;
    return HidSim::attach(description, own);
}

QList<QByteArray> expectedReports(int unitType, const QByteArray &image)
{
    const int command = commandOffsetOf(unitType);
    const int data = dataOffsetOf(unitType);
    QList<QByteArray> reports;

    QByteArray start(65, '\0');
    setPayload(start, command, 0x80);
    const QByteArray md5 = QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex();
    for (int i = 0; i < 32; ++i)
        setPayload(start, 1 + i, quint8(md5[i]));
    reports.append(start);

    quint32 packet = 1;
    int offset = 0;
    for (; image.size() - offset >= 60; offset += 60, ++packet) {
        QByteArray report(65, '\0');
        setPayload(report, command, (packet >> 24) & 0x0F);
        setPayload(report, command + 1, (packet >> 16) & 0xFF);
        setPayload(report, command + 2, (packet >> 8) & 0xFF);
        setPayload(report, command + 3, packet & 0xFF);
        for (int i = 0; i < 60; ++i)
            setPayload(report, data + i, quint8(image[offset + i]));
        reports.append(report);
    }

    const int rest = image.size() - offset;
    QByteArray end(65, '\0');
    setPayload(end, command, 0xD0);
    setPayload(end, command + 1, quint8(rest));
    setPayload(end, command + 2, (packet >> 8) & 0xFF);
    setPayload(end, command + 3, packet & 0xFF);
    for (int i = 0; i < rest; ++i)
        setPayload(end, data + i, quint8(image[offset + i]));
    reports.append(end);
    return reports;
}

QByteArray statusReport(int unitType, unsigned char status)
{
    QByteArray payload(64, '\0');
    payload[commandOffsetOf(unitType)] = char(status << 4);
    return payload;
}

QByteArray randomImage(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray image(size, Qt::Uninitialized);
    for (char &byte : image)
        byte = char(generator.bounded(256));
    return image;
}

} // namespace TransferFixture
