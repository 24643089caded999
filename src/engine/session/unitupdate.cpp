#include "unitupdate.h"

#include "common/programlog.h"
#include "record/flashrecord.h"

#include <QFileInfo>
#include <QTimer>
#include <QtDebug>

#include <chrono>

// The unit's work, where its session lives. Reports to the unit by its
// signals: queued from a thread of its own, direct on the caller's.
class UnitUpdateRun : public QObject
{
    Q_OBJECT

public:
    UnitUpdateRun(UpdateSession *session, int deadlineSeconds, QObject *parent)
        : QObject(parent)
        , session(session ? session : new UpdateSession(this))
        , deadlineSeconds(deadlineSeconds)
        , deadline(this)  // a child: it moves to the unit's thread with the run
    {
        deadline.setSingleShot(true);
        deadline.setInterval(std::chrono::seconds(deadlineSeconds));
        connect(&deadline, &QTimer::timeout, this, [this] {
            UpdateResult result;
            result.holds = this->session->controllerHolds();
            const bool wholeImage = result.holds == UpdateResult::Holds::WholeImage
                                    || result.holds == UpdateResult::Holds::Installing;
            result.end = wholeImage ? UpdateResult::End::ResultUnknown : UpdateResult::End::Failed;
            result.cause = wholeImage ? UpdateResult::Cause::NoVerdict : UpdateResult::Cause::NoAnswer;
            result.deadlineSeconds = this->deadlineSeconds;
            finish(result);
            this->session->stopTransfer();
        });
        connectSession();
    }

    void start(const ControllerEntry &entry, const QString &imagePath, const QByteArray &requiredSha256)
    {
        this->imagePath = imagePath;
        if (!session->link().isConnected() && !session->connectTo(entry)) {
            UpdateResult result = UpdateResult::notStarted(UpdateResult::Cause::NotOpened);
            result.openError = session->link().lastOpenError();
            finish(result);
            return;
        }
        // Checked here, whatever the image's source: a controller sent an
        // empty image would take it as a whole one.
        const QFileInfo image(imagePath);
        if (!image.isFile() || image.size() == 0) {
            finish(UpdateResult::notStarted(image.isFile() ? UpdateResult::Cause::EmptyImage
                                                           : UpdateResult::Cause::UnreadableImage));
            return;
        }
        // A site approves an image by its digest: whatever the server or
        // the disk holds, nothing else reaches the controller.
        if (!requiredSha256.isEmpty()) {
            const ImageDigest digest = ImageDigest::of(imagePath);
            if (digest.size < 0) {
                finish(UpdateResult::notStarted(UpdateResult::Cause::UnreadableImage));
                return;
            }
            if (QByteArray::fromHex(digest.sha256.toLatin1()) != requiredSha256) {
                qWarning().noquote() << "image not approved:" << imagePath << "has SHA-256" << digest.sha256
                                     << "instead of" << requiredSha256.toHex();
                finish(UpdateResult::notStarted(UpdateResult::Cause::ImageNotApproved));
                return;
            }
        }
        transferring = true;
        session->useFirmwareFile(imagePath);
        // The same deadline bounds every wait on the controller while it
        // takes the image: it runs from each step of the transfer to the
        // next, so that a controller that stops answering ends the run too.
        deadline.start();
        session->startOrStopTransfer();
    }

    Q_INVOKABLE void stop()
    {
        if (ended)
            return;
        if (!transferring) {
            finish(UpdateResult::stopped(UpdateResult::Holds::Untouched, TransferEngine::Phase::NothingSent));
            return;
        }
        if (!stopAskedAt)
            stopAskedAt = session->controllerHolds();
        session->stopTransfer();
    }

signals:
    void transferStarted(int reports);
    void progressed(UnitUpdate::Step step, int percent, int done, int total);
    void transferCompleted(UpdateSession::Installation installation);
    void finished(const UpdateResult &result);

private:
    void connectSession()
    {
        using Installation = UpdateSession::Installation;
        connect(session, &UpdateSession::transferStarted, this, &UnitUpdateRun::announce);
        connect(session, &UpdateSession::transferProgress, this, [this](int percent) {
            reportsSent = session->reportsSent();
            announce();
            progress(UnitUpdate::Step::Transfer, percent, session->reportsSent(), session->reportCount());
        });
        connect(session, &UpdateSession::libraryProgress, this, [this](int current, int total) {
            if (total > 0)
                progress(UnitUpdate::Step::Transfer, int(qint64(current) * 100 / total), -1, -1);
        });
        // Progress comes before each report, so never 100 %; the
        // controller's word that it has the whole image is the 100 %.
        connect(session, &UpdateSession::transferCompleted, this, [this](Installation installation) {
            if (ended)
                return;
            if (installation == Installation::Watched)
                progress(UnitUpdate::Step::Transfer, 100, session->reportCount(), session->reportCount());
            emit transferCompleted(installation);
        });
        connect(session, &UpdateSession::installProgress, this, [this](int percent) {
            if (session->controllerHolds() == UpdateResult::Holds::Installing)
                progress(UnitUpdate::Step::Install, percent, -1, -1);
        });
        connect(session, &UpdateSession::updateFinished, this, [this](Installation installation) {
            UpdateResult result;
            if (installation == Installation::OnItsOwn) {
                result.end = UpdateResult::End::InstallingOnItsOwn;
                result.holds = UpdateResult::Holds::Installing;
            } else {
                progress(UnitUpdate::Step::Install, 100, -1, -1);
                result.end = UpdateResult::End::Installed;
                result.holds = UpdateResult::Holds::Installed;
            }
            finish(result);
        });
        connect(session, &UpdateSession::transferFailed, this, [this](TransferEngine::Failure failure) {
            finish(UpdateResult::failed(failure, session->controllerPhase()));
        });
        connect(session, &UpdateSession::transferStopped, this, [this] {
            finish(UpdateResult::stopped(stopAskedAt.value_or(UpdateResult::Holds::Untouched),
                                         session->controllerPhase()));
        });
        // The wait for the verdict starts once the controller has the whole
        // image.
        connect(session, &UpdateSession::controllerPhaseChanged, this, [this](TransferEngine::Phase phase) {
            if (phase == TransferEngine::Phase::AwaitingVerdict && !ended) {
                // The engine counts its reports again from the next start.
                reportsSent = session->reportCount();
                deadline.start();
            }
        });
    }

