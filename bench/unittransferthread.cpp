#include "unittransferthread.h"

#include "benchsupport.h"
#include "session/updatesession.h"

#include <QTimer>

UnitTransferThread::UnitTransferThread(const ControllerEntry &entry, const QString &imageFile, QObject *parent)
    : QThread(parent), entry(entry), imageFile(imageFile)
{
}

void UnitTransferThread::run()
{
    UpdateSession session;
    if (!session.connectTo(entry))
        return;
    connect(&session, &UpdateSession::transferCompleted, &session, [this, &session] {
        completedAtNs_ = Bench::nowNs();
        reportsSent_ = 1 + session.reportCount();
    });
    connect(&session, &UpdateSession::updateFinished, &session, [this] {
        installed_ = true;
        quit();
    });
    connect(&session, &UpdateSession::transferFailed, &session, [this] { quit(); });
    session.useFirmwareFile(imageFile);
    QTimer::singleShot(0, &session, &UpdateSession::startOrStopTransfer);
    exec();
}
