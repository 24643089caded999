// The console control handler runs on a thread of its own: it queues the
// signal to the watcher's thread and tells Windows the event is handled.

#include "interruptwatcher.h"

#include <QMetaObject>

#include <windows.h>

namespace {

InterruptWatcher *watcher = nullptr;

BOOL WINAPI onControlEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    QMetaObject::invokeMethod(watcher, [] { emit watcher->interrupted(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    watcher = this;
    SetConsoleCtrlHandler(onControlEvent, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(onControlEvent, FALSE);
    watcher = nullptr;
}
