#ifndef VERSION_H
#define VERSION_H

// The updater's own version: ends the window title, is shown as "0.14" in
// the updater offer and is compared with the manifest's "MainVer".
constexpr int updaterVersion = 14;

#endif // VERSION_H
