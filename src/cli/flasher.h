#ifndef FLASHER_H
#define FLASHER_H

#include "commandline.h"
#include "exitcode.h"
#include "flashevent.h"
#include "outcomes.h"
#include "progressline.h"

#include "device/controllerlink.h"
#include "transfer/transferengine.h"
#include "update/updatechecker.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class LogDownloader;
class QThread;
class QTimer;

// Runs one command of the flasher on the updater's engine: the controller
// link, the update checker, the transfer engine and the log downloader,
// which it owns. It reports by signal and never writes to the console;
// the run ends with exactly one finished(), after a "result" event.
class Flasher : public QObject
{
    Q_OBJECT

public:
    // `canAsk`: a person can answer a confirmation (standard input is a
    // terminal). Without it an update needs --yes.
    Flasher(const FlashRequest &request, bool canAsk, QObject *parent = nullptr);
    ~Flasher() override;

    // Starts the command. Call once, with the event loop running or about to.
    void start();

    // The answer to confirmationNeeded().
    void confirm(bool yes);

    // Ctrl+C: stops between two steps (the transfer between two reports,
    // or once the closed library's call has returned) and finishes with
    // ExitCode::Interrupted, telling what state the controller is left in
    // as far as the transfer had come.
    void interrupt();

signals:
    void event(const FlashEvent &event);
    void progress(const ProgressSample &sample);
    void confirmationNeeded(const QString &question);
    void finished(int exitCode);

private:
    enum class Stage {
        Idle,          // nothing sent to the controller yet
        Checking,      // the update check runs
        Confirming,    // waiting for the user's answer
        Downloading,   // the firmware image is downloaded
        Transferring,  // the engine runs; its phase tells what the controller has
        LogDownload,   // the device log is downloaded
        Done,
    };

    void list();
    // Opens each of `entries` in turn to show it; returns the first that
    // could not be opened, with the reason, or an empty text.
    QString showControllers(const QList<ControllerEntry> &entries);
    // Finds the one controller the request names and opens it; false after
    // finishing with the reason.
    bool openController();
    ControllerSummary summaryOf(const ControllerEntry &entry, const ControllerLink &opened) const;
    QString controllerName() const;

    void startCheck();
    void onFirmwareOffer(const QString &offered, const QString &changeLog);
    void onUpdaterOffer(const QString &offered, const QString &changeLog);
    void onUpToDate();
    void onCheckProblem(UpdateChecker::Problem problem);
    void onUpdateFileReady();

    void askToSend(const QString &question);
    void startTransfer(const QString &path);
    void announceTransfer();
    void onTransferFailed(TransferEngine::Failure failure);
    void onTransferPhase(TransferEngine::Phase phase);

    void startLog();
    void onLogFinished(bool complete);

    void emitProgress(const QString &phase, int percent, int done = -1, int total = -1);
    void finish(ExitCode code, const QString &outcome, const QString &message);
    void finish(const Outcome &outcome);
    void finishNoController();

    const FlashRequest request;
    const bool canAsk;
    Stage stage = Stage::Idle;
    bool stopRequested = false;      // Ctrl+C during the log download
    bool transferAnnounced = false;  // the transfer-started event is out

    ControllerLink link;
    ControllerEntry selected;
    UpdateChecker *checker = nullptr;
    TransferEngine *engine = nullptr;
    LogDownloader *logDownloader = nullptr;
    QThread *logThread = nullptr;
    QTimer *logWatchdog = nullptr;
    QTimer *verdictWatchdog = nullptr;  // bounds the wait for the controller's verdict

    QString overridePath;       // the hand-placed file the check chose instead
    QString updateFilePath;     // what the transfer sends
    QString logFileProblem;     // why the device log file could not be written
    QElapsedTimer phaseClock;   // since the current progress phase began
};

#endif // FLASHER_H
