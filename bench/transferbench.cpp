// Whole firmware transfers through the simulator, timed against the 1 ms
// timer that paces them.
//
// For three controllers (writes that cost nothing, writes that block until
// the next 1 ms USB frame, an occasional 5 ms write) it prints the report
// rate of the data phase, the tick rate of an idle 1 ms timer measured in
// the same run, their ratio and the CPU time per megabyte. Then, each in a
// fresh child process, it transfers a 1 MiB and a 15 MB image and prints
// the peak memory (VmHWM; on Windows the peak working set) above that of
// the idle, connected program.
// Last it times a whole "tavoro-flash update" (the demo flasher, a process
// of its own) against the idle timer in the same way.
//
// Usage: transfer-bench [--rate-bytes N] [--memory-bytes N,N,...]
// The full 15 MB transfer alone takes about four minutes: the engine sends
// one report per tick.
//
// transfer-bench --units [N,N,...] [--rate-bytes N] instead transfers the
// image to N controllers at once, each on a thread of its own
// (parallelunits.h); by default for 1, 2, 4, 8, 16 and 24 units.

#include "benchsupport.h"
#include "processusage.h"
#include "protocol/models.h"
#include "hidsim.h"
#include "parallelunits.h"
#include "platform/timerresolution.h"
#include "ui/mainwindow.h"
#include "update/firmwarefiles.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

constexpr int benchUnit = 12;  // EBONY, trailing-header layout
constexpr int idleMeasureMs = 3000;

QTextStream out(stdout);

void writeUpdateFiles(const QByteArray &image)
{
    // The update checker, when it finds the override file, points the
    // window at it; without one the window reads the default file.
    for (const QString &path : { FirmwareFiles::updateFilePath(), FirmwareFiles::overrideFilePath() }) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
            qFatal("cannot write %s", qPrintable(path));
    }
}

void removeUpdateFiles()
{
    QFile::remove(FirmwareFiles::updateFilePath());
    QFile::remove(FirmwareFiles::overrideFilePath());
}

std::unique_ptr<MainWindow> connectedWindow()
{
    auto window = std::make_unique<MainWindow>();
    window->show();
    window->findChild<QPushButton *>(QStringLiteral("connect_button"))->click();
    return window;
}

void pressUpdateDevice(MainWindow &window)
{
    auto *button = window.findChild<QPushButton *>(QStringLiteral("updateDeviceButton"));
    button->setEnabled(true);
    button->click();
}

// The idle timer is made as the transfer's is: precise, with the system
// timer at 1 ms (on Windows, which otherwise ticks 64 times a second).
double idleTimerRate()
{
    int ticks = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    const TimerResolution resolution;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    QElapsedTimer clock;
    timer.start(1);
    clock.start();
    QTimer::singleShot(idleMeasureMs, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    return ticks * 1000.0 / double(clock.nsecsElapsed() / 1e6);
}

struct RateResult
{
    double reportsPerSecond = 0;
    double cpuSecondsPerMB = 0;
    bool imageReceived = false;
};

// One whole transfer; the data phase runs from the first data report (the
// second report written) to the end report.
RateResult measureTransfer(HidSim::WritePacing pacing, const QByteArray &image)
{
    HidSim::reset();
    Bench::BoxAnswerer boxes;
    HidSim::Controller controller = HidSim::attachModel(benchUnit);
    controller->setWritePacing(pacing);
    writeUpdateFiles(image);
    auto window = connectedWindow();

    const int totalReports = 1 + image.size() / 60 + 1;
    QElapsedTimer clock;
    qint64 firstDataNs = -1;
    qint64 endNs = -1;
    double firstDataCpu = 0;
    double endCpu = 0;

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const int written = controller->writtenReports().size();
        if (firstDataNs < 0 && written >= 2) {
            firstDataNs = clock.nsecsElapsed();
            firstDataCpu = ProcessUsage::cpuSeconds();
        }
        if (endNs < 0 && written >= totalReports) {
            endNs = clock.nsecsElapsed();
            endCpu = ProcessUsage::cpuSeconds();
        }
    });
    watch.start(2);
    clock.start();
    QTimer::singleShot(0, window.get(), [&window] { pressUpdateDevice(*window); });
    QCoreApplication::exec();  // the window quits after the controller's verdict

    RateResult result;
    const double seconds = double(endNs - firstDataNs) / 1e9;
    result.reportsPerSecond = (totalReports - 2) / seconds;
    result.cpuSecondsPerMB = (endCpu - firstDataCpu) / ((totalReports - 2) * 60 / 1e6);
    result.imageReceived = controller->receivedImage() == image;
    window.reset();
    removeUpdateFiles();
    return result;
}

