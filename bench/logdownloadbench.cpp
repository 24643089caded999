// Pace of a device log download through the window's real wiring, with a
// simulated controller that answers every request at once.
//
// Each part costs an acknowledgement, a hop through the window's thread and
// back, a 1 ms single-shot timer on the downloader's thread and a read, so
// the pace is printed beside the firing rate of an idle chain of 1 ms
// single-shot timers on a worker thread, measured in the same run before
// and after the downloads.
//
// Usage: logdownload-bench [--parts N] [--runs N]   (defaults 2000 and 3)

#include "benchsupport.h"

#include "protocol/reports.h"
#include "ui/mainwindow.h"

#include <hidsim.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QTcpServer>
#include <QTimer>

#include <memory>

namespace {

constexpr int benchUnit = 12;  // EBONY
constexpr int referenceMs = 3000;
constexpr int lastPartBytes = 20;

QByteArray patternedLog(int size)
{
    QByteArray log(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        log[i] = char(i * 7 + i / 251);
    return log;
}

struct Download
{
    double seconds = -1;
    bool fileWhole = false;
};

// One download in a fresh window: from the press of "Download log file" to
// the "Info" box that ends it.
Download downloadOnce(const QByteArray &log, Bench::BoxAnswerer &boxes)
{
    const QString dir = QCoreApplication::applicationDirPath();
    const QSet<QString> before = Bench::filesIn(dir);
    HidSim::reset();
    HidSim::Controller controller = HidSim::attachModel(benchUnit);
    controller->setLog(log);
    boxes.clear();

    Download result;
    {
        auto window = std::make_unique<MainWindow>();
        window->show();
        window->findChild<QPushButton *>(QStringLiteral("connect_button"))->click();
        auto *downloadButton = window->findChild<QPushButton *>(QStringLiteral("downloadLogFile"));
        qint64 pressedNs = 0;
        QTimer::singleShot(0, window.get(), [&] {
            pressedNs = Bench::nowNs();
            // The button is never shown; its pressed() signal is the way in.
            QMetaObject::invokeMethod(downloadButton, "pressed");
        });
        // The window ends the program after the download; one that never
        // ends must not hold the benchmark.
        QTimer giveUp;
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        giveUp.start(600000);
        const bool quit = QCoreApplication::exec() == 0;
        if (quit && boxes.count() >= 2 && boxes.texts().last().startsWith(QLatin1String("Download log file is complete")))
            result.seconds = (boxes.shownAtNs(boxes.count() - 1) - pressedNs) / 1e9;
    }
    for (const QString &name : Bench::filesIn(dir) - before) {
        if (!name.endsWith(QLatin1String("_log.enc")))
            continue;
        QFile file(QDir(dir).filePath(name));
        if (file.open(QIODevice::ReadOnly) && file.readAll() == log)
            result.fileWhole = true;
    }
    Bench::removeNewFiles(dir, before);
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::prepareProcess(true);
    QApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    const int fullParts = Bench::argumentValue(arguments, QStringLiteral("--parts"), 2000);
    const int runs = Bench::argumentValue(arguments, QStringLiteral("--runs"), 3);

    // The update check after "Connect" goes to a proxy that never answers.
    QTcpServer silentProxy;
    if (!silentProxy.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on the loopback interface");
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(silentProxy.serverPort()));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    const QByteArray log = patternedLog(fullParts * Report::logPartBytes + lastPartBytes);
    const int parts = fullParts + 1;
    Bench::BoxAnswerer boxes;
    QTextStream &out = Bench::out();
    out << "Log download, " << log.size() << " bytes in " << parts << " parts, controller answering at once\n";
    out << QStringLiteral("  idle 1 ms single-shot chain on a worker thread: %1 firings/s\n")
               .arg(Bench::singleShotChainRate(referenceMs), 0, 'f', 1);
    out.flush();
    for (int i = 0; i < runs; ++i) {
        const Download download = downloadOnce(log, boxes);
        if (download.seconds <= 0) {
            out << "  run " << i + 1 << ": the download did not finish\n";
            continue;
        }
        const double pace = parts / download.seconds;
        const double reference = Bench::singleShotChainRate(referenceMs);
        out << QStringLiteral("  run %1: %2 s, %3 parts/s, idle chain %4 firings/s, ratio %5%, %6 bytes/s%7\n")
                   .arg(i + 1)
                   .arg(download.seconds, 0, 'f', 3)
                   .arg(pace, 0, 'f', 1)
                   .arg(reference, 0, 'f', 1)
                   .arg(100.0 * pace / reference, 0, 'f', 1)
                   .arg(log.size() / download.seconds, 0, 'f', 0)
                   .arg(download.fileWhole ? QString() : QStringLiteral(" (file NOT equal to the log)"));
        out.flush();
    }
    return 0;
}
