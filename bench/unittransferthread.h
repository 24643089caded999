#ifndef UNITTRANSFERTHREAD_H
#define UNITTRANSFERTHREAD_H

#include "device/controllerlink.h"

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>

// One controller's whole firmware transfer on a thread of its own, as a
// flashing station runs each unit: the thread runs an update session of
// its own, whose 1 ms transfer timer lives in the thread's event loop. The
// thread ends when the controller reports the update finished or the
// transfer fails.
class UnitTransferThread : public QThread
{
public:
    UnitTransferThread(const ControllerEntry &entry, const QString &imageFile, QObject *parent = nullptr);

    // Valid once the thread has finished.
    bool installed() const { return installed_; }
    int reportsSent() const { return reportsSent_; }  // transferStart and every data report
    // When the controller had the whole image, on Bench::nowNs()'s clock.
    qint64 completedAtNs() const { return completedAtNs_; }

protected:
    void run() override;

private:
    const ControllerEntry entry;
    const QString imageFile;
    std::atomic<bool> installed_ { false };
    std::atomic<int> reportsSent_ { 0 };
    std::atomic<qint64> completedAtNs_ { 0 };
};

#endif // UNITTRANSFERTHREAD_H
