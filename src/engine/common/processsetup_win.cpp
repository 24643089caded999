#include "processsetup.h"

#include <QtGlobal>

#include <windows.h>

namespace ProcessSetup {

void prepare()
{
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);

    qunsetenv("QT_PLUGIN_PATH");
    qunsetenv("QT_QPA_PLATFORM_PLUGIN_PATH");

    // Never closed: Windows releases it when the process ends, however it ends.
    CreateMutexW(nullptr, FALSE, runningMutexName);
}

} // namespace ProcessSetup
