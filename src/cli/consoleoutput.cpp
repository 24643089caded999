#include "consoleoutput.h"

#include <QCoreApplication>

#include <cerrno>

namespace {

// The live line is redrawn at most this often, unless its percentage moves.
constexpr qint64 redrawIntervalMs = 200;

} // namespace

ConsoleOutput::ConsoleOutput(bool json, bool outputIsTerminal)
    : json(json)
    , terminal(outputIsTerminal)
{
}

void ConsoleOutput::write(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void ConsoleOutput::endLiveLine()
{
    if (!liveLineOpen)
        return;
    write(stdout, "\n");
    liveLineOpen = false;
    liveLineWidth = 0;
}

void ConsoleOutput::show(const FlashEvent &event)
{
    if (json) {
        write(stdout, FlashEvents::jsonLine(event));
        return;
    }
    endLiveLine();
    write(event.isError ? stderr : stdout, event.text.toUtf8() + '\n');
}

void ConsoleOutput::showProgress(const ProgressSample &sample)
{
    if (sample.phase != phase) {
        phase = sample.phase;
        shownPercent = -1;
        shownTenth = -1;
        drawnAtMs = 0;
        endLiveLine();
    }

    if (json) {
        if (sample.percent == shownPercent)
            return;
        shownPercent = sample.percent;
        write(stdout, FlashEvents::jsonLine({ QStringLiteral("progress"), QString(),
                                              ProgressLine::json(sample), false }));
        return;
    }

    if (!terminal) {
        const int step = ProgressLine::tenth(sample.percent);
        if (step == shownTenth)
            return;
        shownTenth = step;
        write(stdout, ProgressLine::stepLine(sample).toUtf8() + '\n');
        return;
    }

    const bool moved = sample.percent != shownPercent;
    if (liveLineOpen && !moved && sample.elapsedMs - drawnAtMs < redrawIntervalMs)
        return;
    shownPercent = sample.percent;
    drawnAtMs = sample.elapsedMs;
    const QString line = ProgressLine::liveLine(sample);
    // Blanks wipe what a longer line before left.
    const QString padded = line.leftJustified(liveLineWidth);
    liveLineWidth = line.size();
    liveLineOpen = true;
    write(stdout, '\r' + padded.toUtf8());
}

ConsoleOutput::Answer ConsoleOutput::ask(const QString &question)
{
    endLiveLine();
    write(stderr, (question + QCoreApplication::translate("ConsoleOutput", " [y/N] ")).toUtf8());
    char answer[64] = {};
    errno = 0;
    if (!std::fgets(answer, sizeof answer, stdin)) {
        write(stderr, "\n");
        return errno == EINTR ? Answer::BrokenOff : Answer::No;
    }
    const QString text = QString::fromLocal8Bit(answer).trimmed().toLower();
    return text == QLatin1String("y") || text == QLatin1String("yes") ? Answer::Yes : Answer::No;
}
