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

// Reads one status report with the ready poll's short time-out: as
// hid_read_timeout, 0 when nothing arrived, -1 on an error.
int readStatus(hid_device *handle, unsigned char (&payload)[Report::payloadSize])
{
    return hid_read_timeout(handle, payload, sizeof payload, Report::readyPollTimeout);
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
        // A transfer that ended in the poll (the controller lost) sends nothing more.
        if (!(link->isPair() ? readyPollPair() : readyPoll()))
            return;
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

bool TransferEngine::readyPoll()
{
    unsigned char payload[Report::payloadSize];
    const int read = readStatus(link->device(), payload);
    if (!survivesRead(read < 0 ? link->device() : nullptr, "while waiting for statusReady"))
        return false;
    if (read <= 0)
        return true;

    const quint8 status = Report::statusCode(payload, link->layout());
    if (status == Report::statusReady) {
        deviceReady = true;
        emit transferStarted();
        return true;
    }
    failOnRefusal(status);
    return true;
}

// Both halves must answer in the same tick. Either half's statusReady is
// enough to start sending; the face is not told in pair mode, and a
// device-internal error is not acted on. Both are read on every tick: a
// half's lone answer is dropped rather than left to pair with the other
// half's next one. A failed read of either half counts for the tick.
bool TransferEngine::readyPollPair()
{
    unsigned char first[Report::payloadSize];
    unsigned char second[Report::payloadSize];
    const int firstRead = readStatus(link->device(), first);
    const int secondRead = readStatus(link->secondDevice(), second);
    hid_device *failedHalf = firstRead < 0 ? link->device() : secondRead < 0 ? link->secondDevice() : nullptr;
    if (!survivesRead(failedHalf, "while waiting for statusReady"))
        return false;
    if (firstRead <= 0 || secondRead <= 0)
        return true;

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
    return true;
}

// A controller that has gone fails every read at once instead of waiting:
// two ticks in a row with a failure end the transfer rather than polling
// it a thousand times a second; a single one is a passing fault.
bool TransferEngine::survivesRead(hid_device *failedHalf, const char *when)
{
    if (!failedHalf) {
        readFailures = 0;
        return true;
    }
    if (++readFailures < 2)
        return true;
    loseConnection(failedHalf, when);
    return false;
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
        // The closed library may already have moved the file (a statusReady
        // that came before transferStart): the phase does not go back.
        if (currentPhase == Phase::NothingSent)
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
        if (currentPhase == Phase::NothingSent)
            setPhase(Phase::PartlySent);
    }
}

void TransferEngine::dataStep()
{
    emit transferProgress(TransferPackets::progressPercent(packetIndex, totalSize));
    ++packetIndex;

    const TransferPackets::Packet packet =
        TransferPackets::packet(link->layout(), firmwareImage, totalSize, packetIndex);
    if (packet.isEnd) {
        deviceReady = false;
        transferFinished = true;
        packetIndex = 0;
    }
    // An end report that could not be written leaves the controller
    // without the whole image; the result phase waits on, as the window
    // always has, and a flasher's deadline bounds it.
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
