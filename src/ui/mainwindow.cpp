#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "device/models.h"
#include "devlog/logdownloader.h"
#include "update/updatechecker.h"

#include <QMessageBox>
#include <QThread>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , transferEngine(new TransferEngine(&controllerLink, this))
{
    ui->setupUi(this);

    updateChecker = new UpdateChecker;
    logDownloader = new LogDownloader(nullptr);

    logThread = new QThread;
    logDownloader->moveToThread(logThread);
    connect(logThread, &QThread::started, logDownloader, &LogDownloader::process);
    logThread->start();

    connect(ui->connect_button, &QPushButton::clicked, this, &MainWindow::connectSlot);
    connect(ui->updateDeviceButton, &QPushButton::clicked, this, &MainWindow::updateDevice);
    connect(updateChecker, &UpdateChecker::findMainNewVersion, this, &MainWindow::onFindMainNewVersion);
    connect(updateChecker, &UpdateChecker::findNewVersion, this, &MainWindow::onFindNewVersion);
    connect(updateChecker, &UpdateChecker::downloadProgress, ui->progressBarTransfer, &QProgressBar::setValue);
    connect(logDownloader, &LogDownloader::logDownloadProgress, ui->progressBarTransfer, &QProgressBar::setValue);
    connect(logDownloader, &LogDownloader::logFileFailed, this, [this](const QString &reason) {
        logFileProblem = reason;
    });
    connect(logDownloader, &LogDownloader::logDownloadFinished, this, &MainWindow::onLogDownloadFinished);
    connect(logDownloader, &LogDownloader::needwaitLogFileMd5, logDownloader, &LogDownloader::waitLogFileMd5);
    connect(logDownloader, &LogDownloader::needreadLogPart, logDownloader, &LogDownloader::readLogPart);
    connect(logDownloader, &LogDownloader::needdataCompleted, this, &MainWindow::dataCompleted);
    connect(logDownloader, &LogDownloader::needresendMessage, logDownloader, &LogDownloader::resendMessage);
    connect(this, &MainWindow::needDataCompleted, logDownloader, &LogDownloader::dataCompleted);
    connect(updateChecker, &UpdateChecker::newUpdateFileDownloaded, ui->updateDeviceButton, &QPushButton::setEnabled);
    connect(updateChecker, &UpdateChecker::youHaveLastVersion, this, &MainWindow::onYouHaveLastVersion);
    connect(updateChecker, &UpdateChecker::youHaveProblem, this, &MainWindow::onYouHaveProblem);
    connect(updateChecker, &UpdateChecker::changeUpdateFileName, this, &MainWindow::onChangeUpdateFileName);
    connect(updateChecker, &UpdateChecker::startDownloadMainUpdate, this, &MainWindow::onStartDownloadMainUpdate);
    connect(this, &MainWindow::needDownloadNewFirmware, updateChecker, &UpdateChecker::onNeedDownloadNewFirmware);
    connect(this, &MainWindow::needDownloadNewMainFirmware, updateChecker, &UpdateChecker::onNeedDownloadNewMainFirmware);
    connectTransferEngine();

    ui->updateDeviceButton->setEnabled(false);
    ui->progressBarTransfer->setEnabled(false);
    ui->labelTransfer->setText(tr("Transfer:"));
    ui->labelTransfer->setEnabled(false);
    ui->progressBarUpdate->setEnabled(false);
    ui->labelUpdate->setText(tr("Update:"));
    ui->labelUpdate->setEnabled(false);
    ui->stopDownloadingFile->hide();
    ui->downloadLogFile->hide();
    ui->downloadLogFile->setEnabled(false);
}

// The program ends with the window, so the worker thread and the service
// objects are released here in order: the worker first, then the handles
// it may have been using.
MainWindow::~MainWindow()
{
    // The downloader goes on its own thread as that thread ends, so that
    // nothing it used is freed from here. Interrupting the thread ends a log
    // header wait in progress, so that wait() returns promptly.
    logDownloader->deleteLater();
    logThread->requestInterruption();
    logThread->quit();
    logThread->wait();
    delete logThread;
    delete updateChecker;
    delete ui;
}

// Connects the first controller found; the model announcement comes
// before the update check starts.
void MainWindow::connectSlot()
{
    if (!controllerLink.connectFirst()) {
        showNotFound();
        return;
    }
    ui->connect_button->setEnabled(false);
    if (const std::optional<quint8> version = controllerLink.checkedVersion())
        updateChecker->setCurrentVersion(QString::number(*version));

    QMessageBox::information(this, tr("Info"), tr(modelForUnitType(controllerLink.unitType())->announcement));

    // The log download works on single units only.
    if (!controllerLink.isPair())
        logDownloader->setDevice(controllerLink.device(), controllerLink.unitType());
    updateChecker->setUnitType(controllerLink.unitType());
    updateChecker->checkVersion();
}

void MainWindow::showNotFound()
{
    QMessageBox::critical(this, tr("Error"), tr("Device is not found.\nPlease connect."));
}
