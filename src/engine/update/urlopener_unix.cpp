#include "urlopener.h"

#include <QDir>
#include <QProcess>

#include <QtGlobal>

namespace {

#ifdef Q_OS_MACOS
const char opener[] = "open";
#else
const char opener[] = "xdg-open";
#endif

} // namespace

// Without the opener (a bare system) the address is at least kept in the
// program log, so that the user or support can still find the download.
void openDownloadAddress(const QString &address)
{
    const QString argument = QDir::toNativeSeparators(address);
    if (!QProcess::startDetached(QLatin1String(opener), { argument }))
        qErrnoWarning("Can't start %s for the updater download %s", opener, qUtf8Printable(argument));
}
