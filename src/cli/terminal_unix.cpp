#include "terminal.h"

#include <unistd.h>

namespace Terminal {

bool isTerminal(std::FILE *stream)
{
    return isatty(fileno(stream)) == 1;
}

} // namespace Terminal
