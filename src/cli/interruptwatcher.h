#ifndef INTERRUPTWATCHER_H
#define INTERRUPTWATCHER_H

#include <QObject>

// Turns Ctrl+C (and, on Unix, SIGTERM) into a signal delivered by the event
// loop, so that the flasher stops between two steps instead of dying in
// the middle of one. While the watcher exists the process is not ended by
// these; one watcher at a time.
//
// On Unix a press also breaks off a blocking read of standard input, so
// that a confirmation prompt does not wait for Enter.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

signals:
    void interrupted();
};

#endif // INTERRUPTWATCHER_H
