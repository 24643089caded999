#ifndef PROGRESSLINE_H
#define PROGRESSLINE_H

#include <QJsonObject>
#include <QString>

#include <optional>

// Where a long step stands: the firmware download, the transfer, the
// installation or the log download.
struct ProgressSample
{
    QString phase;         // "download", "transfer", "install", "log"
    int percent = 0;
    int done = -1;         // transfer: reports sent so far; -1: not counted
    int total = -1;        // transfer: reports of the whole image
    qint64 elapsedMs = 0;  // since the phase began
};

// Progress as text and JSON. Pure.
namespace ProgressLine {

// Reports per second so far; nullopt without counts or time.
std::optional<double> rate(const ProgressSample &sample);

// Whole seconds until the rest is sent at the rate so far; nullopt when
// the rate is not known yet.
std::optional<int> secondsLeft(const ProgressSample &sample);

// The terminal's live line: "transfer  42 %  905 reports/s  0:07 left";
// rate and time only when known.
QString liveLine(const ProgressSample &sample);

// `line` cut to fit a terminal `columns` wide without wrapping: a line that
// fills the last column moves the cursor to the next row, and "\r" would
// then rewrite only that. Unchanged when `columns` is not known (0).
QString fit(const QString &line, int columns);

// The line printed when output is not a terminal: "transfer 40 %".
QString stepLine(const ProgressSample &sample);

// The tenths step a percentage has reached (0 for 0..9, ..., 10 for 100).
int tenth(int percent);

// The fields of a "progress" event: "phase", "percent" and, when counted,
// "done", "total", "perSecond" and "secondsLeft".
QJsonObject json(const ProgressSample &sample);

} // namespace ProgressLine

#endif // PROGRESSLINE_H
