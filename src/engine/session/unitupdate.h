#ifndef UNITUPDATE_H
#define UNITUPDATE_H

#include "session/updateresult.h"
#include "session/updatesession.h"

#include <QObject>
#include <QString>
#include <QThread>

class UnitUpdateRun;

// One controller's update, from opening it to exactly one finished(): the
// image is checked (an empty one is never sent), sent, and the controller's
// verdict awaited. The deadline bounds every wait on the controller: from
// one step of the transfer to the next while it takes the image, and for
// its verdict once it has the whole image.
// Every end is an UpdateResult; the faces only word it.
//
// Runs either on a session the caller already connected (and checked and
// downloaded with), on the caller's thread; or on a session and a thread of
// its own, so that a write that waits for a USB frame on one controller
// never delays another. Either way it reports on the thread that created
// it.
class UnitUpdate : public QObject
{
    Q_OBJECT

public:
    enum class Step { Transfer, Install };
    Q_ENUM(Step)

    // On `session`, which must outlive the unit and live on this thread.
    UnitUpdate(UpdateSession *session, int deadlineSeconds, QObject *parent = nullptr);
    // On a session and a thread of its own, for the controller `entry`;
    // `subject` heads the unit's lines in the program log.
    UnitUpdate(const ControllerEntry &entry, int deadlineSeconds, const QString &subject, QObject *parent = nullptr);
    // Stops nothing: the thread of its own, if any, ends and closes the
    // controller.
    ~UnitUpdate() override;

    // Sends only an image whose SHA-256 is `sha256` (32 bytes); any other
    // ends the unit before anything is written. Empty: any image. Call
    // before start().
    void requireSha256(const QByteArray &sha256);
    // Opens the controller unless it is open, and sends the image at
    // `imagePath`. Call once.
    void start(const QString &imagePath);
    // Stops at the next safe point: between two reports, or when the closed
    // library's call returns. finished() follows.
    void stop();
    bool isRunning() const { return started && !done; }

signals:
    // A single unit is ready for `reports` reports; a pair with its first one.
    void transferStarted(int reports);
    // `done` of `total` reports, where the transfer counts them; else -1.
    void progress(UnitUpdate::Step step, int percent, int done, int total);
    void transferCompleted(UpdateSession::Installation installation);
    // Exactly once, after start().
    void finished(const UpdateResult &result);

private:
    void connectRun();
    void end(const UpdateResult &result);

    QThread thread;      // unused on a caller's session
    UnitUpdateRun *run;  // lives on `thread`, or on this one with a caller's session
    const ControllerEntry entry;
    const QString subject;
    QByteArray requiredSha256;
    UpdateSession *callerSession = nullptr;
    bool started = false;
    bool done = false;
};

#endif // UNITUPDATE_H
