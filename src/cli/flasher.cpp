#include "flasher.h"

#include "filecopy.h"

#include "protocol/models.h"
#include "devlog/logdownloader.h"
#include "update/firmwarefiles.h"
#include "update/updatechecker.h"
#include "update/versiontext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QtDebug>

#include <chrono>

namespace {

// A log download that moves no further for this long has stalled: the
// downloader's header wait gives up after 15 s, but a part read that times
// out leaves it halted without a word.
constexpr int logStallMs = LogDownloader::headerWaitLimitMs + 5000;

QString pathText(const QByteArray &path)
{
    return QString::fromLocal8Bit(path);
}

// Why `link` could not open its controller: hidapi's reason, where it
// gave one.
QString openFailure(const ControllerLink &link)
{
    return link.lastOpenError().isEmpty() ? Flasher::tr("no answer") : link.lastOpenError();
}

} // namespace

Flasher::Flasher(const FlashRequest &request, bool canAsk, QObject *parent)
    : QObject(parent)
    , request(request)
    , canAsk(canAsk)
{
}

// The worker thread goes first, then what it may have been using; the
// link, a member, closes the controller last.
Flasher::~Flasher()
{
    if (logThread) {
        logDownloader->deleteLater();
        logThread->requestInterruption();
        logThread->quit();
        logThread->wait();
        delete logThread;
    }
    delete engine;
    delete checker;
}

void Flasher::start()
{
    qDebug().noquote() << "flasher started:" << QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));

    if (request.command == FlashRequest::Command::List) {
        list();
        return;
    }
    if (request.command == FlashRequest::Command::Update && !request.yes && !canAsk) {
        finish(ExitCode::NotConfirmed, QStringLiteral("not-confirmed"),
               tr("Nothing done: an update needs confirmation, and there is no terminal to ask on; add --yes."));
        return;
    }
    if (request.command == FlashRequest::Command::Update && !request.file.isEmpty()
        && !QFileInfo(request.file).isFile()) {
        finish(ExitCode::FileProblem, QStringLiteral("file-problem"),
               tr("No firmware file at %1: check the path given to --file.").arg(request.file));
        return;
    }
    if (request.command == FlashRequest::Command::Update && !request.file.isEmpty()
        && QFileInfo(request.file).size() == 0) {
        finish(ExitCode::FileProblem, QStringLiteral("file-problem"),
               tr("The firmware file %1 is empty: check the path given to --file.").arg(request.file));
        return;
    }
    if (!openController())
        return;

    switch (request.command) {
    case FlashRequest::Command::Check:
        startCheck();
        break;
    case FlashRequest::Command::Update:
        if (request.file.isEmpty())
            startCheck();
        else
            askToSend(tr("Send %1 to the %2?").arg(request.file, controllerName()));
        break;
    case FlashRequest::Command::Log:
        startLog();
        break;
    default:
        break;
    }
}

// Listing.

ControllerSummary Flasher::summaryOf(const ControllerEntry &entry, const ControllerLink &opened) const
{
    ControllerSummary summary;
    const ModelInfo *model = modelForUnitType(entry.unitType);
    summary.model = model ? QLatin1String(model->name) : QString::number(entry.unitType);
    summary.unitType = entry.unitType;
    summary.paths = entry.paths;
    if (opened.isConnected()) {
        summary.version = opened.shownVersion();
    } else {
        summary.openError = openFailure(opened);
    }
    return summary;
}

QString Flasher::showControllers(const QList<ControllerEntry> &entries)
{
    QString firstFailure;
    for (const ControllerEntry &entry : entries) {
        ControllerLink probe;
        probe.connectTo(entry);
        const ControllerSummary summary = summaryOf(entry, probe);
        if (firstFailure.isEmpty() && !summary.openError.isEmpty())
            firstFailure = tr("%1 (%2)").arg(pathText(entry.paths.first()), summary.openError);
        emit event(FlashEvents::controller(summary));
    }
    return firstFailure;
}

