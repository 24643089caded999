#include "updatesession.h"

#include "devlog/logdownloader.h"
#include "protocol/models.h"

#include <QThread>

UpdateSession::UpdateSession(QObject *parent)
    : QObject(parent)
    , updateChecker(new UpdateChecker(this))
    , engine(new TransferEngine(&controllerLink, this))
{
    // Faces on another thread receive the values queued.
    qRegisterMetaType<FirmwareFile>();
    qRegisterMetaType<UpdateSession::CheckProblem>();
    qRegisterMetaType<UpdateSession::DeviceLog>();
    qRegisterMetaType<UpdateSession::Installation>();
    qRegisterMetaType<TransferEngine::Failure>();

    connect(updateChecker, &UpdateChecker::findNewVersion, this, &UpdateSession::firmwareOffered);
    connect(updateChecker, &UpdateChecker::findMainNewVersion, this, &UpdateSession::updaterOffered);
    connect(updateChecker, &UpdateChecker::youHaveLastVersion, this, &UpdateSession::upToDate);
    connect(updateChecker, &UpdateChecker::downloadProgress, this, &UpdateSession::downloadProgress);
    connect(updateChecker, &UpdateChecker::startDownloadMainUpdate, this, &UpdateSession::updaterDownloadOpened);
    // The kind comes just before the texts.
    connect(updateChecker, &UpdateChecker::problemFound, this,
            [this](UpdateChecker::Problem problem) { lastProblem = problem; });
    connect(updateChecker, &UpdateChecker::youHaveProblem, this,
            [this](const QString &msg, const QString &msg2) { emit checkFailed({ lastProblem, msg, msg2 }); });
    connect(updateChecker, &UpdateChecker::firmwareReady, this, [this](const FirmwareFile &file) {
        firmware = file;
        engine->setUpdateFileName(file.path);
        emit firmwareReady(file);
    });

    connect(engine, &TransferEngine::transferStarted, this, &UpdateSession::transferStarted);
    connect(engine, &TransferEngine::transferProgress, this, &UpdateSession::transferProgress);
    connect(engine, &TransferEngine::libraryProgress, this, &UpdateSession::libraryProgress);
    connect(engine, &TransferEngine::transferCompleted, this, [this] { emit transferCompleted(installation()); });
    connect(engine, &TransferEngine::updateProgress, this, &UpdateSession::installProgress);
    connect(engine, &TransferEngine::updateFinished, this, [this] { emit updateFinished(installation()); });
    connect(engine, &TransferEngine::failed, this, &UpdateSession::onTransferFailed);
    connect(engine, &TransferEngine::stopped, this, &UpdateSession::transferStopped);
    connect(engine, &TransferEngine::phaseChanged, this, &UpdateSession::controllerPhaseChanged);
}

// The engine and the checker, children, go after the worker thread; the
// link, a member, closes the controller's handles last.
UpdateSession::~UpdateSession()
{
    shutDownLogThread();
}

// The worker goes first: it may be reading the controller, whose handles
// the link closes when the session's members go.
void UpdateSession::shutDownLogThread()
{
    if (!logThread)
        return;
    // The downloader is deleted on its own thread as that thread ends, so
    // that nothing it uses is freed from here. The interruption ends a
    // header wait in progress, so that wait() returns promptly.
    logDownloader->deleteLater();
    logThread->requestInterruption();
    logThread->quit();
    logThread->wait();
    delete logThread;
    logThread = nullptr;
    logDownloader = nullptr;
}

QList<ControllerEntry> UpdateSession::attachedControllers()
{
    return ControllerLink::attachedControllers();
}

UpdateSession::Reading UpdateSession::read(const ControllerEntry &entry)
{
    ControllerLink probe;
    probe.connectTo(entry);
    return readingOf(probe);
}

UpdateSession::Reading UpdateSession::reading() const
{
    return readingOf(controllerLink);
}

UpdateSession::Reading UpdateSession::readingOf(const ControllerLink &link)
{
    Reading reading;
    reading.opened = link.isConnected();
    if (reading.opened) {
        reading.checkedVersion = link.checkedVersion();
        reading.shownVersion = link.shownVersion();
    } else {
        reading.openError = link.lastOpenError();
    }
    return reading;
}

bool UpdateSession::connectFirst()
{
    if (!controllerLink.connectFirst())
        return false;
    onConnected();
    return true;
}

bool UpdateSession::connectTo(const ControllerEntry &entry)
{
    if (!controllerLink.connectTo(entry))
        return false;
    onConnected();
    return true;
}

