#include "parallelunits.h"

#include "benchsupport.h"
#include "hidsim.h"
#include "processusage.h"
#include "record/flashrecord.h"
#include "record/recordfile.h"
#include "session/unitupdate.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

namespace ParallelUnits {

namespace {

constexpr int benchUnit = 12;  // EBONY, trailing-header layout
constexpr double targetShare = 0.9;

struct RunResult
{
    int units = 0;
    qint64 idleKiB = 0;
    qint64 peakKiB = 0;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    qint64 reports = 0;
    int installed = 0;  // units that reported the update finished with the whole image
    double recordSeconds = 0;  // spent writing the record's lines, all units together
};

std::optional<RunResult> runOnce(const QString &program, int units, const QString &imageFile,
                                 const QString &recordFile = QString())
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments { QStringLiteral("--units-child"), QString::number(units), imageFile };
    if (!recordFile.isEmpty())
        arguments.append(recordFile);
    child.start(program, arguments);
    child.waitForFinished(-1);
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    if (child.exitCode() != 0 || fields.size() != 7)
        return std::nullopt;
    RunResult result;
    result.units = units;
    result.idleKiB = fields[0].toLongLong();
    result.peakKiB = fields[1].toLongLong();
    result.wallSeconds = fields[2].toDouble();
    result.cpuSeconds = fields[3].toDouble();
    result.reports = fields[4].toLongLong();
    result.installed = fields[5].toInt();
    result.recordSeconds = fields[6].toDouble();
    return result;
}

} // namespace

void printTable(const QString &program, const QList<int> &unitCounts, qint64 imageBytes)
{
    QList<int> counts = unitCounts;
    if (!counts.contains(1))
        counts.prepend(1);

    QTemporaryDir dir;
    const QString imageFile = dir.filePath(QStringLiteral("image.sb"));
    QFile file(imageFile);
    const QByteArray image = Bench::randomImage(imageBytes);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size())
        qFatal("cannot write %s", qPrintable(imageFile));
    file.close();

    QTextStream &out = Bench::out();
    const double imageKiB = double(imageBytes) / 1024;
    out << "Units in parallel, each on its own thread, writes blocking to the next 1 ms USB frame, "
        << imageBytes << "-byte image (" << (imageBytes / 60 + 2) << " reports per unit)\n"
        << "  memory: peak above the idle program with the controllers attached, per unit, less the\n"
        << "  simulator's copy of the image each controller received (one image per unit)\n"
        << "  units  reports/s  wall s  KiB/unit  x image  CPU s/unit  vs 0.9 x N x one unit\n";
    out.flush();

    double oneUnitPace = 0;
    int lastUnits = 0;  // of the last run that succeeded
    double lastRatio = 0;
    double lastBeyondImage = 0;
    for (int units : counts) {
        const auto result = runOnce(program, units, imageFile);
        if (!result) {
            out << QStringLiteral("  %1  run failed\n").arg(units, 5);
            out.flush();
            continue;
        }
        const double pace = double(result->reports) / result->wallSeconds;
        if (units == 1)
            oneUnitPace = pace;
        const double perUnitKiB = double(result->peakKiB - result->idleKiB) / units - imageKiB;
        const double ratio = oneUnitPace > 0 ? pace / (targetShare * units * oneUnitPace) : 0;
        out << QStringLiteral("  %1  %2  %3  %4  %5  %6  %7%8\n")
                   .arg(units, 5)
                   .arg(pace, 9, 'f', 0)
                   .arg(result->wallSeconds, 6, 'f', 2)
                   .arg(perUnitKiB, 8, 'f', 0)
                   .arg(perUnitKiB / imageKiB, 7, 'f', 2)
                   .arg(result->cpuSeconds / units, 10, 'f', 3)
                   .arg(ratio, 5, 'f', 2)
                   .arg(result->installed == units
                            ? QString()
                            : QStringLiteral("  (only %1 of %2 units installed)").arg(result->installed).arg(units));
        out.flush();
        lastUnits = units;
        lastRatio = ratio;
        lastBeyondImage = perUnitKiB / imageKiB - 1;
    }
    if (lastUnits == 0)
        return;
    out << QStringLiteral("  with %1 units: aggregate %2 the target of 0.9 x %1 x one unit (ratio %3); "
                          "memory beyond the image per unit %4 x image (target: below 1)\n")
               .arg(lastUnits)
               .arg(lastRatio >= 1 ? QStringLiteral("meets") : QStringLiteral("MISSES"))
               .arg(lastRatio, 0, 'f', 2)
               .arg(lastBeyondImage, 0, 'f', 2);

    // The record as a station keeps it: a line per unit, hashed, locked,
    // appended and flushed to the disk as each unit ends. Off and on in
    // turn, several times, so that a drift of the machine falls on both;
    // the medians compared. The difference is mostly the machine's noise:
    // the direct figure is the time spent writing the lines themselves,
    // against the time each unit took.
    const QString recordFile = dir.filePath(QStringLiteral("records.jsonl"));
    constexpr int rounds = 5;
    QVector<double> paceOff, paceOn;
    double recordSeconds = 0, runSeconds = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const bool recording : { false, true }) {
            const auto result = runOnce(program, lastUnits, imageFile, recording ? recordFile : QString());
            if (!result || result->wallSeconds <= 0)
                continue;
            (recording ? paceOn : paceOff).append(result->reports / result->wallSeconds);
            if (recording) {
                recordSeconds += result->recordSeconds;
                runSeconds += result->wallSeconds;
            }
        }
    }
    if (paceOff.isEmpty() || paceOn.isEmpty())
        return;
    const auto median = [](QVector<double> values) {
        std::sort(values.begin(), values.end());
        return values.size() % 2 ? values[values.size() / 2]
                                 : (values[values.size() / 2 - 1] + values[values.size() / 2]) / 2;
    };
    const double off = median(paceOff), on = median(paceOn);
    const auto [lowOff, highOff] = std::minmax_element(paceOff.cbegin(), paceOff.cend());
    const int lines = paceOn.size() * lastUnits;
    const double perLineMs = recordSeconds / lines * 1000;
    // Each unit's line is written once in its run; a unit flashes for the run's length.
    const double share = perLineMs / 1000 / (runSeconds / paceOn.size()) * 100;
    out << QStringLiteral("  with %1 units and the record, %2 runs each in turn: median %3 reports/s against %4 "
                          "without (%5 %), while runs without it spread over %6 %\n")
               .arg(lastUnits)
               .arg(paceOn.size())
               .arg(on, 0, 'f', 0)
               .arg(off, 0, 'f', 0)
               .arg((1 - on / off) * 100, 0, 'f', 2)
               .arg((*highOff - *lowOff) / off * 100, 0, 'f', 1)
           << QStringLiteral("  the record's own work: %1 ms a line (hashed, locked, appended, flushed), %2 % "
                             "of each unit's time (target: at most 1 %)\n")
               .arg(perLineMs, 0, 'f', 2)
               .arg(share, 0, 'f', 3);
    out.flush();
}

