// "Update Device": load the update file and start (or stop) the transfer
// timer whose ticks drive the transfer path of the connected model.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "device/models.h"

#include <QDebug>
#include <QMessageBox>
#include <QTimer>

namespace {

constexpr int transferTickMs = 1;

} // namespace

void MainWindow::updateDevice()
{
    ui->updateDeviceButton->setEnabled(false);
    ui->downloadLogFile->setEnabled(false);

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
        QMessageBox::critical(this, tr("Error"),
                              tr("File updater is not found.\nCheck the HD free space and try again."),
                              QMessageBox::Ok);
        transferFinished = 1;
    }

    if (updateFile.isOpen())
        updateFile.seek(0);
    // The closed library is handed only the file's name and opens it itself.
    if (unitType == mossUnitType)
        updateFile.close();

    if (transferTimer) {
        qDebug() << "kill timer";
        transferTimer->stop();
        delete transferTimer;
        transferTimer = nullptr;
        return;
    }

    transferTimer = new QTimer;
    if (unitType == mossUnitType)
        connect(transferTimer, &QTimer::timeout, this, &MainWindow::transmitSlotUTP);
    else
        connect(transferTimer, &QTimer::timeout, this, &MainWindow::transmitSlot);
    transferTimer->start(transferTickMs);
}
