#ifndef UPDATERESULT_H
#define UPDATERESULT_H

#include "transfer/transferengine.h"

#include <QMetaType>
#include <QString>

#include <optional>

// How one update of one controller ended, and what the controller holds
// then. Every face words an update's end from this value alone; the flasher
// maps it to its exit code, a station records it.
struct UpdateResult
{
    enum class End {
        Installed,           // the controller reported the update finished
        InstallingOnItsOwn,  // the closed library's model took the image and installs it without a word
        Refused,             // the controller broke off the transfer before it had the whole image
        Rejected,            // the controller turned the whole image down
        Failed,              // the controller could not be written to, or could not install the image
        Stopped,             // stopped on request
        ResultUnknown,       // it has the whole image, and its verdict never came
        NotStarted,          // nothing was sent
    };

    // What the controller holds at the end, as far as the host can know.
    enum class Holds {
        Untouched,     // nothing of this update reached it
        PartialImage,  // part of the image: it keeps its old firmware and times out
        WholeImage,    // the whole image, no verdict yet: it may be checking or installing it
        Installing,    // it reported that it applies the image: it must not be powered off
        Installed,     // it reported the update finished
        OldFirmware,   // it turned the image down and keeps its old firmware
    };

    // Why, where the end alone does not tell.
    enum class Cause {
        None,
        NotOpened,           // the controller could not be opened (openError)
        EmptyImage,          // the image has no bytes (imagePath)
        UnreadableImage,     // the image could not be read whole (imagePath)
        ImageNotApproved,    // the image's SHA-256 is not the one required (imagePath)
        LibraryMissing,      // the closed transfer library is not installed
        DeviceTimeout,       // refusals, while the host waited or sent
        DeviceInternalError,
        PacketsSkipped,
        WrongMd5,            // rejections of the whole image
        WrongFile,
        UpdateInternalError, // it could not install the image
        NotWritten,          // a report could not be written
        ConnectionLost,      // the controller went away
        NoAnswer,            // it stopped answering while it took the image (deadlineSeconds)
        NoVerdict,           // no verdict within the deadline (deadlineSeconds)
        StopTooLate,         // a stop came while the closed library moved the image, which then was whole
    };

    End end = End::NotStarted;
    Holds holds = Holds::Untouched;
    Cause cause = Cause::None;
    QString imagePath;
    QString openError;        // NotOpened: hidapi's reason, where it gave one
    int deadlineSeconds = 0;  // NoVerdict
    int reportsSent = 0;      // data reports that went out, the end report among them
    int reportCount = 0;      // of the whole transfer; 0 on the closed library's path

    // What the controller holds after the transfer reached `phase`; a
    // failure, where one ended it, tells a refusal or a rejection apart.
    static Holds holdsAt(TransferEngine::Phase phase, std::optional<TransferEngine::Failure> failure = std::nullopt);

    // The end a transfer failure at `phase` makes.
    static UpdateResult failed(TransferEngine::Failure failure, TransferEngine::Phase phase);
    // A stop asked while the controller held `askedAt`, taken when the
    // transfer reached `phase`.
    static UpdateResult stopped(Holds askedAt, TransferEngine::Phase phase);
    static UpdateResult notStarted(Cause cause);

    // True when the controller ended with what it was sent: installed, or
    // installing it on its own.
    bool succeeded() const { return end == End::Installed || end == End::InstallingOnItsOwn; }
};

// What the controller holds, named for JSON and records ("whole-image",
// ...): stable across versions, since scripts keep them.
namespace UpdateResultText {
QString holdsName(UpdateResult::Holds holds);
} // namespace UpdateResultText

Q_DECLARE_METATYPE(UpdateResult)

#endif // UPDATERESULT_H
