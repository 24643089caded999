#ifndef TERMINAL_H
#define TERMINAL_H

#include <cstdio>

namespace Terminal {

// Whether `stream` (stdin, stdout, stderr) is a terminal rather than a
// pipe or a file.
bool isTerminal(std::FILE *stream);

} // namespace Terminal

#endif // TERMINAL_H
