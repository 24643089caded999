#include "libraryexport_win.h"

#include <QDir>

#include <windows.h>

namespace LibraryExport {

QFunctionPointer byOrdinal(const QString &path, int ordinal, QString *problem)
{
    const QString nativePath = QDir::toNativeSeparators(path);
    // The DLLs it needs come from its own directory and System32 only, not
    // from the current directory or PATH.
    HMODULE module = LoadLibraryExW(reinterpret_cast<LPCWSTR>(nativePath.utf16()), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module) {
        const DWORD error = GetLastError();
        *problem = QStringLiteral("cannot load %1: %2").arg(nativePath, qt_error_string(int(error)));
        if (error == ERROR_BAD_EXE_FORMAT)
            *problem += QStringLiteral(" (error 193: it is not a 64-bit Windows DLL; a 32-bit one cannot be"
                                       " loaded into this 64-bit program)");
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
