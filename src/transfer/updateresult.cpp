// The controller's verdict after a transfer and the simulated update bar.

#include "ui/mainwindow.h"

void MainWindow::resultStep() {}
void MainWindow::updateFakeProgressSlot() {}
