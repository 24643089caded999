#include "transferfixture.h"

#include "device/models.h"
#include "eventloop.h"
#include "update/firmwarefiles.h"

#include <QCryptographicHash>
#include <QFile>
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

// An output report: the report ID 0, then a payload with `header` big-endian
// at the command offset of `unitType`'s layout, and `data` written over it
// from `dataAt` on.
QByteArray outputReport(int unitType, quint32 header, const QByteArray &data, int dataAt)
{
    QByteArray payload(64, '\0');
    for (int i = 0; i < 4; ++i)
        payload[commandOffsetOf(unitType) + i] = char(header >> (24 - 8 * i));
    payload.replace(dataAt, data.size(), data);
    return '\0' + payload;
}

} // namespace

void TransferTest::init()
{
    HidSim::reset();
    removeUpdateFiles();
}

void TransferTest::cleanup()
{
    init();
}

Rig::Rig(int unitType, const HidSim::ControllerSettings &settings)
    : unitType(unitType)
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = modelForUnitType(unitType)->productId;
    HidSim::ControllerSettings own = settings;
    own.unitType = unitType;
    controller = HidSim::attach(description, own);
}

bool Rig::connect(const QByteArray &image)
{
    placeUpdateFile(image);
    window = std::make_unique<MainWindow>();
    window->show();
    const int before = boxes.count();
    button("connect_button")->click();
    if (boxes.count() != before + 1 || !boxes.boxes().last().text.endsWith(QLatin1String("connected"))) {
        qWarning() << "no controller connected:" << boxes.texts();
        return false;
    }
    return true;
}

void Rig::press()
{
    QPushButton *update = button("updateDeviceButton");
    update->setEnabled(true);
    update->click();
}

bool Rig::pressUntilQuit(int timeoutMs)
{
    return TestLoop::runUntilQuit([this] { press(); }, timeoutMs);
}

void Rig::startWithoutTimer()
{
    press();
    press();
}

void Rig::tick(int count)
{
    const char *slot = unitType == mossUnitType ? "transmitSlotUTP" : "transmitSlot";
    for (int i = 0; i < count; ++i)
        QMetaObject::invokeMethod(window.get(), slot, Qt::DirectConnection);
}

bool Rig::tickUntil(const std::function<bool()> &done, int maxTicks)
{
    for (int i = 0; i < maxTicks && !done(); ++i)
        tick();
    return done();
}

bool Rig::tickUntilQuit(const std::function<bool()> &done, int maxTicks)
{
    bool reached = false;
    const bool quit = TestLoop::runUntilQuit([&] { reached = tickUntil(done, maxTicks); }, 60000);
    return reached && quit;
}

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

bool waitForPolls(const LogCapture &log, int polls)
{
    return TestLoop::waitFor([&] { return log.count(QStringLiteral("waitingApplyingUpdate ")) >= polls; });
}

void compareStreams(const QList<QByteArray> &actual, const QList<QByteArray> &expected)
{
    for (int i = 0; i < qMin(actual.size(), expected.size()); ++i) {
        if (actual[i] != expected[i])
            QFAIL(qPrintable(QStringLiteral("report %1 of %2 differs:\n got  %3\n want %4")
                                 .arg(i).arg(expected.size())
                                 .arg(QString::fromLatin1(actual[i].toHex()), QString::fromLatin1(expected[i].toHex()))));
    }
    QCOMPARE(actual.size(), expected.size());
}

QList<QByteArray> expectedReports(int unitType, const QByteArray &image)
{
    const QByteArray md5 = QCryptographicHash::hash(image, QCryptographicHash::Md5).toHex();
    QList<QByteArray> reports { outputReport(unitType, 0x80000000, md5, 1) };
    const int dataAt = dataOffsetOf(unitType);
    quint32 packet = 1;
    int offset = 0;
    for (; image.size() - offset >= 60; offset += 60, ++packet)
        reports.append(outputReport(unitType, packet & 0x0FFFFFFF, image.mid(offset, 60), dataAt));
    const quint32 rest = quint32(image.size() - offset);
    reports.append(outputReport(unitType, 0xD0000000 | rest << 16 | (packet & 0xFFFF), image.mid(offset), dataAt));
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
