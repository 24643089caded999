// The transfer path of the model updated through the closed library.

#include "ui/mainwindow.h"

void MainWindow::transmitSlotUTP() {}
void MainWindow::pollAccessUTP() {}
void MainWindow::executeTransferUTP() {}
void MainWindow::sendTransferEndUTP() {}
