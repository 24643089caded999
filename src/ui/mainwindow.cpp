#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "protocol/models.h"

#include <QMessageBox>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
    , session(new UpdateSession(this))
{
    ui->setupUi(this);
    // Every run has its device log file, empty unless the log is fetched.
    session->openDeviceLog();

    connect(ui->connect_button, &QPushButton::clicked, this, &MainWindow::connectSlot);
    connect(ui->updateDeviceButton, &QPushButton::clicked, this, &MainWindow::updateDevice);
    connect(session, &UpdateSession::updaterOffered, this, &MainWindow::onFindMainNewVersion);
    connect(session, &UpdateSession::firmwareOffered, this, &MainWindow::onFindNewVersion);
    connect(session, &UpdateSession::downloadProgress, ui->progressBarTransfer, &QProgressBar::setValue);
    connect(session, &UpdateSession::logProgress, ui->progressBarTransfer, &QProgressBar::setValue);
    connect(session, &UpdateSession::logFinished, this, [this](const UpdateSession::DeviceLog &log) {
        if (!logFinishedShown)
            deviceLog = log;
        onLogDownloadFinished();
    });
    connect(session, &UpdateSession::firmwareReady, this,
            [this](const FirmwareFile &file) { onChangeUpdateFileName(file.path); });
    connect(session, &UpdateSession::upToDate, this, &MainWindow::onYouHaveLastVersion);
    connect(session, &UpdateSession::checkFailed, this,
            [this](const UpdateSession::CheckProblem &problem) { onYouHaveProblem(problem.message, problem.detail); });
    connect(session, &UpdateSession::updaterDownloadOpened, this, &MainWindow::onStartDownloadMainUpdate);
    connect(this, &MainWindow::needDownloadNewFirmware, session, &UpdateSession::downloadFirmware);
    connect(this, &MainWindow::needDownloadNewMainFirmware, session, &UpdateSession::openUpdaterDownload);
    connectTransfer();

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

// The session, a child, stops whatever runs when it goes.
MainWindow::~MainWindow()
{
    delete ui;
}

// Connects the first controller found; the model announcement comes
// before the update check starts.
void MainWindow::connectSlot()
{
    if (!session->connectFirst()) {
        showNotFound();
        return;
    }
    ui->connect_button->setEnabled(false);
    QMessageBox::information(this, tr("Info"), tr(modelForUnitType(session->link().unitType())->announcement));
    session->checkForUpdate();
}

void MainWindow::showNotFound()
{
    QMessageBox::critical(this, tr("Error"), tr("Device is not found.\nPlease connect."));
}
