#include "updatechecker.h"

#include "common/version.h"
#include "downloadaddress.h"
#include "firmwarefiles.h"
#include "firmwarestore.h"
#include "manifest.h"
#include "urlopener.h"

#include <QAuthenticator>
#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>
#include <QtDebug>

namespace {

const char manifestUrl[] = "http://" TAVORO_DOWNLOAD_HOST "/TVDownloadSite/wp-content/uploads/versions.txt";
const char userAgent[] = "MyOwnBrowser 1.0";

constexpr int watchdogIntervalMs = 30000;
constexpr int largestManifestBytes = 10245;
constexpr qint64 largestDownloadBytes = 15000000;

const char connectionProblem[] = "Problem with internet connection";
const char savingFailed[] = "Error saving firmware to disk.";
const char savingAdvice[] = "Check the HD, connections between PC and the unit and to try the update again.";

// Log lines carry the system's last error text, as the program log expects.
void logLine(const char *text)
{
    qErrnoWarning("%s", text);
}

// Redirects are not followed, so a redirect page (like any other status
// outside 2xx) must count as a failed reply, never as a manifest, change
// log or firmware image.
bool replyFailed(const QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return true;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    return status.isValid() && (status.toInt() < 200 || status.toInt() > 299);
}

QString failureText(const QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    return QStringLiteral("HTTP status %1 %2")
        .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
        .arg(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
}

// Change logs are plain text; each chunk is decoded on its own.
QString changeLogChunk(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(bytes.constData(), nul < 0 ? bytes.size() : nul);
}

} // namespace

UpdateChecker::UpdateChecker(QObject *parent)
    : QObject(parent)
    , timeoutTimer(new QTimer(this))
    , mainBinaryUrl(QStringLiteral(TAVORO_MAIN_BINARY_PLACEHOLDER))
    , firmwarePath(FirmwareFiles::updateFilePath())
{
    connect(timeoutTimer, &QTimer::timeout, this, &UpdateChecker::exitSlot);
    connect(&networkManager, &QNetworkAccessManager::authenticationRequired,
            this, &UpdateChecker::slotAuthenticationRequired);
#if QT_CONFIG(ssl)
    connect(&networkManager, &QNetworkAccessManager::sslErrors, this, &UpdateChecker::sslErrors);
#endif
}

void UpdateChecker::setCurrentVersion(const QString &version)
{
    currentVersion = version;
}

void UpdateChecker::setFirmwarePath(const QString &path)
{
    firmwarePath = path;
}

void UpdateChecker::setUnitType(int type)
{
    unitType = type;
}

void UpdateChecker::checkVersion()
{
    qDebug() << "app path" << FirmwareFiles::programDirectory();

    const QString overrideFile = FirmwareFiles::overrideFilePath();
    if (QFile::exists(overrideFile)) {
        emit changeUpdateFileName(overrideFile);
        emit newUpdateFileDownloaded(true);
        emit firmwareReady({ overrideFile, FirmwareFile::Source::HandPlaced });
        return;
    }

    get(QUrl(QLatin1String(manifestUrl)), &UpdateChecker::replyFinished, &UpdateChecker::httpReadyRead);
    timeoutTimer->start(watchdogIntervalMs);
}

void UpdateChecker::get(const QUrl &url, ReplySlot onFinished, ReplySlot onReadyRead)
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    oversizeReported = false;
    currentReply = networkManager.get(request);
    connect(currentReply, &QNetworkReply::finished, this, onFinished);
    connect(currentReply, &QIODevice::readyRead, this, onReadyRead);
    connect(currentReply, &QNetworkReply::downloadProgress, this, &UpdateChecker::onDataReadProgress);
}

void UpdateChecker::download(QString &address, ReplySlot onFinished, ReplySlot onReadyRead)
{
    const std::optional<DownloadAddress> target = DownloadAddress::fromManifest(address);
    if (!target) {
        logLine("UpdateChecker::downloadError");
        exitSlot();
        return;
    }
    // Only the path is kept, so the same address cannot be downloaded twice.
    address = target->path;
    timeoutTimer->start(watchdogIntervalMs);
    get(target->httpUrl(), onFinished, onReadyRead);
}

void UpdateChecker::downloadChangeLog()
{
    download(firmwareChangeLogUrl, &UpdateChecker::downloadChangeLogDone, &UpdateChecker::httpReadyRead3);
}

void UpdateChecker::downloadMainChangeLog()
{
    download(mainChangeLogUrl, &UpdateChecker::downloadMainChangeLogDone, &UpdateChecker::httpReadyRead3);
}

void UpdateChecker::onNeedDownloadNewFirmware()
{
    download(firmwareBinaryUrl, &UpdateChecker::replyFinishedOnDone, &UpdateChecker::httpReadyRead2);
}

void UpdateChecker::onNeedDownloadNewMainFirmware()
{
    openDownloadAddress(mainBinaryUrl);
    emit startDownloadMainUpdate();
}

void UpdateChecker::reportProblem(Problem problem)
{
    emit problemFound(problem);
    if (problem == Problem::FirmwareNotSaved) {
        emit youHaveProblem(QLatin1String(savingFailed), QLatin1String(savingAdvice));
        return;
    }
    // The detail is present but empty: the window then ends the text with a line break.
    emit youHaveProblem(QLatin1String(connectionProblem), QLatin1String(""));
}

