#ifndef UTPLIBRARY_H
#define UTPLIBRARY_H

// Where the transfer function of the MOSS controller's closed transfer
// library (updateThruUTP, see vuzovididi.h) comes from.
//
// A Windows build made with the vendor's DLL (CMake option
// TAVORO_VENDOR_UTP_LIBRARY) loads that DLL from the program directory
// when a MOSS controller is updated, and takes the function by its export
// ordinal, 20: a missing or unusable DLL then affects MOSS controllers
// alone. Every other installed program has no library. The demo, the
// tests and the benchmarks hand out the stand-in linked into them.

#include "vuzovididi.h"

#include <QString>

namespace UtpLibrary {

using UpdateFunction = decltype(&updateThruUTP);

struct Lookup
{
    UpdateFunction update = nullptr;  // null when the library cannot be used
    QString problem;                  // then why, naming the file, for the log and the user
};

// The library's transfer function. A DLL, once loaded, stays loaded to the
// end of the process; a failed lookup is tried afresh on the next call.
// Defined by the library the program links (tavoro-utp or
// tavoro-utp-standin), not by the engine.
Lookup lookup();

} // namespace UtpLibrary

#endif // UTPLIBRARY_H
