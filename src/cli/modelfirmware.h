#ifndef MODELFIRMWARE_H
#define MODELFIRMWARE_H

#include "outcomes.h"

#include "session/updatesession.h"

#include <QObject>
#include <QString>

#include <optional>

// The firmware a station sends to the controllers that share one manifest
// entry: checked once for them (for the oldest version among them), and
// downloaded once into a file of its own in the program directory, so that
// the window's "updater.sb" stays as it is.
class ModelFirmware : public QObject
{
    Q_OBJECT

public:
    enum class State { Unchecked, Checking, Offered, Current, Downloading, Ready, Failed };

    // `unitType`: one of the models the manifest entry serves.
    explicit ModelFirmware(int unitType, QObject *parent = nullptr);

    // The check for a controller that runs `version`; ends in checked().
    void check(quint8 version);
    // Downloads the offered firmware; ends in ready() or failed().
    void download();
    // A file to send instead of any check (--file): ready at once.
    void useFile(const QString &path);

    State state() const { return currentState; }
    // The offered version, when there is one.
    std::optional<int> offered() const { return offeredVersion; }
    // The image to send, once ready.
    QString path() const { return firmwarePath; }
    // Why the check or the download failed.
    const Outcome &failure() const { return failureOutcome; }
    // Whether a controller at `version` needs the firmware: false when it
    // runs the offered version or newer; nullopt when a new check must tell
    // (the last one found a newer controller up to date).
    std::optional<bool> needs(quint8 version) const;

signals:
    void checked();
    void ready();
    void failed();

private:
    void fail(const Outcome &outcome);

    const int unitType;
    UpdateSession session;
    State currentState = State::Unchecked;
    std::optional<int> offeredVersion;
    quint8 checkedVersion = 0;
    QString firmwarePath;
    Outcome failureOutcome;
};

#endif // MODELFIRMWARE_H
