// The report transfer engine: one step of the firmware transfer per tick of
// the transfer timer. transferStart with the image's MD5 text, then after
// the controller's statusReady one report of 60 image bytes per tick, the
// last one a transferEnd; then the result phase (updateresult.cpp).

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "device/hidstrings.h"
#include "device/reports.h"
#include "transfermessages.h"
#include "transferpackets.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QMessageBox>

namespace {

// Reads one status report with the ready poll's short time-out. Returns
// false when nothing arrived.
bool readStatus(hid_device *handle, unsigned char (&payload)[Report::payloadSize])
{
    return hid_read_timeout(handle, payload, sizeof payload, Report::readyPollTimeout) > 0;
}

} // namespace

// The one place that decides what a tick does, from the engine's fields:
//   fake progress running      -> one step of the simulated update bar, then
//   transferFinished           -> the result step, nothing else;
//   otherwise                  -> poll for statusReady unless ready, then
//                                 transferStart if not yet sent, or else one
//                                 data report once the device is ready.
void MainWindow::transmitSlot()
{
    if (fakeProgressActive == 1)
        updateFakeProgressSlot();

    if (transferFinished) {
        resultStep();
        return;
    }

    if (deviceReady == 0) {
        if (pairMode == pairModeOn)
            readyPollPair();
        else
            readyPoll();
    }

    if (startSent == 0)
        startStep();
    else if (deviceReady == 1)
        dataStep();
}

void MainWindow::readyPoll()
{
    unsigned char payload[Report::payloadSize];
    if (!readStatus(device, payload))
        return;

    const quint8 status = Report::statusCode(payload, { commandOffset, dataOffset });
    if (status == Report::statusReady) {
        deviceReady = 1;
        ui->progressBarTransfer->setEnabled(true);
        ui->progressBarTransfer->setValue(0);
        ui->labelTransfer->setText(tr("Transfer: in progress"));
        ui->labelTransfer->setEnabled(true);
        return;
    }
    const QString error = TransferMessages::acknowledgementError(status);
    if (!error.isEmpty())
        failAcknowledgement(error);
}

// Both halves must answer in the same tick. Either half's statusReady is
// enough to start sending; the widgets stay as they are in pair mode, and a
// device-internal error is not acted on.
void MainWindow::readyPollPair()
{
    unsigned char first[Report::payloadSize];
    unsigned char second[Report::payloadSize];
    if (!readStatus(device, first) || !readStatus(secondDevice, second))
        return;

    const Report::Layout layout { commandOffset, dataOffset };
    const quint8 statuses[] = { Report::statusCode(first, layout), Report::statusCode(second, layout) };
    const auto either = [&statuses](quint8 status) {
        return statuses[0] == status || statuses[1] == status;
    };

    if (either(Report::statusReady))
        deviceReady = 1;
    for (quint8 error : { Report::statusTimeout, Report::statusPacketsSkipped }) {
        if (either(error))
            failAcknowledgement(TransferMessages::acknowledgementError(error));
    }
}

// Shows the error, then leaves the transfer waiting for a verdict.
void MainWindow::failAcknowledgement(const QString &text)
{
    QMessageBox::critical(this, tr("Error"), text, QMessageBox::Ok);
    transferFinished = 1;
    deviceReady = 0;
    packetIndex = 0;
}

void MainWindow::startStep()
{
    qDebug() << "byteArray.size()=" << firmwareImage.size();
    totalSize = firmwareImage.size();

    const QByteArray md5 = QCryptographicHash::hash(firmwareImage, QCryptographicHash::Md5).toHex();
    qDebug() << "md5=" << QString::fromLatin1(md5);

    const QByteArray report = Report::buildTransferStart({ commandOffset, dataOffset }, md5);
    const auto *bytes = reinterpret_cast<const unsigned char *>(report.constData());

    const auto reportWriteFailure = [this] {
        QMessageBox::critical(this, tr("Error HID device"),
                              tr("Check the connections between PC and the unit and to try the update again."),
                              QMessageBox::Ok);
        transferFinished = 1;
    };

    if (pairMode != pairModeOn) {
        const int written = hid_write(device, bytes, size_t(report.size()));
        if (written == -1) {
            reportWriteFailure();
            qDebug() << "report is not send ret" << written << hidText(hid_error(device));
            return;
        }
        qDebug() << "start report is send bytes " << written << " header " << int(bytes[1]);
        startSent = 1;
        return;
    }

    // A failure on one half does not keep the report from the other.
    for (hid_device *half : { device, secondDevice }) {
        const int written = hid_write(half, bytes, size_t(report.size()));
        if (written == -1) {
            reportWriteFailure();
            continue;
        }
        qDebug() << "start report is send bytes " << written;
        startSent = 1;
    }
}

void MainWindow::dataStep()
{
    ui->progressBarTransfer->setValue(TransferPackets::progressPercent(packetIndex, totalSize));
    ++packetIndex;

    const TransferPackets::Packet packet =
        TransferPackets::packet({ commandOffset, dataOffset }, firmwareImage, totalSize, packetIndex);
    if (packet.isEnd) {
        deviceReady = 0;
        transferFinished = 1;
        packetIndex = 0;
    }
    writeDataReport(packet.report);
}

// One more attempt for a single unit whose write failed; no message. The
// halves of a pair get the report once each, whatever the outcome.
void MainWindow::writeDataReport(const QByteArray &report)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(report.constData());
    const size_t size = size_t(report.size());

    if (pairMode == pairModeOn) {
        hid_write(device, bytes, size);
        hid_write(secondDevice, bytes, size);
        return;
    }
    if (hid_write(device, bytes, size) == -1)
        hid_write(device, bytes, size);
}