// Child process: connect, note the idle peak, transfer the update file
// already in place, note the peak again. Prints "idleKiB peakKiB".
int memoryChild()
{
    HidSim::reset();
    Bench::BoxAnswerer boxes;
    HidSim::Controller controller = HidSim::attachModel(benchUnit);
    auto window = connectedWindow();
    const qint64 idle = ProcessUsage::peakRssKiB();

    // The simulator keeps a copy of every report; drop them as they come so
    // that only the program and the received image are measured.
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&controller] { controller->clearWrittenReports(); });
    drain.start(100);
    QTimer::singleShot(0, window.get(), [&window] { pressUpdateDevice(*window); });
    QCoreApplication::exec();

    const qint64 peak = ProcessUsage::peakRssKiB();
    std::printf("%lld %lld %d\n", static_cast<long long>(idle), static_cast<long long>(peak),
                int(controller->receivedImage().size()));
    return 0;
}

void measureMemory(const QString &program, qint64 size)
{
    writeUpdateFiles(Bench::randomImage(size));
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, { QStringLiteral("--memory-child") });
    child.waitForFinished(-1);
    removeUpdateFiles();

    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    if (child.exitCode() != 0 || fields.size() != 3) {
        out << "  " << size << " bytes: child failed\n";
        return;
    }
    const qint64 idle = fields[0].toLongLong();
    const qint64 peak = fields[1].toLongLong();
    const qint64 received = fields[2].toLongLong();
    const double growth = double(peak - idle) * 1024;
    out << QStringLiteral("  %1 bytes: idle %2 KiB, peak %3 KiB, growth %4 KiB = %5 x image%6\n")
               .arg(size).arg(idle).arg(peak).arg(peak - idle)
               .arg(growth / double(size), 0, 'f', 2)
               .arg(received == size ? QString() : QStringLiteral(" (image NOT received whole)"));
    out.flush();
}

struct FlashRunResult
{
    double reportsPerSecond = 0;
    double wholeRunSeconds = 0;
    int exitCode = -1;
};

// "tavoro-flash update --yes --json --file IMAGE" against one simulated
// EBONY, from a program directory of its own. The data phase is timed
// between the first and the last transfer progress lines as they arrive.
FlashRunResult measureFlasher(const QByteArray &image)
{
    FlashRunResult result;
    QTemporaryDir dir;
    // The demo flasher beside this program (a benchmark directory copied to
    // the machine measured, see bench/CMakeLists.txt), else the build's.
    const QString besideThis = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                               + QFileInfo(QStringLiteral(TAVORO_FLASH_DEMO)).fileName();
    const QString demo = QFileInfo::exists(besideThis) ? besideThis : QStringLiteral(TAVORO_FLASH_DEMO);
    const QString program = dir.filePath(QFileInfo(demo).fileName());
    const QString imagePath = dir.filePath(QStringLiteral("image.sb"));
    const QString config = dir.filePath(QStringLiteral("sim.json"));
    QFile imageFile(imagePath);
    QFile configFile(config);
    if (!QFile::copy(demo, program) || !imageFile.open(QIODevice::WriteOnly)
        || imageFile.write(image) != image.size() || !configFile.open(QIODevice::WriteOnly)
        || configFile.write("{\"devices\": [{\"model\": 12}]}") < 0)
        return result;
    imageFile.close();
    configFile.close();

    QProcess flasher;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVORO_HIDSIM_CONFIG"), config);
    flasher.setProcessEnvironment(environment);
    flasher.setProcessChannelMode(QProcess::ForwardedErrorChannel);

    QElapsedTimer clock;
    qint64 firstNs = -1;
    qint64 lastNs = -1;
    int firstDone = 0;
    int lastDone = 0;
    QObject::connect(&flasher, &QProcess::readyReadStandardOutput, [&] {
        while (flasher.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(flasher.readLine()).object();
            if (event.value(QStringLiteral("phase")).toString() != QLatin1String("transfer"))
                continue;
            const int done = event.value(QStringLiteral("done")).toInt();
            if (firstNs < 0) {
                firstNs = clock.nsecsElapsed();
                firstDone = done;
            }
            lastNs = clock.nsecsElapsed();
            lastDone = done;
        }
    });
    QObject::connect(&flasher, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), qApp,
                     &QCoreApplication::quit);
    clock.start();
    flasher.start(program, { QStringLiteral("update"), QStringLiteral("--yes"), QStringLiteral("--json"),
                             QStringLiteral("--file"), imagePath });
    QCoreApplication::exec();

    result.wholeRunSeconds = double(clock.nsecsElapsed()) / 1e9;
    result.exitCode = flasher.exitCode();
    if (lastNs > firstNs)
        result.reportsPerSecond = (lastDone - firstDone) / (double(lastNs - firstNs) / 1e9);
    return result;
}

