#ifndef FLASHEVENT_H
#define FLASHEVENT_H

#include "exitcode.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

// One thing the flasher tells its user: a line for a person and the same
// as a JSON object for a script.
struct FlashEvent
{
    QString kind;        // the JSON object's "event"
    QString text;        // for a person; a change log adds lines
    QJsonObject fields;  // the details, without "event"
    bool isError = false;
};

// An attached controller as the flasher shows it.
struct ControllerSummary
{
    QString model;                  // the model table's name
    int unitType = -1;
    QList<QByteArray> paths;        // a pair: right half, then left half
    QString serial;                 // the USB serial number; empty: none
    std::optional<int> version;     // as the window shows it; nullopt: not opened or not read
    QString openError;              // why it could not be opened
};

// The events, built from what happened. Pure.
namespace FlashEvents {

// {"event": kind, ...fields} as one line, ending in LF.
QByteArray jsonLine(const FlashEvent &event);

// A firmware version for a person: "1.2", or "unknown" when none was read.
QString firmwareText(std::optional<int> version);

// A controller: listed, or picked for the command.
FlashEvent controller(const ControllerSummary &summary);

// The update check's findings. `version` is the controller's, as the
// window shows it; without it the "firmware" field is left out.
FlashEvent upToDate(std::optional<int> version);
FlashEvent firmwareOffer(std::optional<int> version, int offered, const QString &changeLog);
FlashEvent updaterOffer(int offered, const QString &changeLog);
FlashEvent overrideFile(const QString &path);

// Steps of an update and of a log download.
FlashEvent firmwareStored(const QString &path);
FlashEvent transferStarted(const QString &path, int reports);
FlashEvent transferCompleted();
FlashEvent logSaved(const QString &path);

// A station's events: `event` for the unit named `unit` ("MODEL PATH"),
// which heads its text and is its "unit" field; what a unit will get
// (`offered` empty: it runs current firmware); progress in steps; the
// running tally; and the last line, the counts by outcome.
FlashEvent forUnit(FlashEvent event, const QString &unit);
FlashEvent planned(std::optional<int> version, std::optional<int> offered);
FlashEvent progressStep(const QString &phase, int percent);
// The tally: `notVerified` units came back on their old firmware;
// `unitsPerHour` over the time units were in progress.
FlashEvent tally(int done, int failed, int inProgress, int notVerified, double unitsPerHour);
// A unit's record could not be written to `path`.
FlashEvent recordFailed(const QString &path, const QString &reason);
FlashEvent summary(const QMap<QString, int> &counts, ExitCode code);

// The last event of every run: {"event": "result", "exitCode", "ok",
// "outcome", "message"}. Success and FirmwareAvailable count as ok.
FlashEvent result(ExitCode code, const QString &outcome, const QString &message);

} // namespace FlashEvents

#endif // FLASHEVENT_H
