#include "console/terminal.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Terminal {

bool isTerminal(std::FILE *stream)
{
    return isatty(fileno(stream)) == 1;
}

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int columns(std::FILE *stream)
{
    winsize size {};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

ReadResult readLine(std::FILE *stream, QString *line)
{
    char bytes[256] = {};
    errno = 0;
    if (!std::fgets(bytes, sizeof bytes, stream))
        return errno == EINTR ? ReadResult::BrokenOff : ReadResult::End;
    *line = QString::fromLocal8Bit(bytes);
    while (line->endsWith(QLatin1Char('\n')) || line->endsWith(QLatin1Char('\r')))
        line->chop(1);
    return ReadResult::Line;
}

} // namespace Terminal
