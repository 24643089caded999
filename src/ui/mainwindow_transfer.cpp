// The window's side of the firmware transfer: "Update Device", and the
// session's transfer reports shown as widget states and message boxes.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QMessageBox>

void MainWindow::connectTransfer()
{
    connect(session, &UpdateSession::transferStarted, this, &MainWindow::showTransferStarted);
    connect(session, &UpdateSession::transferProgress, ui->progressBarTransfer, &QProgressBar::setValue);
    connect(session, &UpdateSession::libraryProgress, this, [this](int current, int total) {
        ui->progressBarTransfer->setMaximum(total);
        ui->progressBarTransfer->setValue(current);
    });
    connect(session, &UpdateSession::transferCompleted, this, &MainWindow::showTransferCompleted);
    connect(session, &UpdateSession::installProgress, ui->progressBarUpdate, &QProgressBar::setValue);
    connect(session, &UpdateSession::updateFinished, this, &MainWindow::showUpdateFinished);
    connect(session, &UpdateSession::transferFailed, this, &MainWindow::showTransferFailure);
}

void MainWindow::updateDevice()
{
    ui->updateDeviceButton->setEnabled(false);
    ui->downloadLogFile->setEnabled(false);
    session->startOrStopTransfer();
}

void MainWindow::showTransferStarted()
{
    ui->progressBarTransfer->setEnabled(true);
    ui->progressBarTransfer->setValue(0);
    ui->labelTransfer->setText(tr("Transfer: in progress"));
    ui->labelTransfer->setEnabled(true);
}

void MainWindow::showTransferCompleted(UpdateSession::Installation installation)
{
    ui->progressBarTransfer->setValue(100);
    ui->progressBarTransfer->setEnabled(false);
    ui->labelTransfer->setText(tr("Transfer: completed"));
    ui->labelTransfer->setEnabled(false);
    // The closed library's model shows no simulated update bar.
    if (installation == UpdateSession::Installation::Watched)
        ui->progressBarUpdate->setEnabled(true);
    ui->labelUpdate->setEnabled(true);
    ui->labelUpdate->setText(tr("Update: in progress. Do not power off device!"));
}

void MainWindow::showUpdateFinished(UpdateSession::Installation installation)
{
    if (installation == UpdateSession::Installation::OnItsOwn) {
        QMessageBox::information(this, tr("Info"),
            tr("Updating started, please close program, and wait for device updating automatically finished.\n"
               "Please do NOT power off device until updating finished."),
            QMessageBox::Ok);
    } else {
        ui->progressBarUpdate->setValue(100);
        ui->progressBarUpdate->setEnabled(false);
        ui->labelUpdate->setText(tr("Update: finished"));
        ui->labelUpdate->setEnabled(false);
        QMessageBox::information(this, tr("Info"),
            tr("Update installed correctly, please close program, and disconnect/power off your controller.\n"
               "When reconnected/power ON your device will have the latest software."),
            QMessageBox::Ok);
    }
    QCoreApplication::quit();
}

void MainWindow::showTransferFailure(TransferEngine::Failure failure)
{
    QString title = tr("Error");
    QString text;
    switch (failure) {
    case TransferEngine::Failure::FileNotLoaded:
        text = tr("File updater is not found.\nCheck the HD free space and try again.");
        break;
    case TransferEngine::Failure::StartNotWritten:
        title = tr("Error HID device");
        text = tr("Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::DeviceTimeout:
        text = tr("Transfer timeout failed.\n"
                  "Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::DeviceInternalError:
        text = tr("Transfer failed.\nDevice internal error.");
        break;
    case TransferEngine::Failure::PacketsSkipped:
        text = tr("Transfer failed. Packets skipped.\n"
                  "Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::WrongMd5:
        text = tr("Transfer failed. Wrong md5.\n"
                  "Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::UpdateInternalError:
        text = tr("Updating failed.\nDevice internal error.");
        break;
    case TransferEngine::Failure::WrongFile:
        text = tr("Updating failed. Wrong file or some internal error.\n"
                  "Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::EndNotWritten:
        title = tr("Error HID device");
        text = tr("Connection lost.");
        break;
    case TransferEngine::Failure::ConnectionLost:
        if (session->controllerHolds() == UpdateResult::Holds::WholeImage
            || session->controllerHolds() == UpdateResult::Holds::Installing) {
            text = tr("The connection with the controller was lost while it was applying the update, so the result "
                      "is unknown.\nReconnect the controller and press Connect to read its version.");
            break;
        }
        // Lost before it had the whole image: it keeps its firmware, as
        // when the transfer could not even start.
        title = tr("Error HID device");
        text = tr("Check the connections between PC and the unit and to try the update again.");
        break;
    case TransferEngine::Failure::LibraryMissing:
#if defined(Q_OS_WIN)
        text = tr("The transfer library for this controller is not installed.\n"
                  "Reinstall the updater and try the update again.");
#else
        // The library exists for Windows alone: reinstalling would not help.
        text = tr("This controller is updated with the Tavoro updater for Windows only:\n"
                  "its transfer library does not exist for this system.");
#endif
        break;
    }
    QMessageBox::critical(this, title, text, QMessageBox::Ok);
    if (failure == TransferEngine::Failure::EndNotWritten)
        QCoreApplication::quit();
    // The session has closed the dead handles; "Connect" finds the
    // controller again.
    if (failure == TransferEngine::Failure::ConnectionLost)
        ui->connect_button->setEnabled(true);
}
