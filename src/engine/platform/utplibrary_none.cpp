#include "utplibrary.h"

#include <QCoreApplication>

namespace UtpLibrary {

// A build without the vendor's library: MOSS controllers cannot be updated.
Lookup lookup()
{
    return { nullptr, QCoreApplication::translate("UtpLibrary", "this build has no MOSS transfer library") };
}

} // namespace UtpLibrary
