#ifndef TRANSFERFIXTURE_H
#define TRANSFERFIXTURE_H

#include "hidsim.h"
#include "logcapture.h"
#include "session/updatesession.h"
#include "sessionrecorder.h"

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <functional>

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

// A simulated controller of `unitType`, and a session with a recording
// face that connects to it as "Connect" does. Attach a pair's other half
// before constructing.
struct Rig
{
    // Attaches the model's standard controller with `settings`.
    explicit Rig(int unitType, const HidSim::ControllerSettings &settings = {});

    // Places `image` as the update file, connects the session and names
    // the file to it. False (with a warning) when no controller was
    // connected. The reports start empty.
    bool connect(const QByteArray &image);

    // The "Update Device" press.
    void press() { session.startOrStopTransfer(); }
    // Presses and runs the event loop until the engine reports the update
    // finished; false when it did not within `timeoutMs`.
    bool pressUntilFinished(int timeoutMs = 20000);
    // Presses twice: the file is read and the timer started and stopped
    // again before it ticks, so that the test drives the transfer by tick().
    void startWithoutTimer();
    // Ticks of the model's transfer path, as the transfer timer runs them.
    void tick(int count = 1);
    // Ticks until `done` holds, at most `maxTicks` times.
    bool tickUntil(const std::function<bool()> &done, int maxTicks);
    // Starts without the timer and ticks until the controller has the
    // whole (small) image and applies it.
    bool tickUntilApplying();

    bool finished() const
    {
        return std::any_of(reports.begin(), reports.end(),
                           [](const QString &line) { return line.startsWith(QLatin1String("updateFinished")); });
    }
    // The reports whose line starts with `prefix`.
    QStringList reported(const QString &prefix) const { return reports.filter(QRegularExpression('^' + prefix)); }

    const int unitType;
    HidSim::Controller controller;
    UpdateSession session;
    SessionRecorder face { session };
    // One line per signal of the session (see SessionRecorder).
    QStringList &reports = face.lines;
};

// A controller that applies an image until the test queues
// statusUpdateFinished.
HidSim::ControllerSettings applyingUntilTold();

// Writes `image` as the update file.
void placeUpdateFile(const QByteArray &image);
// Points the update file at `target` through a symbolic link.
void linkUpdateFile(const QString &target);
void removeUpdateFiles();
// Whether this process holds the update file open (on Windows: whether it
// cannot be renamed, which is what an open handle blocks there).
bool updateFileHeldOpen();

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
