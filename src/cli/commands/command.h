#ifndef COMMAND_H
#define COMMAND_H

#include "commandline.h"
#include "commands/recordkeeper.h"
#include "console/flashevent.h"
#include "outcomes.h"
#include "console/progressline.h"

#include "session/updatesession.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class Command;

// What a command declares of itself: its name, its usage line and summary
// for the help, the options it takes besides --json and --help, the exit
// codes it can end with, and how it is made. The registry lists them.
struct CommandInfo
{
    const char *name;
    const char *usage;
    const char *summary;  // translated in the "CommandLine" context
    QStringList options;  // long names
    QList<ExitCode> exitCodes;
    std::unique_ptr<Command> (*create)(const FlashRequest &request, bool canAsk);
};

// One command of the flasher: a face on the updater's engine that turns
// what happens into events and progress. It never writes to the console;
// a run ends with exactly one finished(), after a "result" event.
class Command : public QObject
{
    Q_OBJECT

public:
    // Starts the command. Call once, with the event loop running or about to.
    virtual void start() = 0;

    // The answer to confirmationNeeded(). Ignored by commands that ask none.
    virtual void confirm(bool yes);

    // Ctrl+C: ends the run between two steps, telling what state the
    // controller is left in. By default nothing was touched.
    virtual void interrupt();

signals:
    void event(const FlashEvent &event);
    void progress(const ProgressSample &sample);
    void confirmationNeeded(const QString &question);
    void finished(int exitCode);

protected:
    Command(const FlashRequest &request, bool canAsk);

    // Ends the run with its result; later calls are ignored. A station ends
    // with `lastEvent`, its summary, in place of a result.
    void finish(const Outcome &outcome);
    void finish(const Outcome &outcome, const FlashEvent &lastEvent);
    bool isFinished() const { return done; }

    // Ends the run, true, when it must not flash: nobody to confirm, an
    // unusable --file, or (at a station, which cannot tell which model it
    // is for) a hand-placed update file.
    bool refusedToFlash(bool station = false);

    // A run that flashes opens its record file first: false, after ending
    // the run (exit 21), when it cannot be opened for appending.
    bool openRecord();
    // Called with a run's outcome before its result is shown, once: a
    // command that records its attempt writes it here, and returns what to
    // show instead when the record could not be written.
    virtual Outcome recorded(const Outcome &outcome) { return outcome; }

    // `entry` as the user is shown it, with what opening it read.
    static ControllerSummary summaryOf(const ControllerEntry &entry, const UpdateSession::Reading &reading);
    // Opens each of `entries` in turn to show it; returns the first that
    // could not be opened, if any.
    std::optional<ControllerSummary> showControllers(const QList<ControllerEntry> &entries);

    // Progress of `phase` since restartClock().
    void restartClock() { phaseClock.start(); }
    void emitProgress(const QString &phase, int percent, int done = -1, int total = -1);

    const FlashRequest request;
    const bool canAsk;
    std::unique_ptr<RecordKeeper> record;  // opened by openRecord()

private:
    bool done = false;
    QElapsedTimer phaseClock;
};

#endif // COMMAND_H