void Flasher::list()
{
    const QList<ControllerEntry> entries = ControllerLink::attachedControllers();
    const QString firstFailure = showControllers(entries);
    if (entries.isEmpty()) {
        finishNoController();
    } else if (!firstFailure.isEmpty()) {
        finish(ExitCode::NoAccess, QStringLiteral("no-access"),
               tr("Cannot open the controller at %1: %2.").arg(firstFailure, Outcomes::accessAdvice()));
    } else {
        finish(ExitCode::Success, QStringLiteral("listed"),
               tr("%n controller(s) attached.", nullptr, int(entries.size())));
    }
}

bool Flasher::openController()
{
    const QList<ControllerEntry> entries = ControllerLink::attachedControllers();
    QList<ControllerEntry> matching;
    for (const ControllerEntry &entry : entries) {
        if (request.device.isEmpty() || entry.paths.contains(request.device.toLocal8Bit()))
            matching.append(entry);
    }

    if (matching.isEmpty()) {
        if (!request.device.isEmpty() && !entries.isEmpty()) {
            finish(ExitCode::NoController, QStringLiteral("no-controller"),
                   tr("No controller at %1: run tavoro-flash list to see the attached ones.").arg(request.device));
        } else {
            finishNoController();
        }
        return false;
    }
    if (matching.size() > 1) {
        // The choice is the user's, never a guess.
        showControllers(matching);
        finish(ExitCode::SeveralControllers, QStringLiteral("several-controllers"),
               tr("%1 controllers are attached: choose one with --device PATH (the paths are listed above).")
                   .arg(matching.size()));
        return false;
    }

    selected = matching.first();
    if (!link.connectTo(selected)) {
        finish(ExitCode::NoAccess, QStringLiteral("no-access"),
               tr("Cannot open the controller at %1 (%2): %3.")
                   .arg(pathText(selected.paths.first()), openFailure(link), Outcomes::accessAdvice()));
        return false;
    }
    emit event(FlashEvents::controller(summaryOf(selected, link)));
    return true;
}

QString Flasher::controllerName() const
{
    const ModelInfo *model = modelForUnitType(selected.unitType);
    return tr("%1 at %2 (firmware %3)")
        .arg(model ? QLatin1String(model->name) : QString(), pathText(selected.paths.first()),
             FlashEvents::firmwareText(link.shownVersion()));
}

// The update check, as the window's Connect starts it.

void Flasher::startCheck()
{
    stage = Stage::Checking;
    checker = new UpdateChecker;
    connect(checker, &UpdateChecker::findNewVersion, this, &Flasher::onFirmwareOffer);
    connect(checker, &UpdateChecker::findMainNewVersion, this, &Flasher::onUpdaterOffer);
    connect(checker, &UpdateChecker::youHaveLastVersion, this, &Flasher::onUpToDate);
    connect(checker, &UpdateChecker::problemFound, this, &Flasher::onCheckProblem);
    connect(checker, &UpdateChecker::changeUpdateFileName, this, [this](const QString &path) { overridePath = path; });
    connect(checker, &UpdateChecker::newUpdateFileDownloaded, this, [this](bool ready) {
        if (ready)
            onUpdateFileReady();
    });
    connect(checker, &UpdateChecker::downloadProgress, this, [this](int percent) {
        if (stage == Stage::Downloading)
            emitProgress(QStringLiteral("download"), percent);
    });

    if (const std::optional<quint8> version = link.checkedVersion())
        checker->setCurrentVersion(QString::number(*version));
    checker->setUnitType(link.unitType());
    checker->checkVersion();
}

void Flasher::onFirmwareOffer(const QString &offered, const QString &changeLog)
{
    if (stage != Stage::Checking)
        return;
    emit event(FlashEvents::firmwareOffer(link.shownVersion(), VersionText::offeredNumber(offered), changeLog));
    if (request.command == FlashRequest::Command::Check) {
        finish(ExitCode::FirmwareAvailable, QStringLiteral("firmware-available"),
               tr("Newer firmware is available: run tavoro-flash update to install it."));
        return;
    }
    askToSend(tr("Download firmware %1 and install it on the %2?")
                  .arg(VersionText::firmware(VersionText::offeredNumber(offered)), controllerName()));
}

