#ifndef EXITCODE_H
#define EXITCODE_H

#include <QList>
#include <QString>

// The flasher's exit codes: scripts tell every outcome apart by them.
enum class ExitCode {
    Success = 0,             // list printed, firmware current, update installed, log downloaded
    Usage = 2,               // unknown command or option, or a missing or invalid value
    NoController = 3,        // nothing attached, or --device names nothing attached
    NoAccess = 4,            // a controller could not be opened (on Linux: the udev rule)
    SeveralControllers = 5,  // several attached and no --device
    NotSupported = 6,        // the command does not work with this controller
    FirmwareAvailable = 10,  // check: newer firmware is offered
    NewerUpdater = 11,       // a newer updater must be installed first
    ServerUnreachable = 20,  // the download server could not be reached or gave no usable answer
    FileProblem = 21,        // the firmware, the update file or --output could not be written or read; an empty image
    ManifestIncomplete = 22, // the server's version manifest lacks an entry the check needs
    ImageNotApproved = 23,   // the firmware image's SHA-256 is not the one --sha256 names: nothing sent
    NotConfirmed = 30,       // update: not confirmed
    TransferRefused = 40,    // the controller refused the transfer before it began
    WrongMd5 = 41,           // the controller rejected the image's digest
    InstallFailed = 42,      // the controller could not install the image
    ControllerGone = 43,     // the controller vanished before it had the whole image: it keeps its firmware
    LibraryMissing = 44,     // the transfer library of MOSS controllers is missing, or does not exist here
    ResultUnknown = 45,      // the controller had the whole image; its verdict never came
    LogIncomplete = 50,      // log: the controller did not send its whole log
    Interrupted = 130,       // stopped with Ctrl+C
};

struct ExitCodeInfo
{
    ExitCode code;
    QString meaning;
};

// Every exit code with what it means, in ascending order; each command
// declares which it can end with.
QList<ExitCodeInfo> exitCodeTable();

// A station's exit code from its units' codes: 0 when every unit ended
// installed or current; else the most serious failure's code, the
// controller's unknown state first; 130 when units were only stopped.
ExitCode stationExitCode(const QList<ExitCode> &unitCodes);

// A station's running tally of its units: done (installed or current),
// failed, and in progress. A unit stopped with Ctrl+C is neither done nor
// failed.
struct StationTally
{
    int done = 0;
    int failed = 0;
    int inProgress = 0;
    int notVerified = 0;  // back on the old firmware after an installed result

    void addEnded(ExitCode code);
};

#endif // EXITCODE_H