// Neither aborts the request nor stops the watchdog: while a request makes
// no progress, the report repeats at every time-out.
void UpdateChecker::exitSlot()
{
    logLine("UpdateChecker::exitSlot");
    reportProblem(Problem::Connection);
}

void UpdateChecker::onDataReadProgress(qlonglong done, qlonglong total)
{
    timeoutTimer->start(watchdogIntervalMs);

    if (total <= 0) {
        emit downloadProgress(100);
        return;
    }
    if (total > largestDownloadBytes && !oversizeReported) {
        oversizeReported = true;
        logLine("UpdateChecker::downloadError");
        exitSlot();
    }
    emit downloadProgress(int(done * 100 / total));
}

// The body slots below and the completion slots work on currentReply, the
// request issued last. A reply that finishes after the current one has been
// released finds none and is ignored.

void UpdateChecker::httpReadyRead()
{
    if (currentReply)
        manifestData.append(Manifest::withoutCarriageReturns(currentReply->readAll()));
}

void UpdateChecker::httpReadyRead2()
{
    if (currentReply)
        firmwareData.append(currentReply->readAll());
}

void UpdateChecker::httpReadyRead3()
{
    if (currentReply)
        changeLogText.append(changeLogChunk(currentReply->readAll()));
}

void UpdateChecker::replyFinished()
{
    timeoutTimer->stop();
    if (!currentReply)
        return;
    if (replyFailed(currentReply)) {
        logLine("Error by download info file");
        reportProblem(Problem::Connection);
        return;
    }
    // The last bytes may come without a readyRead of their own.
    httpReadyRead();

    if (manifestData.size() > largestManifestBytes)
        exitSlot();

    const Manifest::Check check = Manifest::evaluate(manifestData, unitType, currentVersion);
    if (!check.unitTypeKnown)
        qErrnoWarning("Can't recog unitType %d", unitType);
    if (check.updaterAddressRefused)
        qWarning() << "Updater address is not a web address:" << check.values.mainBinaryUrl;
    firmwareVersion = check.values.firmwareVersion;
    firmwareBinaryUrl = check.values.firmwareBinaryUrl;
    firmwareChangeLogUrl = check.values.firmwareChangeLogUrl;
    mainVersion = check.values.mainVersion;
    mainChangeLogUrl = check.values.mainChangeLogUrl;
    if (!check.updaterAddressRefused)
        mainBinaryUrl = check.values.mainBinaryUrl;

    switch (check.outcome) {
    case Manifest::Outcome::InformationMissing:
        logLine("Can't find info about version and binary file");
        reportProblem(Problem::ManifestIncomplete);
        return;
    case Manifest::Outcome::UpdaterOutdated:
        downloadMainChangeLog();
        return;
    case Manifest::Outcome::FirmwareOutdated:
    case Manifest::Outcome::UpToDate:
        break;
    }

    currentReply->deleteLater();
    currentReply = nullptr;
    manifestData.clear();
    if (check.outcome == Manifest::Outcome::FirmwareOutdated)
        downloadChangeLog();
    else
        emit youHaveLastVersion();
}

bool UpdateChecker::changeLogArrived(const char *failureLogLine)
{
    timeoutTimer->stop();
    if (!currentReply)
        return false;
    if (replyFailed(currentReply)) {
        logLine(failureLogLine);
        reportProblem(Problem::Connection);
        logLine("Error by download update file");
        emit checkversionError(failureText(currentReply));
        return false;
    }
    httpReadyRead3();
    currentReply->deleteLater();
    currentReply = nullptr;
    manifestData.clear();
    return true;
}

// The text is cleared only after the window has answered, so that a
// second change log never carries the first.
void UpdateChecker::downloadChangeLogDone()
{
    if (!changeLogArrived("UpdateChecker::downloadChangeLogDone"))
        return;
    emit findNewVersion(firmwareVersion, changeLogText);
    changeLogText.clear();
}

void UpdateChecker::downloadMainChangeLogDone()
{
    if (!changeLogArrived("UpdateChecker::downloadMainChangeLogDone"))
        return;
    emit findMainNewVersion(mainVersion, changeLogText);
    changeLogText.clear();
}

void UpdateChecker::replyFinishedOnDone()
{
    timeoutTimer->stop();
    if (!currentReply)
        return;
    if (replyFailed(currentReply)) {
        logLine("UpdateChecker::onDone");
        reportProblem(Problem::Connection);
        logLine("Error by download update file");
        emit checkversionError(failureText(currentReply));
        return;
    }
    httpReadyRead2();

    FirmwareStore store(firmwarePath);
    const bool stored = store.store(firmwareData);
    currentReply->deleteLater();
    currentReply = nullptr;
    manifestData.clear();
    firmwareData.clear();

    if (stored) {
        emit newUpdateFileDownloaded(true);
        emit firmwareReady({ firmwarePath, FirmwareFile::Source::Downloaded });
        return;
    }
    reportProblem(Problem::FirmwareNotSaved);
    qWarning().noquote() << savingFailed << store.errorString();
}

#if QT_CONFIG(ssl)
// Every certificate error is accepted. Downloads go over plain http, so this
// only matters when a proxy or the server upgrades the connection.
void UpdateChecker::sslErrors(QNetworkReply *, QList<QSslError>)
{
    if (currentReply)
        currentReply->ignoreSslErrors();
}
#endif

// No credentials are supplied: a server that asks for them ends the request
// with a reply error.
void UpdateChecker::slotAuthenticationRequired(QNetworkReply *, QAuthenticator *)
{
}
