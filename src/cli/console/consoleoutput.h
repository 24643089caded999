#ifndef CONSOLEOUTPUT_H
#define CONSOLEOUTPUT_H

#include "console/flashevent.h"
#include "console/progressline.h"

#include <QString>

#include <cstdio>

// The flasher's face: writes its events and progress to the console, as
// text for a person or as JSON lines for a script, and asks the user.
//
// Text: events on standard output, errors on standard error; progress is
// one live line on a terminal, clipped to its width, else a line per 10 %.
// JSON: every event and every percent of progress is one object on
// standard output.
class ConsoleOutput
{
public:
    ConsoleOutput(bool json, bool outputIsTerminal);

    void show(const FlashEvent &event);
    void showProgress(const ProgressSample &sample);

    enum class Answer { Yes, No, BrokenOff };

    // Asks `question` on standard error and reads the answer from standard
    // input: Yes for "y" or "yes", No for anything else or the end of the
    // input, BrokenOff when Ctrl+C (or closing the console) broke the read off.
    Answer ask(const QString &question);

private:
    void write(std::FILE *stream, const QString &text);
    void endLiveLine();

    const bool json;
    const bool terminal;
    bool liveLineOpen = false;
    int liveLineWidth = 0;
    QString phase;             // of the last progress sample
    int shownPercent = -1;     // JSON: the last percent written
    int shownTenth = -1;       // text without terminal: the last step written
    qint64 drawnAtMs = 0;      // terminal: when the live line was last drawn
};

#endif // CONSOLEOUTPUT_H
