#ifndef BENCHSUPPORT_H
#define BENCHSUPPORT_H

// Shared by the benchmarks.

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTextStream>


namespace Bench {

QTextStream &out();

// Before the application object: an offscreen platform unless one is set,
// and, when `quiet`, no program log output (the updater's code logs a lot).
void prepareProcess(bool quiet);

// The whole number after `name` on the command line (at least 1), or
// `fallback` when it is not given.
int argumentValue(const QStringList &arguments, const QString &name, int fallback);

// "median M ms (min A, max B, N runs)" of values in milliseconds.
QString summary(QList<double> milliseconds);

// Ticks per second of an idle repeating 1 ms timer on this thread, counted
// for `ms` milliseconds. Needs no running event loop.
double repeatingTimerRate(int ms);

// Firings per second of a chain of 1 ms single-shot timers, each started
// when the previous one fired, on an idle worker thread: the pause that
// paces the log download. Counted for `ms` milliseconds.
double singleShotChainRate(int ms);

// `size` pseudo-random bytes, the same ones in every run: a firmware image.
QByteArray randomImage(qint64 size);

// Names of the files in `dir` now.
QSet<QString> filesIn(const QString &dir);

// Removes the files in `dir` that are not in `before`: the program and
// device logs a run leaves in the program directory.
void removeNewFiles(const QString &dir, const QSet<QString> &before);

// Answers every message box as it is shown, with its default answer, and
// tells when each appeared. Install one per application.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    BoxAnswerer();
    ~BoxAnswerer() override;

    int count() const { return shown.size(); }
    QStringList texts() const { return boxTexts; }
    // When the nth box was shown, on the nowNs() clock.
    qint64 shownAtNs(int n) const { return shown.at(n); }
    void clear();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QList<qint64> shown;
    QStringList boxTexts;
};

// A monotonic clock in nanoseconds.
qint64 nowNs();

} // namespace Bench

#endif // BENCHSUPPORT_H
