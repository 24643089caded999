#ifndef PROCESSSETUP_H
#define PROCESSSETUP_H

// What both programs do first in main(), before the application object
// exists, so that Qt and every library see it from the start.
namespace ProcessSetup {

// On Windows:
// - DLLs loaded at run time (Qt's plugins, the system DLLs they and hidapi
//   pull in) come from the program directory and System32 only, never from
//   the current directory or PATH;
// - plugin directories another Qt program left in the environment
//   (QT_PLUGIN_PATH, QT_QPA_PLATFORM_PLUGIN_PATH) are forgotten: only the
//   plugins beside the program load, where its qt.conf points Qt;
// - the named mutex `runningMutexName` is held to the end of the process,
//   by which the installer and the uninstaller see a program running.
// Elsewhere it does nothing.
void prepare();

// Also written into the installer script (packaging/windows/cpack.cmake).
constexpr const wchar_t runningMutexName[] = L"TavoroUpdaterRunning";

} // namespace ProcessSetup

#endif // PROCESSSETUP_H