void Flasher::onUpdaterOffer(const QString &offered, const QString &changeLog)
{
    if (stage != Stage::Checking)
        return;
    emit event(FlashEvents::updaterOffer(VersionText::offeredNumber(offered), changeLog));
    finish(ExitCode::NewerUpdater, QStringLiteral("newer-updater"),
           tr("Install the newer Tavoro updater first, then run again."));
}

void Flasher::onUpToDate()
{
    if (stage != Stage::Checking)
        return;
    emit event(FlashEvents::upToDate(link.shownVersion()));
    finish(ExitCode::Success, QStringLiteral("up-to-date"),
           request.command == FlashRequest::Command::Update ? tr("Nothing to install.") : tr("Nothing to do."));
}

void Flasher::onCheckProblem(UpdateChecker::Problem problem)
{
    if (stage != Stage::Checking && stage != Stage::Downloading)
        return;
    switch (problem) {
    case UpdateChecker::Problem::Connection:
        finish(ExitCode::ServerUnreachable, QStringLiteral("server-unreachable"),
               tr("Cannot reach the download server %1: check the internet connection (and the http_proxy "
                  "setting), then run again.").arg(QStringLiteral(TAVORO_DOWNLOAD_HOST)));
        return;
    case UpdateChecker::Problem::ManifestIncomplete:
        finish(ExitCode::ManifestIncomplete, QStringLiteral("manifest-incomplete"),
               tr("The download server %1 answered, but its version list lacks an entry for this controller or "
                  "the updater: try again later, or report it to Tavoro support.")
                   .arg(QStringLiteral(TAVORO_DOWNLOAD_HOST)));
        return;
    case UpdateChecker::Problem::FirmwareNotSaved:
        finish(ExitCode::FileProblem, QStringLiteral("file-problem"),
               tr("Cannot save the firmware in %1: check free space and write access there, then run again.")
                   .arg(FirmwareFiles::programDirectory()));
        return;
    }
}

// With the hand-placed override file the check offers no version: the
// file is taken as it is, after the same confirmation.
void Flasher::onUpdateFileReady()
{
    if (stage == Stage::Checking && !overridePath.isEmpty()) {
        emit event(FlashEvents::overrideFile(overridePath));
        if (request.command == FlashRequest::Command::Check) {
            finish(ExitCode::FirmwareAvailable, QStringLiteral("firmware-available"),
                   tr("An update file is in place: run tavoro-flash update to install it."));
            return;
        }
        askToSend(tr("Send %1 to the %2?").arg(overridePath, controllerName()));
        return;
    }
    if (stage != Stage::Downloading)
        return;
    emit event(FlashEvents::firmwareStored(FirmwareFiles::updateFilePath()));
    startTransfer(FirmwareFiles::updateFilePath());
}

// Confirmation, then the transfer.

void Flasher::askToSend(const QString &question)
{
    stage = Stage::Confirming;
    if (request.yes) {
        confirm(true);
        return;
    }
    emit confirmationNeeded(question);
}

void Flasher::confirm(bool yes)
{
    if (stage != Stage::Confirming)
        return;
    if (!yes) {
        finish(ExitCode::NotConfirmed, QStringLiteral("not-confirmed"),
               tr("Nothing done: the update was not confirmed. The controller was not touched."));
        return;
    }
    if (!request.file.isEmpty()) {
        startTransfer(request.file);
    } else if (!overridePath.isEmpty()) {
        startTransfer(overridePath);
    } else {
        stage = Stage::Downloading;
        phaseClock.start();
        checker->onNeedDownloadNewFirmware();
    }
}

