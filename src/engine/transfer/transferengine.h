#ifndef TRANSFERENGINE_H
#define TRANSFERENGINE_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <hidapi.h>

#include <memory>

class ControllerLink;
class QTimer;
class TimerResolution;

// The firmware transfer to the connected controller and the wait for its
// verdict. Each tick of a 1 ms timer does one step: transferStart with the
// image's MD5 text, then after the controller's statusReady one report of
// 60 image bytes per tick (or, for MOSS, the closed transfer library moves
// the file), then the result phase reads the controller's status until it
// reports the update finished.
//
// A controller that goes (two ticks in a row with a failed read, in the
// ready poll or the result phase) ends the transfer with a failure. The
// waits for statusReady and for the verdict last as long as the ticks run,
// as the window has always waited; a flasher bounds them from outside.
//
// Reports to its face by signals, emitted synchronously from the tick: a
// face that shows a modal box in a slot holds the engine there, and the
// engine changes its own state only after the slot has returned. No tick
// runs while such a slot is open.
//
// Lives on the thread of its session (the window's, the flasher's, or a
// station unit's own), which runs its ticks; the link must outlive it.
class TransferEngine : public QObject
{
    Q_OBJECT

public:
    enum class Failure {
        FileNotLoaded,        // the update file could not be read whole
        StartNotWritten,      // transferStart could not be written
        DeviceTimeout,        // refused while the host waited for statusReady ...
        DeviceInternalError,
        PacketsSkipped,
        WrongMd5,             // verdicts after the transfer
        UpdateInternalError,
        WrongFile,
        EndNotWritten,        // closed-library path: transferEnd not written
        ConnectionLost,       // the controller went; phase() tells how far the transfer had come
        LibraryMissing,       // the closed transfer library is not installed
    };
    Q_ENUM(Failure)

    // How far the transfer has come, as the controller sees it: what a face
    // tells the user after a stop or a loss follows from this alone.
    enum class Phase {
        NothingSent,      // no report of this transfer reached the controller
        PartlySent,       // transferStart went out, not the whole image (or it was refused)
        AwaitingVerdict,  // the controller holds the whole image (its last report was written, or
                          // the closed library's call moved the file); no status since
        Applying,         // the controller reported statusTransferComplete and applies the image
        Finished,         // the controller's verdict came: the update finished, or the image was rejected
    };
    Q_ENUM(Phase)

    // How the image reaches the controller once it is ready for it: as a
    // stream of data reports, or through the closed transfer library's call.
    // The start, the ready poll, the end and the result phase are the same.
    enum class Path {
        ReportStream,
        LibraryCall,
    };
    Q_ENUM(Path)

    explicit TransferEngine(ControllerLink *link, QObject *parent = nullptr);
    ~TransferEngine() override;

    // The file "Update Device" sends; the program directory's "updater.sb"
    // unless the update checker pointed elsewhere.
    void setUpdateFileName(const QString &fileName);

    // The "Update Device" press: reads the update file and starts the ticks.
    // While they run, stops them between two reports instead ("kill timer");
    // the next call reads the file again and resumes where it stopped.
    // Refuses to start while the link is not connected.
    void startOrStop();
    // Stops the transfer for good, without touching the update file: no
    // report is written after stopped(). Outside the closed library's call
    // it stops at once and emits stopped() before returning; called during
    // that call (from its progress callback) it is recorded, and the engine
    // stops and emits stopped() when the call returns, without the
    // transferEnd (the phase then tells whether the call moved the file).
    // The next start is a fresh transfer.
    void stop();
    bool isRunning() const;

    Phase phase() const { return currentPhase; }

    // The path of the connected model; the report stream unless set.
    void setPath(Path path) { transferPath = path; }
    Path path() const { return transferPath; }

    int reportsSent() const { return packetIndex; }
    int reportCount() const;

public slots:
    // One tick of the report path and of the closed-library path.
    void transmitSlot();
    void transmitSlotUTP();
    // One step of the simulated update bar.
    void updateFakeProgressSlot();
    // Runs the closed library for the update file; only pollAccessUTP calls
    // it. False when stop() came during the call: the transfer has stopped.
    bool executeTransferUTP();

signals:
    void transferStarted();                        // the controller is ready; reports follow
    void transferProgress(int percent);            // before each data report
    void libraryProgress(int current, int total);  // during the closed library's call
    void transferCompleted();                      // the controller has the whole image
    void updateProgress(int percent);              // the simulated installation bar, up to 99
    void updateFinished();                         // the controller reports the update done
    void failed(TransferEngine::Failure failure);
    void phaseChanged(TransferEngine::Phase phase);
    void stopped();                                // after stop(): nothing more is sent

private:
    // The ready poll of a single unit and of a pair. False when the
    // controller was lost in it: the transfer has ended.
    bool readyPoll();
    bool readyPollPair();
    // Counts a tick with a failed read of `failedHalf` (null: none failed);
    // the second such tick in a row loses the controller. False when it did.
    bool survivesRead(hid_device *failedHalf, const char *when);
    void startStep();
    void dataStep();
    void resultStep();
    // True when the report reached the controller (a pair: either half).
    bool writeDataReport(const QByteArray &report);
    void failAcknowledgement(Failure failure);
    // Acts on a status with which the controller refuses or abandons a
    // transfer while the host waits for statusReady; ignores any other.
    void failOnRefusal(quint8 status);
    void loseConnection(hid_device *half, const char *when);
    void setPhase(Phase phase);
    // The transfer timer's ticks, with the system's timers at 1 ms while
    // they run.
    void startTicks();
    void stopTicks();
    // Back to a fresh transfer, the timer stopped; the phase stays as the
    // controller last saw it.
    void resetTransfer();
    // False, with the timer stopped, when the link's handles are gone.
    bool canTick();
    // False when the transfer ended in it: the controller was lost, or
    // stop() came during the library call.
    bool pollAccessUTP();
    void sendTransferEndUTP();

    ControllerLink *link;
    QFile updateFile;
    QByteArray firmwareImage;

    Path transferPath = Path::ReportStream;
    Phase currentPhase = Phase::NothingSent;
    bool inLibraryCall = false;
    bool stopPending = false;  // stop() during the library call

    // Reset only when the controller is lost or the transfer stopped, so
    // that a transfer stopped with "kill timer" and started again continues
    // where it stopped.
    bool startSent = false;
    bool deviceReady = false;
    bool transferFinished = false;
    bool fakeProgressActive = false;
    int totalSize = 1;
    int packetIndex = 0;
    int readFailures = 0;  // ticks in a row with a failed read

    // Drives a transfer by its ticks; started and stopped, never deleted
    // before the engine, so that no tick runs on a deleted timer.
    QTimer *transferTimer;
    std::unique_ptr<TimerResolution> timerResolution;
    int fakeProgressTicks = 0;
    int fakeProgressValue = 0;
};

#endif // TRANSFERENGINE_H
