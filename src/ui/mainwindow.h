#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QByteArray>
#include <QFile>
#include <QMainWindow>

#include <hidapi.h>

namespace Ui {
class MainWindow;
}

class LogDownloader;
class QThread;
class QTimer;
class UpdateChecker;

// The program's only window and the owner of the device state.
//
// The class is declared here once; its operations are defined beside the
// subsystem they belong to: construction in ui/, connecting a controller in
// device/, the firmware transfer in transfer/, the update prompts in ui/ and
// the log download controls in devlog/.
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
    // A first half of a two-unit model, waiting for its other half. Only
    // its path is used to open it; the enumeration list may be freed.
    struct PendingHalf
    {
        quint8 isSet = 0;
        int unitType = -1;
        QByteArray path;
    };

    // Connecting a controller (device/connection.cpp).
    bool identifyDevice(const hid_device_info *entry);
    bool identifyDevice(const hid_device_info *rightHalf, const PendingHalf &leftHalf);
    void showNotFound();

    // The report transfer engine and the result phase (transfer/).
    void readyPoll();
    void readyPollPair();
    void startStep();
    void dataStep();
    void resultStep();
    void loseConnection(hid_device *half);
    void writeDataReport(const QByteArray &report);
    void failAcknowledgement(const QString &text);

    // The closed-library path (transfer/utppath.cpp).
    void pollAccessUTP();
    void sendTransferEndUTP();

    Ui::MainWindow *ui;
    UpdateChecker *updateChecker;
    LogDownloader *logDownloader;
    QThread *logThread;

    quint8 deviceVersion = 0;
    QFile updateFile;
    QByteArray firmwareImage;

    // Transfer engine state; never reset, so a transfer stopped with
    // "kill timer" and started again continues where it stopped.
    int startSent = 0;
    int deviceReady = 0;
    int transferFinished = 0;
    int totalSize = 1;
    int packetIndex = 0;
    int fakeProgressActive = 0;
    int resultReadFailures = 0;  // in a row, in the result phase

    hid_device *device = nullptr;
    hid_device *secondDevice = nullptr;
    // The values of pairMode: one unit, or the two halves of a pair.
    static constexpr quint8 pairModeOff = 1;
    static constexpr quint8 pairModeOn = 2;
    quint8 pairMode = pairModeOff;
    PendingHalf pendingHalf;
    int unitType = 0;
    quint8 commandOffset = 0;
    quint8 dataOffset = 0;

    // The timer whose ticks drive a transfer; none until "Update Device".
    QTimer *transferTimer = nullptr;
    int fakeProgressTicks = 0;
    int fakeProgressValue = 0;

    // A run downloads the device log at most once and reports its end once.
    bool logDownloadStarted = false;
    bool logFinishedShown = false;
};

#endif // MAINWINDOW_H
