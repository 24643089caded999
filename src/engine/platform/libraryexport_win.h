#ifndef LIBRARYEXPORT_WIN_H
#define LIBRARYEXPORT_WIN_H

// Functions that a Windows DLL exports by ordinal only.

#include <QString>
#include <QtGlobal>

namespace LibraryExport {

// Loads the DLL at `path` (an absolute path; the DLLs it needs are looked
// for beside it and in System32 only) and returns its export number
// `ordinal`. The DLL stays loaded to the end of the process once the export
// is found. Returns null when the DLL cannot be loaded or lacks the export,
// and then sets `*problem` to a sentence naming the file and the system's
// reason (for a file that is no 64-bit DLL, such as a 32-bit one, saying so).
QFunctionPointer byOrdinal(const QString &path, int ordinal, QString *problem);

} // namespace LibraryExport

#endif // LIBRARYEXPORT_WIN_H
