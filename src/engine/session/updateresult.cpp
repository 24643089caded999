#include "updateresult.h"

namespace {

using Cause = UpdateResult::Cause;
using End = UpdateResult::End;
using Failure = TransferEngine::Failure;
using Holds = UpdateResult::Holds;
using Phase = TransferEngine::Phase;

struct FailureEnd
{
    End end;
    Cause cause;
};

FailureEnd endOf(Failure failure)
{
    switch (failure) {
    case Failure::FileNotLoaded:
        return { End::NotStarted, Cause::UnreadableImage };
    case Failure::LibraryMissing:
        return { End::NotStarted, Cause::LibraryMissing };
    case Failure::DeviceTimeout:
        return { End::Refused, Cause::DeviceTimeout };
    case Failure::DeviceInternalError:
        return { End::Refused, Cause::DeviceInternalError };
    case Failure::PacketsSkipped:
        return { End::Refused, Cause::PacketsSkipped };
    case Failure::WrongMd5:
        return { End::Rejected, Cause::WrongMd5 };
    case Failure::WrongFile:
        return { End::Rejected, Cause::WrongFile };
    case Failure::UpdateInternalError:
        return { End::Failed, Cause::UpdateInternalError };
    case Failure::StartNotWritten:
    case Failure::EndNotWritten:
        return { End::Failed, Cause::NotWritten };
    case Failure::ConnectionLost:
        break;
    }
    return { End::Failed, Cause::ConnectionLost };
}

bool hasWholeImage(Holds holds)
{
    return holds == Holds::WholeImage || holds == Holds::Installing;
}

} // namespace

UpdateResult::Holds UpdateResult::holdsAt(Phase phase, std::optional<Failure> failure)
{
    if (failure) {
        switch (endOf(*failure).end) {
        case End::Refused:
            return phase == Phase::NothingSent ? Holds::Untouched : Holds::PartialImage;
        case End::Rejected:
            return Holds::OldFirmware;
        case End::Failed:
            if (*failure == Failure::UpdateInternalError)
                return Holds::OldFirmware;
            break;
        default:
            break;
        }
    }
    switch (phase) {
    case Phase::NothingSent:
        return Holds::Untouched;
    case Phase::PartlySent:
        return Holds::PartialImage;
    case Phase::AwaitingVerdict:
        return Holds::WholeImage;
    case Phase::Applying:
        return Holds::Installing;
    case Phase::Finished:
        break;
    }
    return Holds::Installed;
}

UpdateResult UpdateResult::failed(Failure failure, Phase phase)
{
    UpdateResult result;
    const FailureEnd failureEnd = endOf(failure);
    result.end = failureEnd.end;
    result.cause = failureEnd.cause;
    result.holds = holdsAt(phase, failure);
    // A controller that can no longer be reached after it had the whole
    // image may be installing it: nobody can say how it ends.
    if (hasWholeImage(result.holds) && (result.cause == Cause::ConnectionLost || result.cause == Cause::NotWritten))
        result.end = End::ResultUnknown;
    return result;
}

UpdateResult UpdateResult::stopped(Holds askedAt, Phase phase)
{
    UpdateResult result;
    result.holds = holdsAt(phase);
    result.end = End::Stopped;
    // The stop was meant to keep the image from the controller, and came
    // too late for it.
    if (hasWholeImage(result.holds) && !hasWholeImage(askedAt)) {
        result.end = End::ResultUnknown;
        result.cause = Cause::StopTooLate;
    }
    return result;
}

UpdateResult UpdateResult::notStarted(Cause cause)
{
    UpdateResult result;
    result.cause = cause;
    return result;
}

namespace UpdateResultText {

QString holdsName(UpdateResult::Holds holds)
{
    switch (holds) {
    case Holds::Untouched:
        return QStringLiteral("untouched");
    case Holds::PartialImage:
        return QStringLiteral("partial-image");
    case Holds::WholeImage:
        return QStringLiteral("whole-image");
    case Holds::Installing:
        return QStringLiteral("installing");
    case Holds::Installed:
        return QStringLiteral("installed");
    case Holds::OldFirmware:
        break;
    }
    return QStringLiteral("old-firmware");
}

} // namespace UpdateResultText
