#ifndef UPDATECHECKER_H
#define UPDATECHECKER_H

#include "firmwarefiles.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#if QT_CONFIG(ssl)
#include <QSslError>
#endif
#include <QString>

class QAuthenticator;
class QNetworkReply;
class QTimer;
class QUrl;

// Talks to the download server: fetches the version manifest, decides what
// is outdated, downloads change logs and the firmware image, and opens the
// updater's own download address.
//
// Lives on the thread of its session: the window's, the flasher's, or a
// station's. A check is a chain of requests, each started by
// the end of the one before or by the user's answer; every failure ends in
// youHaveProblem, after which the window ends the program.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    // What went wrong, for faces that tell failures apart; the window
    // shows youHaveProblem's texts alone.
    enum class Problem {
        Connection,          // no answer, a failed reply, an unusable address, a stall, an oversize
        ManifestIncomplete,  // the manifest lacks an entry the check needs
        FirmwareNotSaved,    // the downloaded image could not be stored
    };
    Q_ENUM(Problem)

    explicit UpdateChecker(QObject *parent = nullptr);

    // The connected unit: its firmware version as decimal text of the
    // version byte, and its unit type (selects the manifest's model key).
    void setCurrentVersion(const QString &version);
    void setUnitType(int type);
    // Where the downloaded firmware is stored; the program directory's
    // "updater.sb" unless set.
    void setFirmwarePath(const QString &path);

    // Starts a check with the values set last. A hand-placed override file
    // in the program directory takes the place of the online check.
    void checkVersion();

signals:
    void findMainNewVersion(QString newVersion, QString changeLog);
    void findNewVersion(QString newVersion, QString changeLog);
    void youHaveLastVersion();
    void checkversionError(QString error);
    void downloadProgress(int percent);
    void newUpdateFileDownloaded(bool downloaded);
    void youHaveProblem(QString msg, QString msg2);
    // Emitted just before every youHaveProblem, with the kind of failure.
    void problemFound(UpdateChecker::Problem problem);
    void changeUpdateFileName(QString filename);
    // After newUpdateFileDownloaded(true): the image that is now ready.
    void firmwareReady(const FirmwareFile &file);
    void startDownloadMainUpdate();

public slots:
    void onNeedDownloadNewFirmware();      // downloads and stores the offered firmware
    void onNeedDownloadNewMainFirmware();  // opens the updater's download address
    void downloadChangeLog();
    void downloadMainChangeLog();

private slots:
    void exitSlot();
    void onDataReadProgress(qlonglong done, qlonglong total);
    void replyFinished();
    void httpReadyRead();
    void httpReadyRead2();
    void httpReadyRead3();
    void replyFinishedOnDone();
    void downloadChangeLogDone();
    void downloadMainChangeLogDone();
#if QT_CONFIG(ssl)
    void sslErrors(QNetworkReply *reply, QList<QSslError> errors);
#endif
    void slotAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    using ReplySlot = void (UpdateChecker::*)();

    // Issues a GET of `url` with the "User-Agent" header; the reply becomes
    // currentReply and its signals go to the given slots and to
    // onDataReadProgress.
    void get(const QUrl &url, ReplySlot onFinished, ReplySlot onReadyRead);

    // The request routine of the change logs and the firmware image:
    // cuts `address` (one of the address members) down to its path and
    // downloads it over plain http, or reports a connection problem when
    // the address is unusable.
    void download(QString &address, ReplySlot onFinished, ReplySlot onReadyRead);

    // The shared end of both change-log downloads; false after a failure,
    // which it has reported under `failureLogLine`.
    bool changeLogArrived(const char *failureLogLine);

    // Emits problemFound and youHaveProblem with the problem's texts.
    void reportProblem(Problem problem);

    QTimer *timeoutTimer;
    QString mainVersion;
    QString mainBinaryUrl;
    QString firmwarePath;
    QString mainChangeLogUrl;
    QString firmwareVersion;
    QString firmwareChangeLogUrl;
    QString firmwareBinaryUrl;
    QNetworkAccessManager networkManager;
    QNetworkReply *currentReply = nullptr;
    int unitType = 0;
    QString currentVersion;
    QByteArray manifestData;
    QByteArray firmwareData;
    QString changeLogText;

    // An oversized announcement is reported once per download, not at
    // every progress report.
    bool oversizeReported = false;
};

#endif // UPDATECHECKER_H
