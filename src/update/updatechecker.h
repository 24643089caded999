#ifndef UPDATECHECKER_H
#define UPDATECHECKER_H

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslError>
#include <QString>

class QAuthenticator;
class QNetworkReply;
class QTimer;

// Talks to the download server: fetches the version manifest, decides what
// is outdated, downloads change logs and the firmware image, and opens the
// updater's own download address.
class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    explicit UpdateChecker(QObject *parent = nullptr);

    void setCurrentVersion(const QString &version);
    void setUnitType(int type);
    void checkVersion();

signals:
    void findMainNewVersion(QString newVersion, QString changeLog);
    void findNewVersion(QString newVersion, QString changeLog);
    void youHaveLastVersion();
    void checkversionError(QString error);
    void downloadProgress(int percent);
    void newUpdateFileDownloaded(bool downloaded);
    void youHaveProblem(QString msg, QString msg2);
    void changeUpdateFileName(QString filename);
    void startDownloadMainUpdate();

public slots:
    void onNeedDownloadNewFirmware();
    void onNeedDownloadNewMainFirmware();
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
    void sslErrors(QNetworkReply *reply, QList<QSslError> errors);
    void slotAuthenticationRequired(QNetworkReply *reply, QAuthenticator *authenticator);

private:
    QTimer *timeoutTimer;
    QString mainVersion;
    QString mainBinaryUrl;
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
};

#endif // UPDATECHECKER_H
