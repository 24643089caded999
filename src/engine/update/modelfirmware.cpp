#include "modelfirmware.h"

#include "update/firmwarefiles.h"
#include "update/manifest.h"

#include <QDir>

ModelFirmware::ModelFirmware(int unitType, QObject *parent)
    : QObject(parent)
    , unitType(unitType)
{
    connect(&session, &UpdateSession::firmwareOffered, this, [this](const QString &offered, const QString &) {
        offeredVersion = offered;
        currentState = State::Offered;
        emit checked();
    });
    connect(&session, &UpdateSession::upToDate, this, [this] {
        currentState = State::Current;
        emit checked();
    });
    connect(&session, &UpdateSession::updaterOffered, this, [this] { fail({ true, {} }); });
    connect(&session, &UpdateSession::checkFailed, this,
            [this](const UpdateSession::CheckProblem &problem) { fail({ false, problem.kind }); });
    connect(&session, &UpdateSession::firmwareReady, this, [this](const FirmwareFile &file) {
        // A hand-placed file is not for a station: it cannot say which
        // model it is for.
        if (file.source != FirmwareFile::Source::Downloaded || currentState != State::Downloading)
            return;
        firmwarePath = file.path;
        currentState = State::Ready;
        emit ready();
    });
}

void ModelFirmware::check(quint8 version)
{
    checkedVersion = version;
    currentState = State::Checking;
    session.checkFor(unitType, version);
}

void ModelFirmware::download()
{
    currentState = State::Downloading;
    session.setFirmwarePath(QDir(FirmwareFiles::programDirectory())
                                .filePath(QStringLiteral("%1_%2.sb")
                                              .arg(Manifest::modelKey(unitType))
                                              .arg(Manifest::firmwareNumber(offeredVersion.value_or(QString())))));
    session.downloadFirmware();
}

void ModelFirmware::useFile(const QString &path)
{
    firmwarePath = path;
    currentState = State::Ready;
    emit ready();
}

std::optional<bool> ModelFirmware::needs(quint8 version) const
{
    if (!firmwarePath.isEmpty() && !offeredVersion)
        return true;  // a given file goes to every controller
    if (offeredVersion)
        return Manifest::isNewerFirmware(*offeredVersion, version);
    if (currentState == State::Current && version >= checkedVersion)
        return false;
    return std::nullopt;
}

void ModelFirmware::fail(const Failure &failure)
{
    if (currentState == State::Failed)
        return;
    failureReason = failure;
    currentState = State::Failed;
    emit failed();
}
