#include "terminal.h"

#include <io.h>

namespace Terminal {

bool isTerminal(std::FILE *stream)
{
    return _isatty(_fileno(stream)) != 0;
}

} // namespace Terminal