void Flasher::startTransfer(const QString &path)
{
    stage = Stage::Transferring;
    updateFilePath = path;
    engine = new TransferEngine(&link);
    engine->setUpdateFileName(path);
    connect(engine, &TransferEngine::transferStarted, this, &Flasher::announceTransfer);
    connect(engine, &TransferEngine::transferProgress, this, [this](int percent) {
        announceTransfer();
        emitProgress(QStringLiteral("transfer"), percent, engine->reportsSent(), engine->reportCount());
    });
    connect(engine, &TransferEngine::libraryProgress, this, [this](int current, int total) {
        if (total > 0)
            emitProgress(QStringLiteral("transfer"), int(qint64(current) * 100 / total));
    });
    // The engine reports progress before each report, so never 100 %; the
    // controller's word that it has the whole image is the 100 %.
    connect(engine, &TransferEngine::transferCompleted, this, [this] {
        if (stage != Stage::Transferring)
            return;
        if (!engine->usesClosedLibrary())
            emitProgress(QStringLiteral("transfer"), 100, engine->reportCount(), engine->reportCount());
        phaseClock.start();
        emit event(FlashEvents::transferCompleted());
    });
    connect(engine, &TransferEngine::updateProgress, this, [this](int percent) {
        if (stage == Stage::Transferring && engine->phase() == TransferEngine::Phase::Applying)
            emitProgress(QStringLiteral("install"), percent);
    });
    connect(engine, &TransferEngine::updateFinished, this, [this] {
        if (engine->usesClosedLibrary()) {
            finish(ExitCode::Success, QStringLiteral("installing"),
                   tr("The controller installs the update on its own now: do not power it off until it has finished."));
            return;
        }
        emitProgress(QStringLiteral("install"), 100);
        finish(ExitCode::Success, QStringLiteral("installed"),
               tr("Update installed. Disconnect the controller (or power it off) and reconnect it: "
                  "it then runs the new firmware."));
    });
    connect(engine, &TransferEngine::failed, this, &Flasher::onTransferFailed);
    connect(engine, &TransferEngine::phaseChanged, this, &Flasher::onTransferPhase);
    connect(engine, &TransferEngine::stopped, this, [this] { finish(Outcomes::interrupted(engine->phase())); });

    verdictWatchdog = new QTimer(this);
    verdictWatchdog->setSingleShot(true);
    verdictWatchdog->setInterval(std::chrono::seconds(request.timeoutSeconds));
    connect(verdictWatchdog, &QTimer::timeout, this, [this] {
        finish(Outcomes::noVerdict(request.timeoutSeconds));
        engine->stop();
    });
    engine->startOrStop();
}

// The wait for the verdict starts once the controller has the whole image.
void Flasher::onTransferPhase(TransferEngine::Phase phase)
{
    if (phase == TransferEngine::Phase::AwaitingVerdict && stage == Stage::Transferring)
        verdictWatchdog->start();
}

// The engine says the controller is ready for a single unit, not for a
// pair: the first data report then tells it.
void Flasher::announceTransfer()
{
    if (transferAnnounced)
        return;
    transferAnnounced = true;
    phaseClock.start();
    emit event(FlashEvents::transferStarted(updateFilePath, engine->reportCount()));
}

void Flasher::onTransferFailed(TransferEngine::Failure failure)
{
    if (stage != Stage::Transferring)
        return;
    finish(Outcomes::transferFailed(failure, engine->phase(), updateFilePath));
}

// The device log, as the window's hidden "Download log file" fetches it.

void Flasher::startLog()
{
    if (link.isPair()) {
        finish(ExitCode::NotSupported, QStringLiteral("not-supported"),
               tr("The log of a two-unit controller cannot be downloaded: connect a single-unit controller."));
        return;
    }
    stage = Stage::LogDownload;
    phaseClock.start();
    logDownloader = new LogDownloader(nullptr);
    logThread = new QThread;
    logDownloader->moveToThread(logThread);
    // The downloader drives itself on its own thread; the acknowledgements
    // need no round trip through this one.
    connect(logDownloader, &LogDownloader::needwaitLogFileMd5, logDownloader, &LogDownloader::waitLogFileMd5);
    connect(logDownloader, &LogDownloader::needreadLogPart, logDownloader, &LogDownloader::readLogPart);
    connect(logDownloader, &LogDownloader::needresendMessage, logDownloader, &LogDownloader::resendMessage);
    connect(logDownloader, &LogDownloader::needdataCompleted, logDownloader, &LogDownloader::dataCompleted);
    connect(logDownloader, &LogDownloader::logDownloadProgress, this, [this](int percent) {
        logWatchdog->start();
        emitProgress(QStringLiteral("log"), percent);
    });
    connect(logDownloader, &LogDownloader::logFileFailed, this, [this](const QString &reason) {
        logFileProblem = reason;
    });
    connect(logDownloader, &LogDownloader::logDownloadFinished, this, &Flasher::onLogFinished);

    logWatchdog = new QTimer(this);
    logWatchdog->setSingleShot(true);
    logWatchdog->setInterval(logStallMs);
    connect(logWatchdog, &QTimer::timeout, logDownloader, &LogDownloader::stopTransfer);

    logThread->start();
    logDownloader->setDevice(link.device(), link.unitType());
    logWatchdog->start();
    logDownloader->startDownload(1);
}

