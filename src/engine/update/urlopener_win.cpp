#include "urlopener.h"

#include <QDir>
#include <QProcess>

// The file explorer hands a web address on to the default browser. Whether
// it started is not checked: the window tells the user what to do next.
void openDownloadAddress(const QString &address)
{
    QProcess::startDetached(QStringLiteral("explorer"), { QDir::toNativeSeparators(address) });
}
