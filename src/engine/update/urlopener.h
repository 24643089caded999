#ifndef URLOPENER_H
#define URLOPENER_H

#include <QString>

// Opens the updater's download address with the desktop's own opener, as
// a detached process that outlives the updater. The address is passed as
// one argument, with the platform's native path separators.
void openDownloadAddress(const QString &address);

#endif // URLOPENER_H
