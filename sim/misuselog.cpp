#include "misuselog.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace HidSim {

namespace {

struct Entries
{
    std::mutex mutex;
    QStringList list;  // each text once
};

Entries &entries()
{
    static Entries instance;
    return instance;
}

// Runs before the entries' destructor: it is registered after they exist.
void failIfAnyLeft()
{
    Entries &log = entries();
    const std::lock_guard<std::mutex> lock(log.mutex);
    if (log.list.isEmpty())
        return;
    for (const QString &what : qAsConst(log.list))
        std::fprintf(stderr, "hidsim: misuse of hidapi: %s\n", qPrintable(what));
    std::fprintf(stderr, "hidsim: the program broke hidapi's rules; failing the run\n");
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

} // namespace

void MisuseLog::record(const QString &what)
{
    Entries &log = entries();
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(failIfAnyLeft); });
    const std::lock_guard<std::mutex> lock(log.mutex);
    if (log.list.contains(what))
        return;
    log.list.append(what);
    std::fprintf(stderr, "hidsim: misuse of hidapi: %s\n", qPrintable(what));
}

QStringList MisuseLog::take()
{
    Entries &log = entries();
    const std::lock_guard<std::mutex> lock(log.mutex);
    QStringList taken;
    taken.swap(log.list);
    return taken;
}

} // namespace HidSim
