#ifndef TRANSFERFIXTURE_H
#define TRANSFERFIXTURE_H

#include "hidsim.h"
#include "logcapture.h"
#include "messageboxdriver.h"
#include "ui/mainwindow.h"

#include <QByteArray>
#include <QLabel>
#include <QList>
#include <QProgressBar>
#include <QPushButton>

#include <functional>
#include <memory>

namespace TransferFixture {

// Starts every test function with no simulated devices and no update files,
// and clears both up after it.
class TransferTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
};

// A simulated controller of `unitType` and a window connected to it through
// the real "Connect" button, with the update file placed where "Update
// Device" reads it. Attach a pair's other half before constructing.
struct Rig
{
    // Attaches the model's standard controller with `settings`.
    explicit Rig(int unitType, const HidSim::ControllerSettings &settings = {});

    // Places `image` as the update file, opens the window and clicks
    // "Connect". False (with a warning) when no controller was announced.
    bool connect(const QByteArray &image);

    template<typename Widget>
    Widget *child(const char *name) const { return window->findChild<Widget *>(QLatin1String(name)); }
    QPushButton *button(const char *name) const { return child<QPushButton>(name); }
    QProgressBar *bar(const char *name) const { return child<QProgressBar>(name); }
    QLabel *label(const char *name) const { return child<QLabel>(name); }

    // Presses "Update Device", enabling it first where the update checker
    // has not (yet) done so.
    void press();
    // Presses and runs the event loop until the program asks to quit.
    bool pressUntilQuit(int timeoutMs = 20000);
    // Presses twice: the file is read and the timer started and stopped
    // again before it ticks, so that the test drives the transfer by tick().
    void startWithoutTimer();
    // Ticks of the model's transfer path, as the transfer timer runs them.
    void tick(int count = 1);
    // Ticks until `done` holds, at most `maxTicks` times.
    bool tickUntil(const std::function<bool()> &done, int maxTicks);
    // Like tickUntil inside the application's event loop; true when `done`
    // was reached and the program then asked to quit.
    bool tickUntilQuit(const std::function<bool()> &done, int maxTicks);

    const int unitType;
    HidSim::Controller controller;
    MessageBoxDriver boxes;
    std::unique_ptr<MainWindow> window;
};

// Writes `image` as the update file. Both the default update file and the
// local override are written, so the window reads `image` whether or not
// the update checker redirects it to the override.
void placeUpdateFile(const QByteArray &image);
// Points both update files at `target` through symbolic links.
void linkUpdateFile(const QString &target);
void removeUpdateFiles();

// Processes events until the result phase has polled `polls` times since
// `log` was last cleared.
bool waitForPolls(const LogCapture &log, int polls);

// Compares two report streams report by report, naming the first that differs.
void compareStreams(const QList<QByteArray> &actual, const QList<QByteArray> &expected);

// The reports a controller must receive for `image`, written out byte by
// byte: transferStart with the MD5 text, the data reports, the transferEnd.
QList<QByteArray> expectedReports(int unitType, const QByteArray &image);

// A 64-byte input report carrying `status` in the high nibble of the
// command byte of `unitType`'s layout.
QByteArray statusReport(int unitType, unsigned char status);

QByteArray randomImage(int size, quint32 seed);

} // namespace TransferFixture

#endif // TRANSFERFIXTURE_H
