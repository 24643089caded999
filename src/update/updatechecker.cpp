#include "updatechecker.h"

#include <QTimer>

UpdateChecker::UpdateChecker(QObject *parent)
    : QObject(parent)
    , timeoutTimer(new QTimer(this))
    , mainBinaryUrl(QStringLiteral(TAVORO_MAIN_BINARY_PLACEHOLDER))
{
}

void UpdateChecker::setCurrentVersion(const QString &version) { currentVersion = version; }
void UpdateChecker::setUnitType(int type) { unitType = type; }
void UpdateChecker::checkVersion() {}
void UpdateChecker::onNeedDownloadNewFirmware() {}
void UpdateChecker::onNeedDownloadNewMainFirmware() {}
void UpdateChecker::downloadChangeLog() {}
void UpdateChecker::downloadMainChangeLog() {}
void UpdateChecker::exitSlot() {}
void UpdateChecker::onDataReadProgress(qlonglong, qlonglong) {}
void UpdateChecker::replyFinished() {}
void UpdateChecker::httpReadyRead() {}
void UpdateChecker::httpReadyRead2() {}
void UpdateChecker::httpReadyRead3() {}
void UpdateChecker::replyFinishedOnDone() {}
void UpdateChecker::downloadChangeLogDone() {}
void UpdateChecker::downloadMainChangeLogDone() {}
void UpdateChecker::sslErrors(QNetworkReply *, QList<QSslError>) {}
void UpdateChecker::slotAuthenticationRequired(QNetworkReply *, QAuthenticator *) {}
