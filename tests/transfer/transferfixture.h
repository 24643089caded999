#ifndef TRANSFERFIXTURE_H
#define TRANSFERFIXTURE_H

#include "hidsim.h"
#include "ui/mainwindow.h"

#include <QByteArray>
#include <QList>

#include <memory>

class MessageBoxDriver;
class QLabel;
class QProgressBar;
class QPushButton;

// A window connected to simulated controllers through the real "Connect"
// button, with the update file placed where "Update Device" reads it.
namespace TransferFixture {

// Writes `image` as the update file. Both the default update file and the
// local override are written, so the window reads `image` whether or not
// the update checker redirects it to the override.
void placeUpdateFile(const QByteArray &image);

// Points both update files at `target` through symbolic links.
void linkUpdateFile(const QString &target);

void removeUpdateFiles();

// A new window, "Connect" clicked and its announcement box answered by
// `boxes`. Null (with a test failure) when no controller was connected.
std::unique_ptr<MainWindow> connectWindow(MessageBoxDriver &boxes);

QPushButton *button(MainWindow &window, const char *name);
QProgressBar *progressBar(MainWindow &window, const char *name);
QLabel *label(MainWindow &window, const char *name);

// Presses "Update Device", enabling it first where the update checker has
// not (yet) done so.
void pressUpdateDevice(MainWindow &window);

// Presses "Update Device" twice in a row: the file is read and the timer
// started and stopped again before it ticks, so that the test drives the
// transfer with tick() alone.
void startWithoutTimer(MainWindow &window);

// One tick of the transfer path of the connected model, as the transfer
// timer would run it.
void tick(MainWindow &window, int unitType);

// The attached model's standard controller with settings of the test's own.
HidSim::Controller attachController(int unitType, const HidSim::ControllerSettings &settings);

// The reports a controller must receive for `image`, written out byte by
// byte: transferStart with the MD5 text, the data reports, the transferEnd.
QList<QByteArray> expectedReports(int unitType, const QByteArray &image);

// A 64-byte input report carrying `status` in the high nibble of the
// command byte of `unitType`'s layout.
QByteArray statusReport(int unitType, unsigned char status);

QByteArray randomImage(int size, quint32 seed);

} // namespace TransferFixture

#endif // TRANSFERFIXTURE_H