int runChild(int units, const QString &imageFile, const QString &recordFile)
{
    std::optional<RecordFile> record;
    if (!recordFile.isEmpty()) {
        QString error;
        record.emplace(recordFile);
        if (!record->open(&error))
            return 1;
    }
    HidSim::reset();
    std::vector<HidSim::Controller> controllers;
    for (int i = 0; i < units; ++i) {
        controllers.push_back(HidSim::attachModel(benchUnit));
        controllers.back()->setWritePacing(HidSim::WritePacing::UsbFrame);
    }
    // The simulator keeps a copy of every report; drop them as they come so
    // that only the program and the received images are measured.
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, [&controllers] {
        for (const HidSim::Controller &controller : controllers)
            controller->clearWrittenReports();
    });
    drain.start(50);

    // Each unit runs as a station runs it: on an update session and a
    // thread of its own.
    std::vector<std::unique_ptr<UnitUpdate>> unitUpdates;
    std::vector<qint64> completedAtNs(units, 0);
    std::vector<UpdateResult> results(units);
    int running = units;
    qint64 recordNs = 0;
    for (int i = 0; i < units; ++i) {
        const ControllerEntry entry { benchUnit, { QByteArray::fromStdString(controllers[i]->path()) } };
        unitUpdates.push_back(std::make_unique<UnitUpdate>(entry, 60, QStringLiteral("unit %1").arg(i)));
        UnitUpdate *unit = unitUpdates.back().get();
        QObject::connect(unit, &UnitUpdate::transferCompleted, qApp,
                         [&completedAtNs, i] { completedAtNs[i] = Bench::nowNs(); });
        QObject::connect(unit, &UnitUpdate::finished, qApp, [&, i, entry](const UpdateResult &result) {
            results[i] = result;
            if (record) {
                const qint64 recordStartNs = Bench::nowNs();
                FlashRecord line;
                line.started = line.ended = QDateTime::currentDateTimeUtc();
                line.unitType = entry.unitType;
                line.paths = QStringList { QString::fromLatin1(entry.paths.first()) };
                const ImageDigest digest = ImageDigest::of(result.imagePath);
                line.file = result.imagePath;
                line.size = digest.size;
                line.md5 = digest.md5;
                line.sha256 = digest.sha256;
                line.outcome = result.succeeded() ? QStringLiteral("installed") : QStringLiteral("failed");
                line.controller = UpdateResultText::holdsName(result.holds);
                line.reportsSent = result.reportsSent;
                line.reports = result.reportCount;
                QString error;
                if (!record->append(line.jsonLine(), &error))
                    std::fprintf(stderr, "record: %s\n", qPrintable(error));
                recordNs += Bench::nowNs() - recordStartNs;
            }
            if (--running == 0)
                QCoreApplication::quit();
        });
    }

    // Each engine asks for the program directory as it is made. Qt caches
    // that path on the first call without a lock: make that call here,
    // before the threads race to make it.
    QCoreApplication::applicationDirPath();

    const qint64 idle = ProcessUsage::peakRssKiB();
    const double cpuBefore = ProcessUsage::cpuSeconds();
    const qint64 startNs = Bench::nowNs();
    for (const auto &unit : unitUpdates)
        unit->start(imageFile);
    QCoreApplication::exec();
    const double cpuSeconds = ProcessUsage::cpuSeconds() - cpuBefore;
    const qint64 peak = ProcessUsage::peakRssKiB();

    qint64 lastCompletedNs = startNs;
    qint64 reports = 0;
    int installed = 0;
    QFile file(imageFile);
    const QByteArray image = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    for (int i = 0; i < units; ++i) {
        lastCompletedNs = qMax(lastCompletedNs, completedAtNs[i]);
        reports += results[i].reportsSent;
        installed += results[i].end == UpdateResult::End::Installed && controllers[i]->receivedImage() == image;
    }
    std::printf("%lld %lld %.6f %.6f %lld %d %.6f\n", static_cast<long long>(idle), static_cast<long long>(peak),
                double(lastCompletedNs - startNs) / 1e9, cpuSeconds, static_cast<long long>(reports), installed,
                double(recordNs) / 1e9);
    return 0;
}

} // namespace ParallelUnits
