// The result phase: after the last firmware report (or the closed library)
// the controller checks and applies the image. Each tick reads its status,
// shows the verdict and, once the update has finished, ends the program.

#include "ui/mainwindow.h"
#include "ui_mainwindow.h"

#include "device/hidstrings.h"
#include "device/models.h"
#include "device/reports.h"

#include <QCoreApplication>
#include <QDebug>
#include <QMessageBox>
#include <QTimer>

// In pair mode both halves must answer; the verdict is the left half's
// (secondDevice), read into the same buffer after the right half's.
void MainWindow::resultStep()
{
    qDebug() << "waitingApplyingUpdate ";

    unsigned char payload[Report::payloadSize];
    hid_device *half = device;
    int read = hid_read_timeout(half, payload, sizeof payload, Report::resultReadTimeout);
    if (read > 0 && pairMode == pairModeOn) {
        half = secondDevice;
        read = hid_read_timeout(half, payload, sizeof payload, Report::resultReadTimeout);
    }
    // A controller that has gone fails every read at once instead of
    // waiting: two failures in a row end the phase rather than spinning.
    if (read < 0) {
        if (++resultReadFailures >= 2)
            loseConnection(half);
        return;
    }
    resultReadFailures = 0;
    if (read == 0)
        return;

    const bool utpPath = unitType == mossUnitType;
    switch (Report::statusCode(payload, { commandOffset, dataOffset })) {
    case Report::statusTransferComplete:
        ui->progressBarTransfer->setValue(100);
        ui->progressBarTransfer->setEnabled(false);
        ui->labelTransfer->setText(tr("Transfer: completed"));
        ui->labelTransfer->setEnabled(false);
        if (!utpPath)
            ui->progressBarUpdate->setEnabled(true);
        ui->labelUpdate->setEnabled(true);
        ui->labelUpdate->setText(tr("Update: in progress. Do not power off device!"));
        fakeProgressActive = 1;
        break;
    case Report::statusUpdateFinished:
        fakeProgressActive = 0;
        if (utpPath) {
            QMessageBox::information(this, tr("Info"),
                tr("Updating started, please close program, and wait for device updating automatically finished.\n"
                   "Please do NOT power off device until updating finished."),
                QMessageBox::Ok);
        } else {
            ui->progressBarUpdate->setValue(100);
            ui->progressBarUpdate->setEnabled(false);
            ui->labelUpdate->setText(tr("Update: finished"));
            ui->labelUpdate->setEnabled(false);
            QMessageBox::information(this, tr("Info"),
                tr("Update installed correctly, please close program, and disconnect/power off your controller.\n"
                   "When reconnected/power ON your device will have the latest software."),
                QMessageBox::Ok);
        }
        QCoreApplication::quit();
        break;
    case Report::statusWrongMd5:
        QMessageBox::critical(this, tr("Error"),
            tr("Transfer failed. Wrong md5.\nCheck the connections between PC and the unit and to try the update again."),
            QMessageBox::Ok);
        break;
    case Report::statusInternalError:
        QMessageBox::critical(this, tr("Error"), tr("Updating failed.\nDevice internal error."), QMessageBox::Ok);
        break;
    case Report::statusWrongFile:
        QMessageBox::critical(this, tr("Error"),
            tr("Updating failed. Wrong file or some internal error.\n"
               "Check the connections between PC and the unit and to try the update again."),
            QMessageBox::Ok);
        break;
    default:
        break;
    }
}

void MainWindow::loseConnection(hid_device *half)
{
    if (transferTimer)
        transferTimer->stop();
    fakeProgressActive = 0;
    qDebug() << "connection lost while applying the update" << hidText(hid_error(half));
    QMessageBox::critical(this, tr("Error"),
        tr("The connection with the controller was lost while it was applying the update, so the result is "
           "unknown.\nReconnect the controller and press Connect to read its version."),
        QMessageBox::Ok);
}

// Moves the update bar by one every second call, from 0 up to 99; only the
// controller's statusUpdateFinished shows 100.
void MainWindow::updateFakeProgressSlot()
{
    ++fakeProgressTicks;
    if (fakeProgressTicks <= 1 || fakeProgressValue > 99)
        return;
    ui->progressBarUpdate->setValue(fakeProgressValue);
    ++fakeProgressValue;
    fakeProgressTicks = 0;
}
