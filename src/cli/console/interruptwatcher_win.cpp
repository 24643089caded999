// The console control handler runs on a thread of its own: it queues the
// signal to the watcher's thread and tells Windows the event is handled.

#include "console/interruptwatcher.h"

#include <QMetaObject>

#include <windows.h>

namespace {

InterruptWatcher *watcher = nullptr;
// Set when the watcher ends, at the end of main().
HANDLE watcherGone = nullptr;

// Windows ends the process as soon as the handler of a closed console
// returns, and at the latest 5 s after the close: the handler waits for the
// flasher to stop on its own until a little before that.
constexpr DWORD closeWaitMs = 4500;

BOOL WINAPI onControlEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(watcher, [] { emit watcher->interrupted(); }, Qt::QueuedConnection);
    // A question waiting for its answer blocks the event loop: break the
    // read off (Ctrl+C does so itself, closing the console does not).
    CancelIoEx(GetStdHandle(STD_INPUT_HANDLE), nullptr);
    if (type == CTRL_CLOSE_EVENT)
        WaitForSingleObject(watcherGone, closeWaitMs);
    return TRUE;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    watcher = this;
    watcherGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(onControlEvent, FALSE);
    watcher = nullptr;
    // The handler of a closed console may still wait: the process ends when
    // it returns, so the handle is left to the system.
    SetEvent(watcherGone);
}
