// The window's side of the device log download.

#include "ui/mainwindow.h"

void MainWindow::on_downloadLogFile_pressed() {}
void MainWindow::on_stopDownloadingFile_pressed() {}
void MainWindow::dataCompleted(int type) { emit needDataCompleted(type); }
void MainWindow::onLogDownloadFinished() {}
