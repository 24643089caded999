#include "platform/utplibrary.h"

namespace UtpLibrary {

Lookup lookup()
{
    return { &updateThruUTP, QString() };
}

} // namespace UtpLibrary
