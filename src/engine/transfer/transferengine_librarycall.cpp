// The transfer path of the MOSS controller: the engine announces the image
// with transferStart and waits for statusReady, the closed transfer library
// moves the file, and a transferEnd hands over to the result phase.

#include "transferengine.h"

#include "common/programlog.h"
#include "device/controllerlink.h"
#include "device/hidstrings.h"
#include "protocol/models.h"
#include "protocol/reports.h"
#include "libraryprogressscope.h"
#include "platform/utplibrary.h"

#include <QDebug>

void TransferEngine::transmitSlotUTP()
{
    if (!canTick())
        return;
    if (transferFinished) {
        resultStep();
        return;
    }

    // A poll that receives statusReady runs the whole library transfer.
    if (!deviceReady && !pollAccessUTP())
        return;

    if (!startSent)
        startStep();
    else if (deviceReady)
        sendTransferEndUTP();
}

bool TransferEngine::pollAccessUTP()
{
    unsigned char payload[Report::payloadSize];
    const int read = hid_read_timeout(link->device(), payload, sizeof payload, Report::readyPollTimeout);
    if (!survivesRead(read < 0 ? link->device() : nullptr, "while waiting for statusReady"))
        return false;
    if (read <= 0)
        return true;

    const quint8 status = Report::statusCode(payload, link->layout());
    if (status == Report::statusReady) {
        qDebug() << "get access from device ";
        emit transferStarted();
        if (!executeTransferUTP())
            return false;
        // Without the library nothing was sent: no transferEnd follows.
        deviceReady = !transferFinished;
        return true;
    }

    qDebug().noquote() << QString::asprintf("packet received 0x%x 0x%x 0x%x", payload[0], payload[1], payload[2]);
    failOnRefusal(status);
    return true;
}

// Blocks the tick until the library is done; the face stays responsive
// only through the library's progress callback. A stop() from there is
// acted on once the library has returned: the library still runs until
// then, and nothing may follow the stop.
bool TransferEngine::executeTransferUTP()
{
    const UtpLibrary::Lookup library = UtpLibrary::lookup();
    if (!library.update) {
        qDebug().noquote() << "closed transfer library not usable:" << library.problem;
        failAcknowledgement(Failure::LibraryMissing);
        return true;
    }

    const QString fileName = updateFile.fileName();
    const LibraryProgressScope progress(this);
    qDebug() << "updateThruUTP try";

    inLibraryCall = true;
    const int result = library.update(vendorId, modelForUnitType(mossUnitType)->productId,
                                      reinterpret_cast<const char16_t *>(fileName.utf16()),
                                      libraryLogCallback, libraryProgressCallback);
    inLibraryCall = false;

    qDebug() << "updateThruUTP result" << result;
    // Once the call has moved the file the controller holds the whole image,
    // whatever comes next: a stop, or a transferEnd that cannot be written.
    if (result == 0)
        setPhase(Phase::AwaitingVerdict);
    if (stopPending) {
        stop();
        return false;
    }
    return true;
}

void TransferEngine::sendTransferEndUTP()
{
    qDebug() << "transfer finished ";

    const QByteArray report = Report::buildTransferEnd(link->layout(), 0, nullptr, 0);
    const int written = hid_write(link->device(), reinterpret_cast<const unsigned char *>(report.constData()),
                                  size_t(report.size()));
    deviceReady = false;
    transferFinished = true;
    if (written == -1) {
        qDebug() << "report is not send ret" << written << hidText(hid_error(link->device()));
        emit failed(Failure::EndNotWritten);
        return;
    }
    setPhase(Phase::AwaitingVerdict);
}
