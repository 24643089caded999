#ifndef STATIONUNIT_H
#define STATIONUNIT_H

#include "outcomes.h"

#include "device/controllerlink.h"
#include "transfer/transferengine.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

class UpdateSession;

// One controller of a flashing station: its transfer runs through an
// update session of its own on a thread of its own, so that a write that
// blocks for a USB frame on one controller never delays another. Lives on
// the station's thread and reports there; what it says after a stop or a
// failure follows from the phase the session reports.
class StationUnit : public QObject
{
    Q_OBJECT

public:
    // `name` ("MODEL PATH") heads the unit's lines in the program log.
    // `timeoutSeconds` bounds the wait for the verdict.
    StationUnit(const ControllerEntry &entry, const QString &name, int timeoutSeconds, QObject *parent = nullptr);
    // Waits for the unit's thread, which closes the controller.
    ~StationUnit() override;

    // Connects to the controller and sends `firmwarePath`. Call once.
    void start(const QString &firmwarePath);
    // Stops the transfer at its next safe point: between two reports, or
    // when the closed library's call returns. finished() follows.
    void stop();
    bool isRunning() const { return started && !done; }

signals:
    void transferStarted(int reports);
    void progress(const QString &phase, int percent);
    void transferCompleted();
    // Exactly once, after start().
    void finished(const Outcome &outcome);

private:
    // Runs `step` on the unit's thread.
    void onUnitThread(const std::function<void()> &step);
    // On the unit's thread: the session's reports, passed to this thread.
    void connectSession(const QString &firmwarePath);
    void finishWith(const Outcome &outcome);

    const ControllerEntry controller;
    const QString unitName;
    QThread thread;
    QObject *anchor;                   // lives on `thread`; the session is its child
    UpdateSession *session = nullptr;  // used on `thread` only
    QTimer verdictWatchdog;
    bool started = false;
    bool done = false;
};

#endif // STATIONUNIT_H
