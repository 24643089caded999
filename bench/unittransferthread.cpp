#include "unittransferthread.h"

#include "benchsupport.h"
#include "transfer/transferengine.h"

#include <QTimer>

UnitTransferThread::UnitTransferThread(const ControllerEntry &entry, const QString &imageFile, QObject *parent)
    : QThread(parent), entry(entry), imageFile(imageFile)
{
}

void UnitTransferThread::run()
{
    ControllerLink link;
    if (!link.connectTo(entry))
        return;
    TransferEngine engine(&link);
    engine.setUpdateFileName(imageFile);
    connect(&engine, &TransferEngine::transferCompleted, &engine, [this, &engine] {
        completedAtNs_ = Bench::nowNs();
        reportsSent_ = 1 + engine.reportCount();
    });
    connect(&engine, &TransferEngine::updateFinished, &engine, [this] {
        installed_ = true;
        quit();
    });
    connect(&engine, &TransferEngine::failed, &engine, [this] { quit(); });
    QTimer::singleShot(0, &engine, &TransferEngine::startOrStop);
    exec();
}
