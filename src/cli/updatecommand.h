#ifndef UPDATECOMMAND_H
#define UPDATECOMMAND_H

#include "checkcommand.h"

class QTimer;

// "update": the check, a confirmation, the download of the offered
// firmware (or the file given with --file, or the hand-placed one), the
// transfer and the wait for the controller's verdict, which --timeout
// bounds. What it says after a stop or a failure follows from how far the
// transfer came, as the session reports it.
class UpdateCommand : public CheckCommand
{
    Q_OBJECT

public:
    UpdateCommand(const FlashRequest &request, bool canAsk);
    void start() override;
    void confirm(bool yes) override;
    void interrupt() override;

protected:
    void onFirmwareOffered(int offered) override;
    void onHandPlacedFile(const QString &path) override;
    bool checking() const override { return !isFinished() && stage < Stage::Transferring; }

private:
    enum class Stage { Checking, Confirming, Downloading, Transferring };

    void askToSend(const QString &question);
    void onFirmwareReady(const FirmwareFile &file);
    void startTransfer();
    void announceTransfer();
    void connectTransfer();

    Stage stage = Stage::Checking;
    bool transferAnnounced = false;  // the transfer-started event is out
    QTimer *verdictWatchdog;         // bounds the wait for the controller's verdict
};

#endif // UPDATECOMMAND_H
