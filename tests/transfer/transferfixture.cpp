#include "transferfixture.h"

#include "protocol/models.h"
#include "eventloop.h"
#include "update/firmwarefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

namespace TransferFixture {

namespace {

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
    if (!session.connectFirst()) {
        qWarning() << "no controller connected";
        return false;
    }
    session.useFirmwareFile(FirmwareFiles::updateFilePath());
    reports.clear();
    return true;
}

bool Rig::pressUntilFinished(int timeoutMs)
{
    press();
    return TestLoop::waitFor([this] { return finished(); }, timeoutMs);
}

void Rig::startWithoutTimer()
{
    press();
    press();
}

void Rig::tick(int count)
{
    for (int i = 0; i < count; ++i) {
        if (unitType == mossUnitType)
            session.transferEngine()->transmitSlotUTP();
        else
            session.transferEngine()->transmitSlot();
    }
}

bool Rig::tickUntil(const std::function<bool()> &done, int maxTicks)
{
    for (int i = 0; i < maxTicks && !done(); ++i)
        tick();
    return done();
}

bool Rig::tickUntilApplying()
{
    startWithoutTimer();
    return tickUntil([this] { return !reported(QStringLiteral("transferCompleted")).isEmpty(); }, 100);
}

HidSim::ControllerSettings applyingUntilTold()
{
    HidSim::ControllerSettings settings;
    settings.applyTimeMs = 10 * 60 * 1000;
    return settings;
}

void placeUpdateFile(const QByteArray &image)
{
    removeUpdateFiles();
    QFile file(FirmwareFiles::updateFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(image), qint64(image.size()));
}

void linkUpdateFile(const QString &target)
{
    removeUpdateFiles();
    QVERIFY(QFile::link(target, FirmwareFiles::updateFilePath()));
}

void removeUpdateFiles()
{
    QFile::remove(FirmwareFiles::updateFilePath());
}

bool updateFileHeldOpen()
{
    const QString path = FirmwareFiles::updateFilePath();
#ifdef Q_OS_WIN
    return !QFile::rename(path, path + ".moved") || !QFile::rename(path + ".moved", path);
#else
    const QString target = QFileInfo(path).canonicalFilePath();
    const auto fds = QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::Files | QDir::System);
    return std::any_of(fds.begin(), fds.end(), [&](const QFileInfo &fd) { return fd.symLinkTarget() == target; });
#endif
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
