// Time from starting the program to its window on screen.
//
// Each run starts this benchmark again as a fresh process that does what
// the program's entry does (text codec, system proxy, program log, "program
// started", the main window, shown) and stops at the window's first paint.
// The parent prints the wall time from starting the process to that paint,
// and the child's own split of it: from main() to the application object,
// to the window constructed, to the first paint.
//
// Usage: startup-bench [--runs N]     (default 10; QT_QPA_PLATFORM defaults
// to offscreen)

#include "benchsupport.h"

#include "common/programlog.h"
#include "common/version.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QNetworkProxyFactory>
#include <QProcess>
#include <QTextCodec>
#include <QTimer>
#include <QtDebug>

#include <cstdio>
#include <memory>

namespace {

constexpr char childArgument[] = "--child";
constexpr char shownMarker[] = "window shown after";

// Quits at the first paint of the watched window.
class FirstPaint : public QObject
{
public:
    explicit FirstPaint(QElapsedTimer &clock) : clock(clock) {}
    qint64 atNs = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && atNs < 0) {
            atNs = clock.nsecsElapsed();
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QElapsedTimer &clock;
};

// The program's entry up to the shown window, timed.
int child(int argc, char *argv[])
{
    QElapsedTimer clock;
    clock.start();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("CP1251"));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    QApplication app(argc, argv);
    const qint64 appNs = clock.nsecsElapsed();
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "program started";

    auto window = std::make_unique<MainWindow>();
    window->setWindowTitle(QStringLiteral("Tavoro updater v. ") + QString::number(updaterVersion));
    const qint64 constructedNs = clock.nsecsElapsed();
    FirstPaint paint(clock);
    window->installEventFilter(&paint);
    window->show();
    app.exec();

    // The program log mirrors to standard output; this line stands apart.
    std::printf("%s %lld %lld %lld\n", shownMarker, static_cast<long long>(appNs),
                static_cast<long long>(constructedNs), static_cast<long long>(paint.atNs));
    std::fflush(stdout);
    window.reset();
    return 0;
}

struct Run
{
    double wallMs = -1;   // process start to first paint, seen by the parent
    double appMs = -1;    // the child's own split, from main()
    double windowMs = -1;
    double paintMs = -1;
};

Run startOnce(const QString &program)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QElapsedTimer clock;
    Run run;
    clock.start();
    process.start(program, { QLatin1String(childArgument) });
    QByteArray output;
    while (process.waitForReadyRead(30000)) {
        output += process.readAllStandardOutput();
        if (output.contains(shownMarker) && output.endsWith('\n')) {
            run.wallMs = clock.nsecsElapsed() / 1e6;
            break;
        }
    }
    process.waitForFinished(30000);
    output += process.readAllStandardOutput();
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith(shownMarker))
            continue;
        const QList<QByteArray> fields = line.mid(int(sizeof shownMarker)).split(' ');
        if (fields.size() == 3) {
            run.appMs = fields[0].toLongLong() / 1e6;
            run.windowMs = fields[1].toLongLong() / 1e6;
            run.paintMs = fields[2].toLongLong() / 1e6;
        }
    }
    return run;
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::prepareProcess(false);
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], childArgument) == 0)
            return child(argc, argv);
    }

    QCoreApplication app(argc, argv);
    const int runs = Bench::argumentValue(app.arguments(), QStringLiteral("--runs"), 10);

    // The child is the program: its program log and device log file land
    // beside this executable and are removed after each run.
    const QString dir = QCoreApplication::applicationDirPath();
    const QSet<QString> before = Bench::filesIn(dir);
    QList<double> wall, toApp, toWindow, toPaint;
    int failed = 0;
    for (int i = 0; i < runs; ++i) {
        const Run run = startOnce(QCoreApplication::applicationFilePath());
        Bench::removeNewFiles(dir, before);
        if (run.wallMs < 0 || run.paintMs < 0) {
            ++failed;
            continue;
        }
        wall.append(run.wallMs);
        toApp.append(run.appMs);
        toWindow.append(run.windowMs);
        toPaint.append(run.paintMs);
    }

    QTextStream &out = Bench::out();
    out << "Start to window shown (" << qgetenv("QT_QPA_PLATFORM") << "), fresh process per run\n";
    out << "  process start to first paint: " << Bench::summary(wall) << "\n";
    out << "  in the process, main() to application object: " << Bench::summary(toApp) << "\n";
    out << "  main() to window constructed: " << Bench::summary(toWindow) << "\n";
    out << "  main() to first paint: " << Bench::summary(toPaint) << "\n";
    if (failed)
        out << "  " << failed << " runs showed no window\n";
    out.flush();
    return 0;
}
