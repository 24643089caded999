// Built into the threaded tests only when they run under ThreadSanitizer.
//
// The stock Qt libraries are not instrumented, so the detector cannot see
// the ordering that Qt's own locks give: an event posted to another thread
// (a queued signal, a queued call, deleteLater) is delivered after it was
// posted, and QThread::wait() returns after the thread has ended. Without
// that, every hand-over between the window's thread and the log thread looks
// like a race. This file tells the detector about these orders, and nothing
// else, through the points where Qt calls out of its own library:
//
// - Posting an event wakes the receiving thread's GLib main context
//   (g_main_context_wakeup, called by Qt after the event is queued): a
//   release on that context, before and after the wake-up is written.
//   Every event delivery (Qt's notify callback) acquires the current
//   thread's context.
// - A thread creates its main context (g_main_context_new) before Qt lets
//   other threads post to it: a release that the wake-up acquires, so that
//   GLib's wake-up descriptor is known to exist before it is written.
// - A thread's event dispatcher drops its main context
//   (g_main_context_unref) as the thread ends, after the objects deleted at
//   its end are gone and after the last wake-up (Qt's thread lock orders
//   them): it acquires the context, then releases "a thread has ended",
//   which QThread::wait() acquires on return.

#include <QDeadlineTimer>
#include <QtCore/qnamespace.h>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

class QThread;
struct GMainContext;

namespace {

template <typename Function>
Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

template <typename Function>
Function loaded(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// The sync object for "some thread has ended".
char threadEnded;

// The sync object for "this context has been created", apart from the
// context's own, so that posting threads do not order each other.
void *created(GMainContext *context)
{
    return reinterpret_cast<char *>(context) + 1;
}

GMainContext *currentContext()
{
    using Get = GMainContext *(*)();
    static const Get threadDefault = loaded<Get>("g_main_context_get_thread_default");
    static const Get globalDefault = loaded<Get>("g_main_context_default");
    GMainContext *context = threadDefault();
    return context ? context : globalDefault();
}

bool acquireOnDelivery(void **)
{
    __tsan_acquire(currentContext());
    return false;  // the event goes on as usual
}

// Registered before main(), before any thread exists.
[[maybe_unused]] const bool registered =
    QInternal::registerCallback(QInternal::EventNotifyCallback, &acquireOnDelivery);

} // namespace

extern "C" GMainContext *g_main_context_new()
{
    using New = GMainContext *(*)();
    static const New real = next<New>("g_main_context_new");
    GMainContext *context = real();
    __tsan_release(created(context));
    return context;
}

extern "C" void g_main_context_wakeup(GMainContext *context)
{
    using Wakeup = void (*)(GMainContext *);
    static const Wakeup real = next<Wakeup>("g_main_context_wakeup");
    __tsan_acquire(created(context));
    __tsan_release(context);
    real(context);
    __tsan_release(context);
}

extern "C" void g_main_context_unref(GMainContext *context)
{
    using Unref = void (*)(GMainContext *);
    static const Unref real = next<Unref>("g_main_context_unref");
    __tsan_acquire(context);
    __tsan_release(&threadEnded);
    real(context);
}

// bool QThread::wait(QDeadlineTimer): the mangled name of the member, so that
// the tests' own calls come here first.
extern "C" bool tsanThreadWait(QThread *thread, QDeadlineTimer deadline)
    __asm__("_ZN7QThread4waitE14QDeadlineTimer");

extern "C" bool tsanThreadWait(QThread *thread, QDeadlineTimer deadline)
{
    using Wait = bool (*)(QThread *, QDeadlineTimer);
    static const Wait real = next<Wait>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool ended = real(thread, deadline);
    if (ended)
        __tsan_acquire(&threadEnded);
    return ended;
}
