#include "libraryexport_win.h"

#include <QDir>

#include <windows.h>

namespace LibraryExport {

QFunctionPointer byOrdinal(const QString &path, int ordinal, QString *problem)
{
    const QString nativePath = QDir::toNativeSeparators(path);
    HMODULE module = LoadLibraryExW(reinterpret_cast<LPCWSTR>(nativePath.utf16()), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        *problem = QStringLiteral("cannot load %1: %2").arg(nativePath, qt_error_string(int(GetLastError())));
        return nullptr;
    }
    // A name argument below 0x10000 is an ordinal (MAKEINTRESOURCEA).
    const FARPROC function = GetProcAddress(module, reinterpret_cast<LPCSTR>(quintptr(ordinal)));
    if (!function) {
        *problem = QStringLiteral("%1 has no export number %2: %3")
                       .arg(nativePath).arg(ordinal).arg(qt_error_string(int(GetLastError())));
        FreeLibrary(module);
        return nullptr;
    }
    return reinterpret_cast<QFunctionPointer>(function);
}

} // namespace LibraryExport
