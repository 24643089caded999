#ifndef WATCHCOMMAND_H
#define WATCHCOMMAND_H

#include "station/stationcommand.h"

#include <QSet>
#include <QTimer>

// "watch": a station that stays running. It looks for controllers a few
// times a second (hidapi tells of no plug-in), flashes each new one with
// its model's firmware, never flashes one twice while it stays attached,
// and forgets it once it is unplugged; a controller has at most one unit at
// a time. A running tally follows each unit's
// result. Confirmed once, at the start.
class WatchCommand : public StationCommand
{
    Q_OBJECT

public:
    static CommandInfo info();
    WatchCommand(const FlashRequest &request, bool canAsk);
    void start() override;
    void confirm(bool yes) override;
    void interrupt() override;

protected:
    void onUnitEnded() override;
    void onFirmwareSettled(ModelFirmware *firmware) override;
    void onRecordFailed() override;

private:
    void poll();
    // Starts `unit`, or what it waits for: its model's check or download,
    // or a MOSS unit's end.
    void decide(Unit *unit);
    void startWhenFree(Unit *unit, const QString &firmwarePath);
    bool hasUnitAt(const QByteArray &path) const;
    const Unit *installedBefore(const Unit &found) const;
    bool mossUnitRunning() const;

    QTimer poller;
    QSet<QByteArray> attached;  // the first path of each controller seen attached
    bool watching = false;
    bool saidNoSerial = false;
    int fileUnitType = -1;      // with --file: the one model it goes to
};

#endif // WATCHCOMMAND_H
