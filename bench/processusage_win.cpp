#include "processusage.h"

#include <windows.h>
#include <psapi.h>

namespace ProcessUsage {

namespace {

// FILETIME counts 100 ns intervals.
double seconds(const FILETIME &time)
{
    return double((quint64(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
}

} // namespace

double cpuSeconds()
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return seconds(kernel) + seconds(user);
}

qint64 peakRssKiB()
{
    PROCESS_MEMORY_COUNTERS counters {};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return qint64(counters.PeakWorkingSetSize / 1024);
}

} // namespace ProcessUsage
