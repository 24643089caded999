// The report transfer engine: one step of the firmware transfer per tick.

#include "ui/mainwindow.h"

void MainWindow::transmitSlot() {}
void MainWindow::readyPoll() {}
void MainWindow::readyPollPair() {}
void MainWindow::startStep() {}
void MainWindow::dataStep() {}
void MainWindow::writeDataReport(const QByteArray &) {}
void MainWindow::failAcknowledgement(const QString &) {}
