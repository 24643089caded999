#ifndef TERMINAL_H
#define TERMINAL_H

#include <QString>

#include <cstdio>

// The flasher's standard streams as a terminal or a console.
namespace Terminal {

// Whether `stream` (stdin, stdout, stderr) is a terminal rather than a
// pipe or a file. On Windows: a console (NUL is not one).
bool isTerminal(std::FILE *stream);

// Writes `text` to `stream` and flushes it: to a Windows console as UTF-16
// (WriteConsoleW), so that any character shows whatever its code page;
// everywhere else as UTF-8 bytes.
void write(std::FILE *stream, const QString &text);

// The width of the terminal `stream` writes to, in characters; 0 when it
// is not a terminal or its width is not known.
int columns(std::FILE *stream);

enum class ReadResult { Line, End, BrokenOff };

// Reads one line from `stream` into `*line` (without its line end): Line,
// or End at the end of the input, or BrokenOff when Ctrl+C (or closing the
// console) broke the read off; the interrupt is then on its way.
ReadResult readLine(std::FILE *stream, QString *line);

} // namespace Terminal

#endif // TERMINAL_H
