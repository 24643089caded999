// The window's slots that only hand on to the session: kept under the
// names the window has always had, for the code that calls it by them.

#include "mainwindow.h"

// One tick of the report path; the engine's transfer timer drives it.
void MainWindow::transmitSlot()
{
    session->transferEngine()->transmitSlot();
}

// One tick of the closed library's path.
void MainWindow::transmitSlotUTP()
{
    session->transferEngine()->transmitSlotUTP();
}

// One step of the simulated update bar.
void MainWindow::updateFakeProgressSlot()
{
    session->transferEngine()->updateFakeProgressSlot();
}

// The closed library's call for the update file.
void MainWindow::executeTransferUTP()
{
    session->transferEngine()->executeTransferUTP();
}

// The log download's last step, announced to whoever listens.
void MainWindow::dataCompleted(int type)
{
    emit needDataCompleted(type);
}
