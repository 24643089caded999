#include "sessionrecorder.h"

#include "eventloop.h"

#include <QMetaEnum>

#include <algorithm>

namespace {

template<typename Enum>
QString key(Enum value)
{
    return QLatin1String(QMetaEnum::fromType<Enum>().valueToKey(int(value)));
}

} // namespace

const QStringList SessionRecorder::logEnds { "Complete", "Incomplete", "FileNotWritten" };

SessionRecorder::SessionRecorder(UpdateSession &session)
{
    const auto line = [this](const QString &name, const QStringList &values = {}) {
        lines.append(values.isEmpty() ? name : name + ' ' + values.join('|'));
    };
    using S = UpdateSession;
    connect(&session, &S::firmwareOffered, this,
            [line](const QString &offered, const QString &changeLog) { line("firmwareOffered", { offered, changeLog }); });
    connect(&session, &S::updaterOffered, this,
            [line](const QString &offered, const QString &changeLog) { line("updaterOffered", { offered, changeLog }); });
    connect(&session, &S::upToDate, this, [line] { line("upToDate"); });
    connect(&session, &S::checkFailed, this, [line](const S::CheckProblem &problem) {
        line("checkFailed", { key(problem.kind), problem.message, problem.detail });
    });
    connect(&session, &S::downloadProgress, this, [line](int percent) { line("downloadProgress", { QString::number(percent) }); });
    connect(&session, &S::firmwareReady, this,
            [line](const FirmwareFile &file) { line("firmwareReady", { key(file.source), file.path }); });
    connect(&session, &S::updaterDownloadOpened, this, [line] { line("updaterDownloadOpened"); });

    connect(&session, &S::transferStarted, this, [line] { line("transferStarted"); });
    connect(&session, &S::transferProgress, this, [line](int percent) { line("transferProgress", { QString::number(percent) }); });
    connect(&session, &S::libraryProgress, this, [line](int current, int total) {
        line("libraryProgress", { QStringLiteral("%1/%2").arg(current).arg(total) });
    });
    connect(&session, &S::transferCompleted, this,
            [line](S::Installation installation) { line("transferCompleted", { key(installation) }); });
    connect(&session, &S::installProgress, this, [line](int percent) { line("installProgress", { QString::number(percent) }); });
    connect(&session, &S::updateFinished, this,
            [line](S::Installation installation) { line("updateFinished", { key(installation) }); });
    connect(&session, &S::transferFailed, this,
            [line](TransferEngine::Failure failure) { line("transferFailed", { key(failure) }); });
    connect(&session, &S::transferStopped, this, [line] { line("transferStopped"); });

    connect(&session, &S::logProgress, this, [line](int percent) { line("logProgress", { QString::number(percent) }); });
    connect(&session, &S::logFinished, this,
            [line](const S::DeviceLog &log) { line("logFinished", { logEnds.at(int(log.end)), log.path, log.fileProblem }); });
}

QStringList SessionRecorder::starting(const QString &prefix) const
{
    QStringList result;
    for (const QString &line : lines) {
        if (line.startsWith(prefix))
            result.append(line);
    }
    return result;
}

QStringList SessionRecorder::without(const QStringList &prefixes) const
{
    QStringList result;
    for (const QString &line : lines) {
        if (std::none_of(prefixes.begin(), prefixes.end(), [&](const QString &prefix) { return line.startsWith(prefix); }))
            result.append(line);
    }
    return result;
}

bool SessionRecorder::waitFor(const QString &prefix, int timeoutMs) const
{
    return TestLoop::waitFor([&] { return !starting(prefix).isEmpty(); }, timeoutMs);
}
