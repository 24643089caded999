// The report path: one step of the firmware transfer per tick of the
// transfer timer. transferStart with the image's MD5 text, then after the
// controller's statusReady one report of 60 image bytes per tick, the last
// one a transferEnd; then the result phase (transferengine_result.cpp).

#include "transferengine.h"

#include "device/controllerlink.h"
#include "device/hidstrings.h"
#include "protocol/models.h"
#include "protocol/reports.h"
#include "platform/timerresolution.h"
#include "transferpackets.h"
#include "update/firmwarefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QTimer>

namespace {

// Reads one status report with the ready poll's short time-out. Returns
// false when nothing arrived.
bool readStatus(hid_device *handle, unsigned char (&payload)[Report::payloadSize])
{
    return hid_read_timeout(handle, payload, sizeof payload, Report::readyPollTimeout) > 0;
}

} // namespace

TransferEngine::TransferEngine(ControllerLink *link, QObject *parent)
    : QObject(parent)
    , link(link)
    , updateFile(FirmwareFiles::updateFilePath())
    , transferTimer(new QTimer(this))
{
    // Coarse timers may fire late; each tick is one report of the transfer.
    transferTimer->setTimerType(Qt::PreciseTimer);
    connect(transferTimer, &QTimer::timeout, this, [this] {
        if (transferPath == Path::LibraryCall)
            transmitSlotUTP();
        else
            transmitSlot();
    });
}

TransferEngine::~TransferEngine() = default;

void TransferEngine::setUpdateFileName(const QString &fileName)
{
    updateFile.setFileName(fileName);
}

int TransferEngine::reportCount() const
{
    return totalSize / Report::dataBytesPerReport + 1;
}

// The one place that decides what a tick does, from the engine's fields:
//   fake progress running      -> one step of the simulated update bar, then
//   transferFinished           -> the result step, nothing else;
//   otherwise                  -> poll for statusReady unless ready, then
//                                 transferStart if not yet sent, or else one
//                                 data report once the device is ready.
void TransferEngine::transmitSlot()
{
    if (!canTick())
        return;
    if (fakeProgressActive)
        updateFakeProgressSlot();

    if (transferFinished) {
        resultStep();
        return;
    }

    if (!deviceReady) {
        if (link->isPair())
            readyPollPair();
        else
            readyPoll();
    }

    if (!startSent)
        startStep();
    else if (deviceReady)
        dataStep();
}

bool TransferEngine::canTick()
{
    if (link->isConnected())
        return true;
    qDebug() << "no controller connected: the transfer timer stops";
    stopTicks();
    return false;
}

void TransferEngine::setPhase(Phase phase)
{
    if (phase == currentPhase)
        return;
    currentPhase = phase;
    emit phaseChanged(phase);
}

void TransferEngine::readyPoll()
{
    unsigned char payload[Report::payloadSize];
    if (!readStatus(link->device(), payload))
        return;

    const quint8 status = Report::statusCode(payload, link->layout());
    if (status == Report::statusReady) {
        deviceReady = true;
        emit transferStarted();
        return;
    }
    failOnRefusal(status);
}

// Both halves must answer in the same tick. Either half's statusReady is
// enough to start sending; the face is not told in pair mode, and a
// device-internal error is not acted on. Both are read on every tick: a
// half's lone answer is dropped rather than left to pair with the other
// half's next one.
void TransferEngine::readyPollPair()
{
    unsigned char first[Report::payloadSize];
    unsigned char second[Report::payloadSize];
    const bool firstRead = readStatus(link->device(), first);
    const bool secondRead = readStatus(link->secondDevice(), second);
    if (!firstRead || !secondRead)
        return;

    const quint8 statuses[] = { Report::statusCode(first, link->layout()),
                                Report::statusCode(second, link->layout()) };
    const auto either = [&statuses](quint8 status) {
        return statuses[0] == status || statuses[1] == status;
    };

    if (either(Report::statusReady))
        deviceReady = true;
    if (either(Report::statusTimeout))
        failAcknowledgement(Failure::DeviceTimeout);
    if (either(Report::statusPacketsSkipped))
        failAcknowledgement(Failure::PacketsSkipped);
}

void TransferEngine::failOnRefusal(quint8 status)
{
    switch (status) {
    case Report::statusTimeout:
        failAcknowledgement(Failure::DeviceTimeout);
        break;
    case Report::statusInternalError:
        failAcknowledgement(Failure::DeviceInternalError);
        break;
    case Report::statusPacketsSkipped:
        failAcknowledgement(Failure::PacketsSkipped);
        break;
    default:
        break;
    }
}

// Reports the refusal, then leaves the transfer waiting for a verdict.
void TransferEngine::failAcknowledgement(Failure failure)
{
    emit failed(failure);
    transferFinished = true;
    deviceReady = false;
    packetIndex = 0;
}

void TransferEngine::startStep()
{
    qDebug() << "byteArray.size()=" << firmwareImage.size();
    totalSize = firmwareImage.size();

    const QByteArray md5 = QCryptographicHash::hash(firmwareImage, QCryptographicHash::Md5).toHex();
    qDebug() << "md5=" << QString::fromLatin1(md5);

    const QByteArray report = Report::buildTransferStart(link->layout(), md5);
    const auto *bytes = reinterpret_cast<const unsigned char *>(report.constData());

    if (!link->isPair()) {
        const int written = hid_write(link->device(), bytes, size_t(report.size()));
        if (written == -1) {
            emit failed(Failure::StartNotWritten);
            transferFinished = true;
            qDebug() << "report is not send ret" << written << hidText(hid_error(link->device()));
            return;
        }
        qDebug() << "start report is send bytes " << written << " header " << int(bytes[1]);
        startSent = true;
        setPhase(Phase::PartlySent);
        return;
    }

    // A failure on one half does not keep the report from the other.
    for (hid_device *half : { link->device(), link->secondDevice() }) {
        const int written = hid_write(half, bytes, size_t(report.size()));
        if (written == -1) {
            emit failed(Failure::StartNotWritten);
            transferFinished = true;
            continue;
        }
        qDebug() << "start report is send bytes " << written;
        startSent = true;
        setPhase(Phase::PartlySent);
    }
}

void TransferEngine::dataStep()
{
    emit transferProgress(TransferPackets::progressPercent(packetIndex, totalSize));
    ++packetIndex;

    const TransferPackets::Packet packet =
        TransferPackets::packet(link->layout(), firmwareImage, totalSize, packetIndex);
    // packetIndex stays at the count of data reports sent: the result
    // tells how far the transfer came; the next start begins at 0.
    if (packet.isEnd) {
        deviceReady = false;
        transferFinished = true;
    }
    if (writeDataReport(packet.report) && packet.isEnd)
        setPhase(Phase::AwaitingVerdict);
}

// One more attempt for a single unit whose write failed; no message. The
// halves of a pair get the report once each, whatever the outcome.
bool TransferEngine::writeDataReport(const QByteArray &report)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(report.constData());
    const size_t size = size_t(report.size());

    if (link->isPair()) {
        const bool toRight = hid_write(link->device(), bytes, size) != -1;
        const bool toLeft = hid_write(link->secondDevice(), bytes, size) != -1;
        return toRight || toLeft;
    }
    return hid_write(link->device(), bytes, size) != -1 || hid_write(link->device(), bytes, size) != -1;
}