QList<qint64> parseSizes(const QString &text)
{
    QList<qint64> sizes;
    for (const QString &part : text.split(QLatin1Char(',')))
        sizes.append(part.toLongLong());
    return sizes;
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::prepareProcess(true);
    QApplication app(argc, argv);

    const QStringList arguments = app.arguments();
    if (arguments.contains(QStringLiteral("--memory-child")))
        return memoryChild();
    const int unitsChild = arguments.indexOf(QStringLiteral("--units-child"));
    if (unitsChild > 0 && unitsChild + 2 < arguments.size())
        return ParallelUnits::runChild(arguments[unitsChild + 1].toInt(), arguments[unitsChild + 2],
                                       arguments.value(unitsChild + 3));

    qint64 rateBytes = 300 * 1024;
    QList<qint64> memorySizes { 1024 * 1024, 15000000 };
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--rate-bytes"))
            rateBytes = arguments[i + 1].toLongLong();
        else if (arguments[i] == QLatin1String("--memory-bytes"))
            memorySizes = parseSizes(arguments[i + 1]);
    }

    const int units = arguments.indexOf(QStringLiteral("--units"));
    if (units > 0) {
        QList<int> unitCounts { 1, 2, 4, 8, 16, 24 };
        if (units + 1 < arguments.size() && !arguments[units + 1].startsWith(QLatin1String("--"))) {
            unitCounts.clear();
            for (qint64 count : parseSizes(arguments[units + 1]))
                unitCounts.append(int(qMax<qint64>(1, count)));
        }
        ParallelUnits::printTable(QCoreApplication::applicationFilePath(), unitCounts, rateBytes);
        return 0;
    }

    const QByteArray image = Bench::randomImage(rateBytes);
    const struct {
        HidSim::WritePacing pacing;
        const char *name;
    } controllers[] = {
        { HidSim::WritePacing::Immediate, "writes cost nothing" },
        { HidSim::WritePacing::UsbFrame, "one report per 1 ms USB frame" },
        { HidSim::WritePacing::OccasionalStall, "every 100th write takes 5 ms" },
    };

    out << "Report rate, " << rateBytes << "-byte image (" << (rateBytes / 60 + 1) << " data reports)\n";
    out.flush();
    const double idleBefore = idleTimerRate();
    out << QStringLiteral("  idle 1 ms timer: %1 ticks/s\n").arg(idleBefore, 0, 'f', 1);
    out.flush();
    for (const auto &controller : controllers) {
        const RateResult result = measureTransfer(controller.pacing, image);
        const double idle = idleTimerRate();
        out << QStringLiteral("  %1: %2 reports/s, idle timer %3 ticks/s, ratio %4%, %5 CPU s/MB%6\n")
                   .arg(QLatin1String(controller.name))
                   .arg(result.reportsPerSecond, 0, 'f', 1)
                   .arg(idle, 0, 'f', 1)
                   .arg(100.0 * result.reportsPerSecond / idle, 0, 'f', 1)
                   .arg(result.cpuSecondsPerMB, 0, 'f', 3)
                   .arg(result.imageReceived ? QString() : QStringLiteral(" (image NOT received whole)"));
        out.flush();
    }

    out << "Whole tavoro-flash update, " << rateBytes << "-byte image, writes cost nothing\n";
    out.flush();
    const FlashRunResult flash = measureFlasher(image);
    const double idleAfterFlash = idleTimerRate();
    out << QStringLiteral("  %1 reports/s, idle timer %2 ticks/s, ratio %3%, whole run %4 s, exit code %5\n")
               .arg(flash.reportsPerSecond, 0, 'f', 1)
               .arg(idleAfterFlash, 0, 'f', 1)
               .arg(100.0 * flash.reportsPerSecond / idleAfterFlash, 0, 'f', 1)
               .arg(flash.wholeRunSeconds, 0, 'f', 2)
               .arg(flash.exitCode);
    out.flush();

    out << "Peak memory above the idle connected program (VmHWM, on Windows the peak working set; includes the"
           " simulator's copy of the received image)\n";
    out.flush();
    for (qint64 size : memorySizes)
        measureMemory(QCoreApplication::applicationFilePath(), size);
    return 0;
}
