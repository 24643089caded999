#include "console/consoleoutput.h"

#include "console/terminal.h"

#include <QCoreApplication>

namespace {

// The live line is redrawn at most this often, unless its percentage moves.
constexpr qint64 redrawIntervalMs = 200;

} // namespace

ConsoleOutput::ConsoleOutput(bool json, bool outputIsTerminal)
    : json(json)
    , terminal(outputIsTerminal)
{
}

void ConsoleOutput::write(std::FILE *stream, const QString &text)
{
    Terminal::write(stream, text);
}

void ConsoleOutput::endLiveLine()
{
    if (!liveLineOpen)
        return;
    write(stdout, QStringLiteral("\n"));
    liveLineOpen = false;
    liveLineWidth = 0;
}

void ConsoleOutput::show(const FlashEvent &event)
{
    if (json) {
        write(stdout, QString::fromUtf8(FlashEvents::jsonLine(event)));
        return;
    }
    // An event without words for a person (the end of a report, whose
    // output is the document itself) shows nothing.
    if (event.text.isEmpty())
        return;
    endLiveLine();
    write(event.isError ? stderr : stdout, event.text + QLatin1Char('\n'));
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
        write(stdout, QString::fromUtf8(FlashEvents::jsonLine({ QStringLiteral("progress"), QString(),
                                                                ProgressLine::json(sample), false })));
        return;
    }

    if (!terminal) {
        const int step = ProgressLine::tenth(sample.percent);
        if (step == shownTenth)
            return;
        shownTenth = step;
        write(stdout, ProgressLine::stepLine(sample) + QLatin1Char('\n'));
        return;
    }

    const bool moved = sample.percent != shownPercent;
    if (liveLineOpen && !moved && sample.elapsedMs - drawnAtMs < redrawIntervalMs)
        return;
    shownPercent = sample.percent;
    drawnAtMs = sample.elapsedMs;
    const QString line = ProgressLine::liveLine(sample);
    // Blanks wipe what a longer line before left.
    const QString padded = ProgressLine::fit(line.leftJustified(liveLineWidth), Terminal::columns(stdout));
    liveLineWidth = line.size();
    liveLineOpen = true;
    write(stdout, QLatin1Char('\r') + padded);
}

ConsoleOutput::Answer ConsoleOutput::ask(const QString &question)
{
    endLiveLine();
    write(stderr, question + QCoreApplication::translate("ConsoleOutput", " [y/N] "));
    QString answer;
    const Terminal::ReadResult read = Terminal::readLine(stdin, &answer);
    if (read != Terminal::ReadResult::Line) {
        write(stderr, QStringLiteral("\n"));
        return read == Terminal::ReadResult::BrokenOff ? Answer::BrokenOff : Answer::No;
    }
    const QString text = answer.trimmed().toLower();
    return text == QLatin1String("y") || text == QLatin1String("yes") ? Answer::Yes : Answer::No;
}
