// The result phase: after the last firmware report (or the closed library)
// the controller checks and applies the image. Each tick reads its status
// and reports the verdict; the face ends the program once the update has
// finished.

#include "transferengine.h"

#include "device/controllerlink.h"
#include "device/hidstrings.h"
#include "protocol/reports.h"

#include <QDebug>
#include <QTimer>

// In pair mode both halves must answer; the verdict is the left half's
// (secondDevice), read into the same buffer after the right half's.
void TransferEngine::resultStep()
{
    qDebug() << "waitingApplyingUpdate ";

    unsigned char payload[Report::payloadSize];
    hid_device *half = link->device();
    int read = hid_read_timeout(half, payload, sizeof payload, Report::resultReadTimeout);
    if (read > 0 && link->isPair()) {
        half = link->secondDevice();
        read = hid_read_timeout(half, payload, sizeof payload, Report::resultReadTimeout);
    }
    if (!survivesRead(read < 0 ? half : nullptr, "while applying the update") || read <= 0)
        return;

    switch (Report::statusCode(payload, link->layout())) {
    case Report::statusTransferComplete:
        setPhase(Phase::Applying);
        emit transferCompleted();
        fakeProgressActive = true;
        break;
    case Report::statusUpdateFinished:
        fakeProgressActive = false;
        setPhase(Phase::Finished);
        emit updateFinished();
        break;
    case Report::statusWrongMd5:
        setPhase(Phase::Finished);
        emit failed(Failure::WrongMd5);
        break;
    case Report::statusInternalError:
        setPhase(Phase::Finished);
        emit failed(Failure::UpdateInternalError);
        break;
    case Report::statusWrongFile:
        setPhase(Phase::Finished);
        emit failed(Failure::WrongFile);
        break;
    default:
        break;
    }
}

// The controller may come back under a new handle: the next start is a
// fresh transfer, not the continuation of this one. The phase stays: the
// face tells from it what the controller had received.
void TransferEngine::loseConnection(hid_device *half, const char *when)
{
    resetTransfer();
    qDebug() << "connection lost" << when << hidText(hid_error(half));
    emit failed(Failure::ConnectionLost);
}

// Moves the update bar by one every second call, from 0 up to 99; only the
// controller's statusUpdateFinished shows 100.
void TransferEngine::updateFakeProgressSlot()
{
    ++fakeProgressTicks;
    if (fakeProgressTicks <= 1 || fakeProgressValue > 99)
        return;
    emit updateProgress(fakeProgressValue);
    ++fakeProgressValue;
    fakeProgressTicks = 0;
}
