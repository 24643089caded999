// The window's answers to the update checker.

#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "update/versiontext.h"

#include <QApplication>
#include <QMessageBox>

namespace {

// Both offers use one top-level box: no title or icon, the change log
// behind the details button, Yes as the default. Escape and the close
// control answer No.
int askOffer(const QString &text, const QString &changeLog)
{
    QMessageBox box;
    box.setText(text);
    box.setInformativeText(QStringLiteral("Would you like to update to latest version?"));
    box.setDetailedText(changeLog);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec();
}

void warnUnexpectedAnswer()
{
    qErrnoWarning("%s", "Bug with avaible download window\n");
}

} // namespace

void MainWindow::onFindNewVersion(QString newVersion, QString detailText)
{
    switch (askOffer(VersionText::firmwareOffer(session->link().deviceVersion(), newVersion), detailText)) {
    case QMessageBox::Yes:
        emit needDownloadNewFirmware();
        // The bar follows the download from here on.
        ui->labelTransfer->setEnabled(true);
        ui->labelTransfer->setText(tr("Transfer: download new version"));
        ui->progressBarTransfer->setEnabled(true);
        break;
    case QMessageBox::No:
        break;
    default:
        warnUnexpectedAnswer();
        emit notNeedDownloadNewFirmware();
        break;
    }
}

void MainWindow::onFindMainNewVersion(QString newVersion, QString detailText)
{
    switch (askOffer(VersionText::updaterOffer(newVersion), detailText)) {
    case QMessageBox::Yes:
        emit needDownloadNewMainFirmware();
        break;
    case QMessageBox::No:
        break;
    default:
        warnUnexpectedAnswer();
        emit notNeedDownloadNewFirmware();
        break;
    }
}

// The image the session will send is in place: downloaded, or placed by
// hand. It is neither opened nor tested here: "Update Device" opens it.
void MainWindow::onChangeUpdateFileName(QString filename)
{
    Q_UNUSED(filename)
    ui->updateDeviceButton->setEnabled(true);
}

void MainWindow::onStartDownloadMainUpdate()
{
    QMessageBox::information(this, tr("Info"),
                             tr("Wait for download new Tavoro Updater.\n"
                                "Close program and insall new version Tavoro Updater.\n"
                                "Try again update unit."));
    QApplication::quit();
}

void MainWindow::onYouHaveLastVersion()
{
    QMessageBox::information(this, tr("Info"), tr("Your unit has the latest software"));
}

void MainWindow::onYouHaveProblem(QString msg, QString msg2)
{
    QMessageBox::critical(this, tr("Error"), VersionText::problem(msg, msg2));
    QApplication::quit();
}
