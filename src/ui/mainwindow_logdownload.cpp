// The window's side of the device log download.
//
// The session downloads the log on a worker thread. The calls made on it
// here return at once; it tells the window the download has ended through
// logFinished(), on this thread.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

void MainWindow::on_downloadLogFile_pressed()
{
    ui->stopDownloadingFile->setEnabled(true);
    ui->downloadLogFile->setEnabled(false);
    ui->updateDeviceButton->setEnabled(false);
    ui->stopDownloadingFile->show();

    // One request per run: a later press only sets the buttons again.
    if (!logDownloadStarted) {
        logDownloadStarted = true;
        session->startLogDownload();
    }
}

void MainWindow::on_stopDownloadingFile_pressed()
{
    ui->stopDownloadingFile->setEnabled(false);
    ui->updateDeviceButton->setEnabled(true);
    ui->progressBarTransfer->setValue(0);

    session->stopLogDownload();
}

void MainWindow::onLogDownloadFinished()
{
    if (logFinishedShown)
        return;
    logFinishedShown = true;

    ui->stopDownloadingFile->setEnabled(false);
    ui->updateDeviceButton->setEnabled(true);
    ui->progressBarTransfer->setValue(0);

    if (deviceLog.end != UpdateSession::DeviceLog::End::FileNotWritten) {
        QMessageBox::information(this, tr("Info"),
                                 tr("Download log file is complete.\nYou can find it in program directory."));
    } else {
        QMessageBox::critical(this, tr("Error"),
                              tr("The device log could not be written to %1:\n%2")
                                  .arg(QDir::toNativeSeparators(deviceLog.path), deviceLog.fileProblem));
    }
    QCoreApplication::quit();
}
