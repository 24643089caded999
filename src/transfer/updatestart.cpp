// "Update Device": load the update file and start (or stop) the transfer
// timer whose ticks drive the transfer path of the connected model.

#include "transferengine.h"

#include "platform/timerresolution.h"

#include <QDebug>
#include <QTimer>

namespace {

constexpr int transferTickMs = 1;

} // namespace

void TransferEngine::startOrStop()
{
    // The report path leaves the file open between presses; open it afresh
    // so that a press after "kill timer" reads the file again instead of
    // failing to open it a second time.
    if (updateFile.isOpen())
        updateFile.close();

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
        } else {
            updateFile.close();
        }
    }
    if (!loaded) {
        emit failed(Failure::FileNotLoaded);
        transferFinished = true;
    }

    if (updateFile.isOpen())
        updateFile.seek(0);
    // The closed library is handed only the file's name and opens it itself.
    if (usesClosedLibrary())
        updateFile.close();

    if (transferTimer) {
        qDebug() << "kill timer";
        transferTimer->stop();
        delete transferTimer;
        transferTimer = nullptr;
        return;
    }

    transferTimer = new QTimer;
    transferTimer->setTimerType(Qt::PreciseTimer);
    new TimerResolution(transferTimer);
    if (usesClosedLibrary())
        connect(transferTimer, &QTimer::timeout, this, &TransferEngine::transmitSlotUTP);
    else
        connect(transferTimer, &QTimer::timeout, this, &TransferEngine::transmitSlot);
    transferTimer->start(transferTickMs);
}
