#include "utplibrary.h"

#include "libraryexport_win.h"

#include <QCoreApplication>

namespace UtpLibrary {

namespace {

// The vendor's documented export of updateThruUTP.
constexpr int updateOrdinal = 20;

} // namespace

Lookup lookup()
{
    // Only the program directory: a DLL of that name elsewhere on the
    // search path must not stand in for the vendor's.
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/')
                         + QStringLiteral(TAVORO_UTP_LIBRARY_NAME);
    QString problem;
    const QFunctionPointer function = LibraryExport::byOrdinal(path, updateOrdinal, &problem);
    return { reinterpret_cast<UpdateFunction>(function), problem };
}

} // namespace UtpLibrary
