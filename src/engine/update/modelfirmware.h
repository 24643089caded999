#ifndef MODELFIRMWARE_H
#define MODELFIRMWARE_H

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
    Q_ENUM(State)

    // Why the check or the download failed.
    struct Failure
    {
        bool newerUpdater = false;  // the manifest names a newer updater, which must come first
        UpdateChecker::Problem problem = UpdateChecker::Problem::Connection;  // else the checker's problem
    };

    // `unitType`: one of the models the manifest entry serves.
    explicit ModelFirmware(int unitType, QObject *parent = nullptr);

    // The check for a controller that runs `version`; ends in checked().
    void check(quint8 version);
    // Downloads the offered firmware; ends in ready() or failed().
    void download();
    // A file to send instead of any check (--file): ready at once.
    void useFile(const QString &path);

    State state() const { return currentState; }
    // The offered version, as the manifest writes it, when there is one.
    std::optional<QString> offered() const { return offeredVersion; }
    // The image to send, once ready.
    QString path() const { return firmwarePath; }
    // Why the check or the download failed.
    Failure failure() const { return failureReason; }
    // Whether a controller at `version` needs the firmware, read as the
    // update check reads it: false when it runs the offered version or
    // newer; nullopt when a new check must tell (the last one found a newer
    // controller up to date).
    std::optional<bool> needs(quint8 version) const;

signals:
    void checked();
    void ready();
    void failed();

private:
    void fail(const Failure &failure);

    const int unitType;
    UpdateSession session;
    State currentState = State::Unchecked;
    std::optional<QString> offeredVersion;
    quint8 checkedVersion = 0;
    QString firmwarePath;
    Failure failureReason;
};

#endif // MODELFIRMWARE_H
