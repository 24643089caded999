// The window's answers to the update checker.

#include "mainwindow.h"

void MainWindow::onFindNewVersion(QString, QString) {}
void MainWindow::onFindMainNewVersion(QString, QString) {}
void MainWindow::onChangeUpdateFileName(QString filename) { updateFile.setFileName(filename); }
void MainWindow::onStartDownloadMainUpdate() {}
void MainWindow::onYouHaveLastVersion() {}
void MainWindow::onYouHaveProblem(QString, QString) {}
