#include "console/terminal.h"

#include <io.h>
#include <iterator>
#include <windows.h>

namespace Terminal {

namespace {

// The console behind `stream`, or null when it is redirected (a pipe, a
// file, NUL: GetConsoleMode fails for all of them).
HANDLE console(std::FILE *stream)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

} // namespace

bool isTerminal(std::FILE *stream)
{
    return console(stream) != nullptr;
}

void write(std::FILE *stream, const QString &text)
{
    if (const HANDLE handle = console(stream)) {
        // What went through the C library before must come first.
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(handle, reinterpret_cast<const wchar_t *>(text.utf16()), DWORD(text.size()), &written,
                      nullptr);
        return;
    }
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int columns(std::FILE *stream)
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    const HANDLE handle = console(stream);
    if (!handle || !GetConsoleScreenBufferInfo(handle, &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

ReadResult readLine(std::FILE *stream, QString *line)
{
    const HANDLE handle = console(stream);
    if (!handle) {
        char bytes[256] = {};
        if (!std::fgets(bytes, sizeof bytes, stream))
            return ReadResult::End;
        *line = QString::fromLocal8Bit(bytes);
        while (line->endsWith(QLatin1Char('\n')) || line->endsWith(QLatin1Char('\r')))
            line->chop(1);
        return ReadResult::Line;
    }
    wchar_t characters[256];
    DWORD count = 0;
    // Ctrl+C ends the read with nothing read (and the control handler
    // cancels it besides, see interruptwatcher_win.cpp), while Enter always
    // gives at least CR LF: an empty read is a broken-off one, whichever
    // thread runs first.
    if (!ReadConsoleW(handle, characters, DWORD(std::size(characters)), &count, nullptr))
        return GetLastError() == ERROR_OPERATION_ABORTED ? ReadResult::BrokenOff : ReadResult::End;
    if (count == 0)
        return ReadResult::BrokenOff;
    *line = QString::fromWCharArray(characters, int(count));
    // Ctrl+Z, then Enter: the end of the input.
    if (line->startsWith(QChar(0x1a)))
        return ReadResult::End;
    while (line->endsWith(QLatin1Char('\n')) || line->endsWith(QLatin1Char('\r')))
        line->chop(1);
    return ReadResult::Line;
}

} // namespace Terminal
