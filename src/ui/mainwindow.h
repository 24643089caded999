#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "session/updatesession.h"

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The program's only window: a face on the update session. It starts the
// session's steps from its buttons and the user's answers, and turns the
// session's reports into widget states and message boxes. The slots that
// tick the transfer forward to the session's engine, which does the work.
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
    // The window's face on the transfer (mainwindow_transfer.cpp).
    void connectTransfer();
    void showTransferStarted();
    void showTransferCompleted(UpdateSession::Installation installation);
    void showUpdateFinished(UpdateSession::Installation installation);
    void showTransferFailure(TransferEngine::Failure failure);

    Ui::MainWindow *ui;
    UpdateSession *session;

    // A run downloads the device log at most once and reports its end once.
    bool logDownloadStarted = false;
    bool logFinishedShown = false;
    UpdateSession::DeviceLog deviceLog;  // how the download ended
};

#endif // MAINWINDOW_H
