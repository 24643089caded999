#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "device/controllerlink.h"
#include "transfer/transferengine.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

class LogDownloader;
class QThread;
class UpdateChecker;

// The program's only window: the face of the controller link, the transfer
// engine, the update checker and the log downloader. It turns their reports
// into widget states and message boxes; the tick slots forward to the
// engine, which does the work.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

signals:
    void needDownloadNewFirmware();
    void needDownloadNewMainFirmware();
    void notNeedDownloadNewFirmware();
    void needDataCompleted(int type);

public slots:
    void onFindNewVersion(QString newVersion, QString detailText);
    void onFindMainNewVersion(QString newVersion, QString detailText);
    void onChangeUpdateFileName(QString filename);
    void onStartDownloadMainUpdate();
    void dataCompleted(int type);
    void onLogDownloadFinished();

private slots:
    void connectSlot();
    void updateDevice();
    void transmitSlot();
    void transmitSlotUTP();
    void updateFakeProgressSlot();
    void onYouHaveLastVersion();
    void onYouHaveProblem(QString msg, QString msg2);
    void on_downloadLogFile_pressed();
    void on_stopDownloadingFile_pressed();
    void executeTransferUTP();

private:
    void showNotFound();
    // The window's face on the transfer engine (transferface.cpp).
    void connectTransferEngine();
    void showTransferStarted();
    void showTransferCompleted();
    void showUpdateFinished();
    void showTransferFailure(TransferEngine::Failure failure);

    Ui::MainWindow *ui;
    UpdateChecker *updateChecker;
    LogDownloader *logDownloader;
    QThread *logThread;

    // Declared before the engine, which uses it until its own end.
    ControllerLink controllerLink;
    TransferEngine *transferEngine;

    // A run downloads the device log at most once and reports its end once.
    bool logDownloadStarted = false;
    bool logFinishedShown = false;
    QString logFileProblem;  // why the device log file could not be written
};

#endif // MAINWINDOW_H
