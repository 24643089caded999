#include "commands/recordkeeper.h"

#include "common/version.h"
#include "protocol/models.h"
#include "update/firmwarefiles.h"
#include "update/versiontext.h"

#include <QSysInfo>

namespace {

QString recordPath(const FlashRequest &request)
{
    return request.records.isEmpty() ? FirmwareFiles::programDirectory() + QLatin1String("/records.jsonl")
                                     : request.records.first();
}

QString versionText(std::optional<int> version)
{
    return version ? VersionText::firmware(*version) : QString();
}

} // namespace

RecordKeeper::RecordKeeper(const FlashRequest &request)
    : file(recordPath(request))
    , station(request.station.isEmpty() ? QSysInfo::machineHostName() : request.station)
    , operatorName(request.operatorName)
{
}

bool RecordKeeper::open(QString *error)
{
    return file.open(error);
}

bool RecordKeeper::write(FlashRecord record, QString *error)
{
    record.station = station;
    record.operatorName = operatorName;
    record.version = VersionText::updater(updaterVersion);
    return file.append(record.jsonLine(), error);
}

FlashRecord RecordKeeper::recordOf(const Attempt &attempt, const Outcome &outcome)
{
    FlashRecord record;
    record.started = attempt.started.toUTC();
    record.ended = QDateTime::currentDateTimeUtc();
    const ModelInfo *model = modelForUnitType(attempt.entry.unitType);
    record.model = model ? QLatin1String(model->name) : QString::number(attempt.entry.unitType);
    record.unitType = attempt.entry.unitType;
    for (const QByteArray &path : attempt.entry.paths)
        record.paths.append(Outcomes::pathText(path));
    record.serial = attempt.entry.serial;
    record.firmwareBefore = versionText(attempt.firmwareBefore);
    record.offered = versionText(attempt.offered);
    const QString image = attempt.result && !attempt.result->imagePath.isEmpty() ? attempt.result->imagePath
                                                                                 : attempt.imagePath;
    if (!image.isEmpty()) {
        const ImageDigest digest = ImageDigest::of(image);
        record.file = image;
        record.size = digest.size;
        record.md5 = digest.md5;
        record.sha256 = digest.sha256;
        record.source = attempt.source;
    }
    record.outcome = outcome.name;
    record.exitCode = int(outcome.code);
    record.controller = UpdateResultText::holdsName(attempt.result ? attempt.result->holds : UpdateResult::Holds::Untouched);
    if (attempt.result) {
        record.reportsSent = attempt.result->reportsSent;
        record.reports = attempt.result->reportCount;
    }
    record.seconds = attempt.started.msecsTo(record.ended) / 1000.0;
    return record;
}
