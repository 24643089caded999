#include "stationunit.h"

#include "common/programlog.h"
#include "session/updatesession.h"

#include <chrono>
#include <memory>

StationUnit::StationUnit(const ControllerEntry &entry, const QString &name, int timeoutSeconds, QObject *parent)
    : QObject(parent)
    , controller(entry)
    , unitName(name)
    , anchor(new QObject)
{
    anchor->moveToThread(&thread);
    connect(&thread, &QThread::finished, anchor, &QObject::deleteLater);
    verdictWatchdog.setSingleShot(true);
    verdictWatchdog.setInterval(std::chrono::seconds(timeoutSeconds));
    connect(&verdictWatchdog, &QTimer::timeout, this, [this, timeoutSeconds] {
        finishWith(Outcomes::noVerdict(timeoutSeconds));
        onUnitThread([this] { session->stopTransfer(); });
    });
}

StationUnit::~StationUnit()
{
    if (!thread.isRunning()) {
        delete anchor;
        return;
    }
    thread.quit();
    thread.wait();
}

void StationUnit::onUnitThread(const std::function<void()> &step)
{
    QMetaObject::invokeMethod(anchor, step, Qt::QueuedConnection);
}

void StationUnit::start(const QString &firmwarePath)
{
    started = true;
    thread.start();
    onUnitThread([this, firmwarePath] {
        ProgramLog::setThreadSubject(unitName);
        session = new UpdateSession(anchor);
        connectSession(firmwarePath);
        if (!session->connectTo(controller)) {
            const Outcome failure = Outcomes::noAccess(controller.paths.first(), session->link().lastOpenError());
            QMetaObject::invokeMethod(this, [this, failure] { finishWith(failure); });
            return;
        }
        session->useFirmwareFile(firmwarePath);
        session->startOrStopTransfer();
    });
}

// The session's values are read here, on its own thread, and handed on.
void StationUnit::connectSession(const QString &firmwarePath)
{
    const auto post = [this](std::function<void()> report) {
        QMetaObject::invokeMethod(this, std::move(report), Qt::QueuedConnection);
    };
    // A single unit says when it is ready; a pair's first data report tells it.
    const auto announced = std::make_shared<bool>(false);
    const auto announce = [this, post, announced] {
        if (*announced)
            return;
        *announced = true;
        const int reports = session->reportCount();
        post([this, reports] { emit transferStarted(reports); });
    };
    connect(session, &UpdateSession::transferStarted, session, announce);
    connect(session, &UpdateSession::transferProgress, session, [announce, post, this](int percent) {
        announce();
        post([this, percent] { emit progress(QStringLiteral("transfer"), percent); });
    });
    connect(session, &UpdateSession::libraryProgress, session, [post, this](int current, int total) {
        if (total > 0)
            post([this, percent = int(qint64(current) * 100 / total)] { emit progress(QStringLiteral("transfer"), percent); });
    });
    connect(session, &UpdateSession::transferCompleted, session, [post, this] { post([this] { emit transferCompleted(); }); });
    connect(session, &UpdateSession::installProgress, session, [post, this](int percent) {
        post([this, percent] { emit progress(QStringLiteral("install"), percent); });
    });
    connect(session, &UpdateSession::updateFinished, session, [post, this](UpdateSession::Installation installation) {
        post([this, outcome = Outcomes::installed(installation)] { finishWith(outcome); });
    });
    connect(session, &UpdateSession::transferFailed, session, [post, this, firmwarePath](TransferEngine::Failure failure) {
        post([this, outcome = Outcomes::transferFailed(failure, session->controllerPhase(), firmwarePath)] {
            finishWith(outcome);
        });
    });
    connect(session, &UpdateSession::transferStopped, session, [post, this] {
        post([this, outcome = Outcomes::interrupted(session->controllerPhase())] { finishWith(outcome); });
    });
    connect(session, &UpdateSession::controllerPhaseChanged, session, [post, this](TransferEngine::Phase phase) {
        if (phase == TransferEngine::Phase::AwaitingVerdict)
            post([this] { verdictWatchdog.start(); });
    });
}

void StationUnit::stop()
{
    if (!isRunning())
        return;
    onUnitThread([this] { session->stopTransfer(); });
}

void StationUnit::finishWith(const Outcome &outcome)
{
    if (done)
        return;
    done = true;
    verdictWatchdog.stop();
    emit finished(outcome);
}