void Flasher::onLogFinished(bool complete)
{
    if (stage != Stage::LogDownload)
        return;
    logWatchdog->stop();
    const QString path = logDownloader->filePath();
    if (!logFileProblem.isEmpty()) {
        finish(ExitCode::FileProblem, QStringLiteral("file-problem"),
               tr("Cannot write the device log %1 (%2): check free space and write access there, then run again.")
                   .arg(path, logFileProblem));
        return;
    }
    if (stopRequested) {
        finish(ExitCode::Interrupted, QStringLiteral("interrupted"),
               tr("Stopped. The part of the log received so far is in %1.").arg(path));
        return;
    }
    if (!complete) {
        finish(ExitCode::LogIncomplete, QStringLiteral("log-incomplete"),
               tr("The controller did not send its whole log: reconnect it and run log again "
                  "(the part received is in %1).").arg(path));
        return;
    }
    emit event(FlashEvents::logSaved(path));
    if (!request.output.isEmpty()) {
        const QString copyFailure = FileCopy::copyReplacing(path, request.output);
        if (!copyFailure.isEmpty()) {
            finish(ExitCode::FileProblem, QStringLiteral("file-problem"),
                   tr("Cannot write %1 (%2), which is left as it was: check the path, free space and write "
                      "access; the log is in %3.").arg(request.output, copyFailure, path));
            return;
        }
        emit event(FlashEvents::logSaved(request.output));
    }
    finish(ExitCode::Success, QStringLiteral("log-downloaded"),
           tr("Device log downloaded (%n byte(s)).", nullptr, int(QFileInfo(path).size())));
}

// Ctrl+C.

void Flasher::interrupt()
{
    switch (stage) {
    case Stage::Done:
        return;
    case Stage::Idle:
    case Stage::Checking:
    case Stage::Confirming:
    case Stage::Downloading:
        finish(ExitCode::Interrupted, QStringLiteral("interrupted"),
               tr("Stopped. The controller was not touched."));
        return;
    case Stage::Transferring:
        // Ends through the engine's stopped(), which comes after the closed
        // library's call when it runs.
        engine->stop();
        return;
    case Stage::LogDownload:
        // Ends in onLogFinished(), once the downloader has closed the file.
        stopRequested = true;
        logDownloader->stopTransfer();
        return;
    }
}

void Flasher::emitProgress(const QString &phase, int percent, int done, int total)
{
    emit progress({ phase, percent, done, total, phaseClock.isValid() ? phaseClock.elapsed() : 0 });
}

void Flasher::finishNoController()
{
    finish(ExitCode::NoController, QStringLiteral("no-controller"),
           tr("No Tavoro controller found: connect one over USB and run again."));
}

void Flasher::finish(const Outcome &outcome)
{
    finish(outcome.code, outcome.name, outcome.message);
}

void Flasher::finish(ExitCode code, const QString &outcome, const QString &message)
{
    if (stage == Stage::Done)
        return;
    stage = Stage::Done;
    if (logWatchdog)
        logWatchdog->stop();
    if (verdictWatchdog)
        verdictWatchdog->stop();
    qDebug().noquote() << "flasher result" << int(code) << message;
    emit event(FlashEvents::result(code, outcome, message));
    emit finished(int(code));
}
