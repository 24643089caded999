// The window's side of the device log download.
//
// The downloader lives on logThread. The calls made on it here return at
// once: it does their work on its own thread, and tells the window it has
// finished through logDownloadFinished(), queued back to this thread.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "devlog/logdownloader.h"

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
        logDownloader->startDownload(1);
    }
}

void MainWindow::on_stopDownloadingFile_pressed()
{
    ui->stopDownloadingFile->setEnabled(false);
    ui->updateDeviceButton->setEnabled(true);
    ui->progressBarTransfer->setValue(0);

    // Both end in logDownloadFinished(); onLogDownloadFinished shows one message.
    logDownloader->stopTransfer();
    logDownloader->dumpFile();
}

void MainWindow::dataCompleted(int type)
{
    emit needDataCompleted(type);
}

void MainWindow::onLogDownloadFinished()
{
    if (logFinishedShown)
        return;
    logFinishedShown = true;

    ui->stopDownloadingFile->setEnabled(false);
    ui->updateDeviceButton->setEnabled(true);
    ui->progressBarTransfer->setValue(0);

    if (logFileProblem.isEmpty()) {
        QMessageBox::information(this, tr("Info"),
                                 tr("Download log file is complete.\nYou can find it in program directory."));
    } else {
        QMessageBox::critical(this, tr("Error"),
                              tr("The device log could not be written to %1:\n%2")
                                  .arg(QDir::toNativeSeparators(logDownloader->filePath()), logFileProblem));
    }
    QCoreApplication::quit();
}
