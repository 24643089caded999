#include "timerresolution.h"

#include <windows.h>
#include <timeapi.h>

#include <mutex>

namespace {

// SetProcessInformation exists from Windows 8 on and is looked up at run
// time, so that the program still starts where it is missing.
using SetProcessInformationFunction = BOOL(WINAPI *)(HANDLE, PROCESS_INFORMATION_CLASS, LPVOID, DWORD);

// Throttling off (ControlMask set, StateMask clear) while `active`, else
// left to the system again (both clear). Fails quietly on a Windows that
// knows only some of these flags or none.
void setThrottlingOptOut(bool active)
{
    const auto function = reinterpret_cast<SetProcessInformationFunction>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessInformation")));
    if (!function)
        return;
    PROCESS_POWER_THROTTLING_STATE state {};
    state.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    state.ControlMask = active ? PROCESS_POWER_THROTTLING_EXECUTION_SPEED
                                     | PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION
                               : 0;
    state.StateMask = 0;
    function(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

// Holders alive; throttling is handed back to the system with the last.
// Each unit's transfer holds one on a thread of its own: the lock keeps the
// count and the opt-out calls in one order, so that a last holder's release
// cannot land after the next first holder's request.
std::mutex holdersMutex;
int holders = 0;

} // namespace

TimerResolution::TimerResolution(QObject *parent)
    : QObject(parent)
{
    timeBeginPeriod(1);
    const std::lock_guard<std::mutex> lock(holdersMutex);
    if (holders++ == 0)
        setThrottlingOptOut(true);
}

TimerResolution::~TimerResolution()
{
    {
        const std::lock_guard<std::mutex> lock(holdersMutex);
        if (--holders == 0)
            setThrottlingOptOut(false);
    }
    timeEndPeriod(1);
}