    void announce()
    {
        if (announced || ended)
            return;
        announced = true;
        deadline.start();
        emit transferStarted(session->reportCount());
    }

    void progress(UnitUpdate::Step step, int percent, int done, int total)
    {
        if (ended)
            return;
        if (step == UnitUpdate::Step::Transfer && percent != shownTransferPercent) {
            shownTransferPercent = percent;
            deadline.start();
        }
        emit progressed(step, percent, done, total);
    }

    void finish(UpdateResult result)
    {
        if (ended)
            return;
        ended = true;
        deadline.stop();
        result.imagePath = imagePath;
        result.reportsSent = qMax(reportsSent, session->reportsSent());
        result.reportCount = session->reportCount();
        emit finished(result);
    }

    UpdateSession *const session;
    const int deadlineSeconds;
    QTimer deadline;
    QString imagePath;
    std::optional<UpdateResult::Holds> stopAskedAt;
    bool transferring = false;
    bool announced = false;
    bool ended = false;
    int shownTransferPercent = -1;
    int reportsSent = 0;  // as the transfer last told
};

UnitUpdate::UnitUpdate(UpdateSession *session, int deadlineSeconds, QObject *parent)
    : QObject(parent)
    , run(new UnitUpdateRun(session, deadlineSeconds, this))
    , callerSession(session)
{
    connectRun();
}

UnitUpdate::UnitUpdate(const ControllerEntry &entry, int deadlineSeconds, const QString &subject, QObject *parent)
    : QObject(parent)
    , run(new UnitUpdateRun(nullptr, deadlineSeconds, nullptr))
    , entry(entry)
    , subject(subject)
{
    qRegisterMetaType<UpdateResult>();
    qRegisterMetaType<UnitUpdate::Step>();
    run->moveToThread(&thread);
    connectRun();
    // The run, its session and the controller's handles go on the thread
    // they lived on, as it ends.
    connect(&thread, &QThread::finished, run, &QObject::deleteLater);
}

UnitUpdate::~UnitUpdate()
{
    if (callerSession)
        return;
    if (!thread.isRunning()) {
        delete run;
        return;
    }
    thread.quit();
    thread.wait();
}

void UnitUpdate::connectRun()
{
    connect(run, &UnitUpdateRun::transferStarted, this, &UnitUpdate::transferStarted);
    connect(run, &UnitUpdateRun::progressed, this, &UnitUpdate::progress);
    connect(run, &UnitUpdateRun::transferCompleted, this, &UnitUpdate::transferCompleted);
    connect(run, &UnitUpdateRun::finished, this, &UnitUpdate::end);
}

void UnitUpdate::start(const QString &imagePath)
{
    if (started)
        return;
    started = true;
    if (callerSession) {
        run->start(entry, imagePath, requiredSha256);
        return;
    }
    // On the thread as it starts, before its event loop runs: nothing is
    // posted to a thread that has no loop yet.
    connect(&thread, &QThread::started, run, [this, imagePath, sha256 = requiredSha256] {
        ProgramLog::setThreadSubject(subject);
        run->start(entry, imagePath, sha256);
    }, Qt::DirectConnection);
    thread.start();
}

void UnitUpdate::requireSha256(const QByteArray &sha256)
{
    requiredSha256 = sha256;
}

void UnitUpdate::stop()
{
    if (!isRunning())
        return;
    if (callerSession) {
        run->stop();
        return;
    }
    // By name: a queued call that carries no functor, whose reference count
    // the two threads would share.
    QMetaObject::invokeMethod(run, "stop", Qt::QueuedConnection);
}

void UnitUpdate::end(const UpdateResult &result)
{
    if (done)
        return;
    done = true;
    emit finished(result);
}

#include "unitupdate.moc"
