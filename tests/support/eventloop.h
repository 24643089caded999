#ifndef EVENTLOOP_H
#define EVENTLOOP_H

#include <functional>

namespace TestLoop {

// Runs `action` from inside the application's own event loop, as the
// program's slots run, and keeps the loop going until the application is
// asked to quit or `timeoutMs` passes. Returns true when the program asked
// to quit (the way the updater ends itself).
bool runUntilQuit(const std::function<void()> &action, int timeoutMs);

// Processes events for `ms` milliseconds.
void spin(int ms);

// Processes events until `condition` holds or `timeoutMs` passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 5000);

} // namespace TestLoop

#endif // EVENTLOOP_H
