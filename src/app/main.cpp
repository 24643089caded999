#include "common/processsetup.h"
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
    ProcessSetup::prepare();
    // The window's geometry is fixed in pixels: on a high-dpi screen it must
    // grow with the fonts or its texts are cut off. The factor is used as the
    // screen gives it (1.25, 1.5), not rounded to 1 or 2, so that the window
    // keeps its proportions and its text is drawn at the screen's resolution.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
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