// The model decides how its image is sent.
void UpdateSession::onConnected()
{
    engine->setPath(controllerLink.unitType() == mossUnitType ? TransferEngine::Path::LibraryCall
                                                               : TransferEngine::Path::ReportStream);
    handOverToLog();
}

// The log download works on single units only.
void UpdateSession::handOverToLog()
{
    if (logDownloader && !controllerLink.isPair())
        logDownloader->setDevice(controllerLink.device(), controllerLink.unitType());
}

// A version that could not be read is not handed on: the checker keeps
// the one it had.
void UpdateSession::checkForUpdate()
{
    if (const std::optional<quint8> version = controllerLink.checkedVersion())
        updateChecker->setCurrentVersion(QString::number(*version));
    updateChecker->setUnitType(controllerLink.unitType());
    updateChecker->checkVersion();
}

void UpdateSession::checkFor(int unitType, quint8 version)
{
    updateChecker->setCurrentVersion(QString::number(version));
    updateChecker->setUnitType(unitType);
    updateChecker->checkVersion();
}

void UpdateSession::downloadFirmware()
{
    updateChecker->onNeedDownloadNewFirmware();
}

void UpdateSession::openUpdaterDownload()
{
    updateChecker->onNeedDownloadNewMainFirmware();
}

void UpdateSession::useFirmwareFile(const QString &path)
{
    firmware = { path, FirmwareFile::Source::Given };
    engine->setUpdateFileName(path);
    emit firmwareReady(firmware);
}

void UpdateSession::setFirmwarePath(const QString &path)
{
    updateChecker->setFirmwarePath(path);
}

void UpdateSession::startOrStopTransfer()
{
    if (!engine->isRunning())
        lastFailure.reset();
    engine->startOrStop();
}

void UpdateSession::stopTransfer()
{
    engine->stop();
}

UpdateResult::Holds UpdateSession::controllerHolds() const
{
    return UpdateResult::holdsAt(engine->phase(), lastFailure);
}

UpdateSession::Installation UpdateSession::installation() const
{
    return engine->path() == TransferEngine::Path::LibraryCall ? Installation::OnItsOwn : Installation::Watched;
}

// A controller that has gone leaves dead handles: they are closed before
// the faces hear of it, so that nothing uses them again and a new connect
// finds the controller anew.
void UpdateSession::onTransferFailed(TransferEngine::Failure failure)
{
    lastFailure = failure;
    if (failure == TransferEngine::Failure::ConnectionLost) {
        if (logDownloader)
            logDownloader->setDevice(nullptr, 0);
        controllerLink.close();
    }
    emit transferFailed(failure);
}

void UpdateSession::openDeviceLog()
{
    if (logDownloader)
        return;
    logDownloader = new LogDownloader(nullptr);
    logThread = new QThread;
    logDownloader->moveToThread(logThread);
    // The downloader drives itself on its own thread: each step asks for the
    // next, with no round trip through this one.
    connect(logDownloader, &LogDownloader::needwaitLogFileMd5, logDownloader, &LogDownloader::waitLogFileMd5);
    connect(logDownloader, &LogDownloader::needreadLogPart, logDownloader, &LogDownloader::readLogPart);
    connect(logDownloader, &LogDownloader::needresendMessage, logDownloader, &LogDownloader::resendMessage);
    connect(logDownloader, &LogDownloader::needdataCompleted, logDownloader, &LogDownloader::dataCompleted);
    connect(logDownloader, &LogDownloader::logDownloadProgress, this, &UpdateSession::logProgress);
    connect(logDownloader, &LogDownloader::logFileFailed, this,
            [this](const QString &reason) { logFileProblem = reason; });
    connect(logDownloader, &LogDownloader::logDownloadFinished, this, &UpdateSession::onLogFinished);
    logThread->start();
    handOverToLog();
}

void UpdateSession::startLogDownload()
{
    openDeviceLog();
    logDownloader->startDownload(1);
}

void UpdateSession::stopLogDownload()
{
    if (!logDownloader)
        return;
    logDownloader->stopTransfer();
    logDownloader->dumpFile();
}

int UpdateSession::logAnswerWaitMs()
{
    return LogDownloader::headerWaitLimitMs;
}

// A stop ends the download twice over (the stop and the closing of the
// file); a face that shows one message shows the first.
void UpdateSession::onLogFinished(bool complete)
{
    DeviceLog log;
    log.path = logDownloader->filePath();
    log.fileProblem = logFileProblem;
    if (!logFileProblem.isEmpty())
        log.end = DeviceLog::End::FileNotWritten;
    else
        log.end = complete ? DeviceLog::End::Complete : DeviceLog::End::Incomplete;
    emit logFinished(log);
}
