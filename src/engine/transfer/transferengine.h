#ifndef TRANSFERENGINE_H
#define TRANSFERENGINE_H

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

#include <hidapi.h>

class ControllerLink;
class QTimer;

// The firmware transfer to the connected controller and the wait for its
// verdict. Each tick of a 1 ms timer does one step: transferStart with the
// image's MD5 text, then after the controller's statusReady one report of
// 60 image bytes per tick (or, for MOSS, the closed transfer library moves
// the file), then the result phase reads the controller's status until it
// reports the update finished.
//
// Reports to its face by signals, emitted synchronously from the tick: a
// face that shows a modal box in a slot holds the engine there, and the
// engine changes its own state only after the slot has returned. No tick
// runs while such a slot is open.
//
// Lives on the GUI thread; the link must outlive it.
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
        ConnectionLost,       // the controller went while applying the update
        LibraryMissing,       // the closed transfer library is not installed
    };
    Q_ENUM(Failure)

    explicit TransferEngine(ControllerLink *link, QObject *parent = nullptr);
    ~TransferEngine() override;

    // The file "Update Device" sends; the program directory's "updater.sb"
    // unless the update checker pointed elsewhere.
    void setUpdateFileName(const QString &fileName);

    // The "Update Device" press: reads the update file and starts the ticks.
    // While they run, stops them between two reports instead ("kill timer");
    // the next call reads the file again and resumes where it stopped.
    void startOrStop();
    bool isRunning() const { return transferTimer != nullptr; }

    // True for the model whose image the closed transfer library moves.
    bool usesClosedLibrary() const;

    int reportsSent() const { return packetIndex; }
    int reportCount() const;

public slots:
    // One tick of the report path and of the closed-library path.
    void transmitSlot();
    void transmitSlotUTP();
    // One step of the simulated update bar.
    void updateFakeProgressSlot();
    // Runs the closed library for the update file; only pollAccessUTP calls it.
    void executeTransferUTP();

signals:
    void transferStarted();                        // the controller is ready; reports follow
    void transferProgress(int percent);            // before each data report
    void libraryProgress(int current, int total);  // during the closed library's call
    void transferCompleted();                      // the controller has the whole image
    void updateProgress(int percent);              // the simulated installation bar, up to 99
    void updateFinished();                         // the controller reports the update done
    void failed(TransferEngine::Failure failure);

private:
    void readyPoll();
    void readyPollPair();
    void startStep();
    void dataStep();
    void resultStep();
    void writeDataReport(const QByteArray &report);
    void failAcknowledgement(Failure failure);
    // Acts on a status with which the controller refuses or abandons a
    // transfer while the host waits for statusReady; ignores any other.
    void failOnRefusal(quint8 status);
    void loseConnection(hid_device *half);
    void pollAccessUTP();
    void sendTransferEndUTP();

    ControllerLink *link;
    QFile updateFile;
    QByteArray firmwareImage;

    // Reset only when the controller is lost, so that a transfer stopped with
    // "kill timer" and started again continues where it stopped.
    bool startSent = false;
    bool deviceReady = false;
    bool transferFinished = false;
    bool fakeProgressActive = false;
    int totalSize = 1;
    int packetIndex = 0;
    int resultReadFailures = 0;  // in a row, in the result phase

    // The timer whose ticks drive a transfer; none until the first start.
    QTimer *transferTimer = nullptr;
    int fakeProgressTicks = 0;
    int fakeProgressValue = 0;
};

#endif // TRANSFERENGINE_H
