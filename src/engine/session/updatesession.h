#ifndef UPDATESESSION_H
#define UPDATESESSION_H

#include "device/controllerlink.h"
#include "session/updateresult.h"
#include "transfer/transferengine.h"
#include "update/updatechecker.h"

#include <QObject>
#include <QString>

class LogDownloader;
class QThread;

// One controller's workflow: connecting to it and identifying it, the
// update check, the firmware download, the transfer, the controller's
// verdict, and the download of its internal log. The one place that wires
// the controller link, the update checker, the transfer engine and the log
// downloader together; the window and the flasher are faces on it, which
// call its steps and turn its signals into widgets, boxes, lines or JSON.
//
// Reports by typed signals, emitted synchronously from the step that found
// them: a face that shows a modal box in a slot holds the session there.
//
// Lives on the thread that created it, which runs its network replies and
// the transfer's ticks; the log download runs on a worker thread of the
// session's own. Destroying the session stops whatever runs, in one place:
// the worker thread first, then the transfer, and the controller's handles
// last.
class UpdateSession : public QObject
{
    Q_OBJECT

public:
    // Why a check or a download ended without an offer: the kind, for faces
    // that tell them apart, and the checker's own two texts, which the
    // window shows.
    struct CheckProblem
    {
        UpdateChecker::Problem kind = UpdateChecker::Problem::Connection;
        QString message;
        QString detail;
    };

    // How the controller installs an image it has accepted.
    enum class Installation {
        Watched,   // it reports its progress and its end
        OnItsOwn,  // the closed library's model: it finishes without a word
    };
    Q_ENUM(Installation)

    // How a device log download ended.
    struct DeviceLog
    {
        enum class End { Complete, Incomplete, FileNotWritten };
        End end = End::Incomplete;
        QString path;         // the device log file of this run
        QString fileProblem;  // FileNotWritten: the system's reason
    };

    // What one opening of a controller read.
    struct Reading
    {
        bool opened = false;
        std::optional<quint8> checkedVersion;  // what the update check compares
        std::optional<quint8> shownVersion;    // what a person is shown
        QString openError;                     // hidapi's reason, where it gave one
    };

    explicit UpdateSession(QObject *parent = nullptr);
    ~UpdateSession() override;

    // Every attached controller, in model-table order. Opens nothing.
    static QList<ControllerEntry> attachedControllers();
    // Opens `entry`, reads it and closes it again.
    static Reading read(const ControllerEntry &entry);
    // What the connection to the controller read.
    Reading reading() const;

    // Connect and identify. connectFirst() is the window's search: the first
    // controller in model-table order. Both give false when nothing could be
    // opened (link().lastOpenError() tells why).
    bool connectFirst();
    bool connectTo(const ControllerEntry &entry);
    const ControllerLink &link() const { return controllerLink; }

    // The update check for the connected controller. Ends in one of
    // firmwareOffered, updaterOffered, upToDate, firmwareReady (a hand-placed
    // file, with no online check) or checkFailed.
    void checkForUpdate();
    // The same check for a controller of `unitType` that runs `version`,
    // without connecting to one: a station checks each model once.
    void checkFor(int unitType, quint8 version);
    // The answers to the offers: download the offered firmware (ends in
    // firmwareReady or checkFailed), or open the updater's download address
    // (ends in updaterDownloadOpened).
    void downloadFirmware();
    void openUpdaterDownload();
    // Takes `path` as the image to send, without a check: firmwareReady.
    void useFirmwareFile(const QString &path);
    // Downloads go to `path` instead of the program directory's "updater.sb".
    void setFirmwarePath(const QString &path);
    FirmwareFile firmwareFile() const { return firmware; }

    // The transfer of the image firmwareReady named. startOrStopTransfer() is
    // the "Update Device" press: it reads the image and starts the ticks, or,
    // while they run, stops them between two reports. stopTransfer() stops
    // for good without touching the image (a stop during the closed
    // library's call takes effect when the call returns; transferStopped()
    // then follows).
    void startOrStopTransfer();
    void stopTransfer();
    // What a person may be told about the controller: what it holds after
    // the last transfer step, the one state every face words.
    UpdateResult::Holds controllerHolds() const;
    // How far the transfer came, as the controller saw it: for the engine's
    // own classes, which derive the controller's state from it.
    TransferEngine::Phase controllerPhase() const { return engine->phase(); }
    int reportsSent() const { return engine->reportsSent(); }
    int reportCount() const { return engine->reportCount(); }
    // For the window's tick slots, which forward to it.
    TransferEngine *transferEngine() const { return engine; }

    // The device log. openDeviceLog() creates the log file of this run and
    // the downloader's thread (the window does so at start-up, the flasher
    // only for its log command); startLogDownload() asks the connected
    // single unit for its log, opening the device log first if need be;
    // stopLogDownload() breaks it off. Both end in logFinished; a stop
    // with no download ever started does nothing.
    void openDeviceLog();
    void startLogDownload();
    void stopLogDownload();
    // How long a log download waits for the controller to answer its
    // request before it ends incomplete on its own.
    static int logAnswerWaitMs();

signals:
    // The check.
    void firmwareOffered(const QString &offered, const QString &changeLog);
    void updaterOffered(const QString &offered, const QString &changeLog);
    void upToDate();
    void checkFailed(const UpdateSession::CheckProblem &problem);
    void downloadProgress(int percent);
    void firmwareReady(const FirmwareFile &file);
    void updaterDownloadOpened();

    // The transfer and the controller's verdict.
    void transferStarted();                        // a single unit is ready; a pair is not announced
    void transferProgress(int percent);            // report path: before each data report
    void libraryProgress(int current, int total);  // closed-library path: during its call
    void transferCompleted(UpdateSession::Installation installation);
    void installProgress(int percent);
    void updateFinished(UpdateSession::Installation installation);
    void transferFailed(TransferEngine::Failure failure);
    void transferStopped();
    void controllerPhaseChanged(TransferEngine::Phase phase);

    // The device log.
    void logProgress(int percent);
    void logFinished(const UpdateSession::DeviceLog &log);

private:
    static Reading readingOf(const ControllerLink &link);
    Installation installation() const;
    // Sets the transfer's path for the connected model and hands it to the
    // log downloader.
    void onConnected();
    void handOverToLog();
    void onTransferFailed(TransferEngine::Failure failure);
    void onLogFinished(bool complete);
    void shutDownLogThread();

    ControllerLink controllerLink;
    UpdateChecker *updateChecker;
    TransferEngine *engine;
    LogDownloader *logDownloader = nullptr;
    QThread *logThread = nullptr;
    FirmwareFile firmware;
    UpdateChecker::Problem lastProblem = UpdateChecker::Problem::Connection;
    std::optional<TransferEngine::Failure> lastFailure;  // of the transfer under way or last ended
    QString logFileProblem;
};

Q_DECLARE_METATYPE(UpdateSession::CheckProblem)
Q_DECLARE_METATYPE(UpdateSession::DeviceLog)

#endif // UPDATESESSION_H
