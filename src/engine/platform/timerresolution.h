#ifndef TIMERRESOLUTION_H
#define TIMERRESOLUTION_H

#include <QObject>

// Keeps the system's timers at 1 ms for as long as it lives: the transfer
// engine holds one while its 1 ms timer runs.
//
// On Windows it raises the system timer resolution (otherwise 15.6 ms, 64
// ticks a second) and opts the process out of power throttling, under which
// Windows 11 ignores that request for a minimised window or on battery and
// slows the process down. Elsewhere the timers need nothing.
class TimerResolution : public QObject
{
public:
    explicit TimerResolution(QObject *parent = nullptr);
    ~TimerResolution() override;
};

#endif // TIMERRESOLUTION_H
