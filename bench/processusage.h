#ifndef PROCESSUSAGE_H
#define PROCESSUSAGE_H

// What this process has used so far, as the system counts it.

#include <QtGlobal>

namespace ProcessUsage {

// Processor time spent in user and kernel mode, in seconds.
double cpuSeconds();

// Peak resident set (on Windows: peak working set) so far, in KiB; -1 when
// the system does not tell.
qint64 peakRssKiB();

} // namespace ProcessUsage

#endif // PROCESSUSAGE_H
