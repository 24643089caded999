// "Update Device": load the update file and start (or stop) the transfer
// timer whose ticks drive the transfer path of the connected model; and
// the stop that ends a transfer for good.

#include "transferengine.h"

#include "device/controllerlink.h"
#include "platform/utplibrary.h"

#include "platform/timerresolution.h"

#include <QDebug>
#include <QTimer>

namespace {

constexpr int transferTickMs = 1;

} // namespace

bool TransferEngine::isRunning() const
{
    return transferTimer->isActive();
}

void TransferEngine::startOrStop()
{
    if (!transferTimer->isActive() && !link->isConnected()) {
        qDebug() << "no controller connected: the transfer does not start";
        return;
    }

    // Without its closed library a MOSS controller cannot be updated: say so
    // before anything is written to it.
    if (!transferTimer->isActive() && transferPath == Path::LibraryCall) {
        const UtpLibrary::Lookup library = UtpLibrary::lookup();
        if (!library.update) {
            qDebug().noquote() << "closed transfer library not usable:" << library.problem;
            emit failed(Failure::LibraryMissing);
            return;
        }
    }

    bool loaded = false;
    if (updateFile.open(QIODevice::ReadOnly)) {
        qDebug() << "file opened" << updateFile.fileName();
        // A file that yields fewer bytes than it holds (an I/O error, a file
        // cut short while read) must not be announced as a whole image.
        const qint64 expected = updateFile.size();
        QByteArray content = updateFile.readAll();
        if (content.size() >= expected) {
            firmwareImage = content;
            loaded = true;
        }
    }
    // The image is in memory, and the closed library opens the file itself:
    // holding it open would keep the next download from replacing it.
    updateFile.close();
    if (!loaded) {
        emit failed(Failure::FileNotLoaded);
        transferFinished = true;
    }

    if (transferTimer->isActive()) {
        qDebug() << "kill timer";
        stopTicks();
        return;
    }
    if (!startSent)
        setPhase(Phase::NothingSent);
    startTicks();
}

void TransferEngine::stop()
{
    if (inLibraryCall) {
        stopPending = true;
        return;
    }
    qDebug() << "transfer stopped";
    resetTransfer();
    emit stopped();
}

void TransferEngine::startTicks()
{
    timerResolution = std::make_unique<TimerResolution>(nullptr);
    transferTimer->start(transferTickMs);
}

void TransferEngine::stopTicks()
{
    transferTimer->stop();
    timerResolution.reset();
}

void TransferEngine::resetTransfer()
{
    stopTicks();
    startSent = false;
    deviceReady = false;
    transferFinished = false;
    fakeProgressActive = false;
    stopPending = false;
    packetIndex = 0;
    readFailures = 0;
    fakeProgressTicks = 0;
    fakeProgressValue = 0;
}
