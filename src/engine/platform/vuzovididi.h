#ifndef VUZOVIDIDI_H
#define VUZOVIDIDI_H

// The closed transfer library that moves a firmware file to the MOSS
// controller. Windows builds may load the vendor's own DLL at run time (CMake
// option TAVORO_VENDOR_UTP_LIBRARY, see utplibrary.h); the demo, the tests
// and the benchmarks link the stand-in beside this header, which only reads
// the file.

extern "C" {

// Receives one NUL-terminated UTF-16 line of the library's own log.
using UtpLogCallback = void (*)(const char16_t *text);

// Receives the progress of the running transfer: `current` out of `total`.
using UtpProgressCallback = void (*)(int current, int total);

// Moves the file `filePath` (NUL-terminated UTF-16, as the caller's file
// object names it) to the controller with the given USB vendor and product
// ID. Synchronous: returns when the library is done with the device and the
// file. Both callbacks are called only during the call and on the calling
// thread; either may be null. Returns 0 on success, a non-zero code
// otherwise (the stand-in: 1 no path given, 2 file not opened, 3 the file
// was not read whole).
int updateThruUTP(int vendorId, int productId, const char16_t *filePath,
                  UtpLogCallback logCallback, UtpProgressCallback progressCallback);

} // extern "C"

#endif // VUZOVIDIDI_H
