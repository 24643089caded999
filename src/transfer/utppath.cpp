// The transfer path of the MOSS controller: the window announces the image
// with transferStart and waits for statusReady, the closed transfer library
// moves the file, and a transferEnd hands over to the result phase.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/programlog.h"
#include "device/hidstrings.h"
#include "device/models.h"
#include "device/reports.h"
#include "libraryprogress.h"
#include "platform/utplibrary.h"
#include "transfermessages.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>

void MainWindow::transmitSlotUTP()
{
    if (transferFinished) {
        resultStep();
        return;
    }

    // A poll that receives statusReady runs the whole library transfer.
    if (!deviceReady)
        pollAccessUTP();

    if (!startSent)
        startStep();
    else if (deviceReady)
        sendTransferEndUTP();
}

void MainWindow::pollAccessUTP()
{
    unsigned char payload[Report::payloadSize];
    if (hid_read_timeout(device, payload, sizeof payload, Report::readyPollTimeout) <= 0)
        return;

    const quint8 status = Report::statusCode(payload, { commandOffset, dataOffset });
    if (status == Report::statusReady) {
        qDebug() << "get access from device ";
        ui->progressBarTransfer->setEnabled(true);
        ui->progressBarTransfer->setValue(0);
        ui->labelTransfer->setText(tr("Transfer: in progress"));
        ui->labelTransfer->setEnabled(true);
        executeTransferUTP();
        deviceReady = 1;
        return;
    }

    qDebug().noquote() << QString::asprintf("packet received 0x%x 0x%x 0x%x", payload[0], payload[1], payload[2]);
    const QString error = TransferMessages::acknowledgementError(status);
    if (!error.isEmpty())
        failAcknowledgement(error);
}

// Blocks the tick until the library is done; the window stays responsive
// only through the library's progress callback.
void MainWindow::executeTransferUTP()
{
    const UtpLibrary::Lookup library = UtpLibrary::lookup();
    if (!library.update) {
        qDebug().noquote() << "closed transfer library not usable:" << library.problem;
        failAcknowledgement(tr("The transfer library this controller needs cannot be used: %1")
                                .arg(library.problem));
        return;
    }

    const QString fileName = updateFile.fileName();
    libraryProgressBar = ui->progressBarTransfer;
    qDebug() << "updateThruUTP try";

    const int result = library.update(vendorId, modelForUnitType(mossUnitType)->productId,
                                      reinterpret_cast<const char16_t *>(fileName.utf16()),
                                      libraryLogCallback, libraryProgressCallback);

    qDebug() << "updateThruUTP result" << result;
    libraryProgressBar = nullptr;
}

void MainWindow::sendTransferEndUTP()
{
    qDebug() << "transfer finished ";

    const QByteArray report = Report::buildTransferEnd({ commandOffset, dataOffset }, 0, nullptr, 0);
    const int written = hid_write(device, reinterpret_cast<const unsigned char *>(report.constData()),
                                  size_t(report.size()));
    if (written == -1) {
        QMessageBox::critical(this, tr("Error HID device"), tr("Connection lost."), QMessageBox::Ok);
        qDebug().noquote() << "report is not send ret" << written << hidText(hid_error(device));
        QCoreApplication::quit();
    }

    deviceReady = 0;
    transferFinished = 1;
}
