#include "common/programlog.h"
#include "common/version.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QNetworkProxyFactory>
#include <QTextCodec>
#include <QtDebug>

#include <memory>

int main(int argc, char *argv[])
{
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("CP1251"));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    QApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "program started";

    auto window = std::make_unique<MainWindow>();
    window->setWindowTitle(QStringLiteral("Tavoro updater v. ") + QString::number(updaterVersion));
    window->show();
    const int exitCode = app.exec();
    window.reset();
    return exitCode;
}
