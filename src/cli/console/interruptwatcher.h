#ifndef INTERRUPTWATCHER_H
#define INTERRUPTWATCHER_H

#include <QObject>

// Turns Ctrl+C (and, on Unix, SIGTERM) into a signal delivered by the event
// loop, so that the flasher stops between two steps instead of dying in
// the middle of one. While the watcher exists the process is not ended by
// these; one watcher at a time.
//
// A press also breaks off a blocking read of standard input, so that a
// confirmation prompt does not wait for Enter. On Windows closing the
// console window counts as Ctrl+C: the process is kept alive for up to
// 4.5 s, until the watcher is destroyed, so that the flasher can stop and
// say so in its log before Windows ends it.
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
