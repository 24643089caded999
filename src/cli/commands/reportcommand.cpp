#include "commands/reportcommand.h"

#include "record/groupspool.h"
#include "record/recordreader.h"
#include "record/recordreport.h"
#include "update/firmwarefiles.h"

namespace {

constexpr int pieceBytes = 64 * 1024;

} // namespace

CommandInfo ReportCommand::info()
{
    using C = ExitCode;
    return { "report", "report [--record FILE]... [--since DATE] [--format text|csv|junit|json] [--json]",
             QT_TRANSLATE_NOOP("CommandLine", "Reports what the record files tell: counts, yield, units per hour, the last result per serial number."),
             { QStringLiteral("record"), QStringLiteral("since"), QStringLiteral("format") },
             { C::Success, C::Usage, C::FileProblem },
             [](const FlashRequest &request, bool canAsk) -> std::unique_ptr<Command> {
                 return std::make_unique<ReportCommand>(request, canAsk);
             } };
}

void ReportCommand::start()
{
    files = request.records;
    if (files.isEmpty())
        files.append(FirmwareFiles::programDirectory() + QLatin1String("/records.jsonl"));

    RecordSummary summary;
    if (request.format == QLatin1String("csv")) {
        write(RecordCsv::header());
        if (!readAll([this, &summary](const FlashRecord &record) {
                summary.add(record);
                write(RecordCsv::row(record));
            }))
            return;
    } else {
        // JUnit needs each station's counts before its cases: the cases
        // wait in a spool, grouped by station, while the one pass counts.
        const bool junit = request.format == QLatin1String("junit");
        GroupSpool cases;
        QString spoolError;
        if (!readAll([&](const FlashRecord &record) {
                summary.add(record);
                if (junit && spoolError.isEmpty())
                    cases.append(record.station, RecordJUnit::testCase(record), &spoolError);
            }))
            return;
        if (!spoolError.isEmpty())
            return spoolFailed(spoolError);
        if (request.format == QLatin1String("text")) {
            write(summary.text().toUtf8());
        } else if (request.format == QLatin1String("json")) {
            write(summary.json());
        } else {
            qint64 tests = 0, failed = 0, skipped = 0;
            for (const RecordSummary::Station &station : summary.stations()) {
                tests += station.attempts + station.checks;
                failed += station.failed;
                skipped += station.skipped;
            }
            write(RecordJUnit::begin(tests, failed, skipped));
            for (auto station = summary.stations().cbegin(); station != summary.stations().cend(); ++station) {
                write(RecordJUnit::suiteBegin(station.key(), station.value()));
                const auto writeLines = [this](const QByteArray &lines) {
                    // A line at a time, so that the output's pieces stay about 64 KB.
                    for (int from = 0, to = 0; from < lines.size(); from = to) {
                        to = lines.indexOf('\n', from) + 1;
                        write(QByteArray::fromRawData(lines.constData() + from, to - from));
                    }
                };
                if (!cases.read(station.key(), writeLines, &spoolError))
                    return spoolFailed(spoolError);
                write(RecordJUnit::suiteEnd());
            }
            write(RecordJUnit::end());
        }
    }
    flush();
    const Outcome done { ExitCode::Success, QStringLiteral("reported"),
                         tr("%n attempt(s) reported.", nullptr, int(summary.attempts())) };
    FlashEvent result = FlashEvents::result(done.code, done.name, done.message);
    // The report is the output: no line after it.
    result.text.clear();
    finish(done, result);
}

void ReportCommand::spoolFailed(const QString &error)
{
    flush();
    finish({ ExitCode::FileProblem, QStringLiteral("file-problem"),
             tr("Cannot keep the report's test cases in a temporary file (%1).").arg(error) });
}

bool ReportCommand::readAll(const std::function<void(const FlashRecord &)> &take)
{
    for (const QString &path : qAsConst(files)) {
        RecordReader reader(path);
        QString error;
        if (!reader.open(&error)) {
            flush();
            finish({ ExitCode::FileProblem, QStringLiteral("file-problem"),
                     tr("Cannot read the record file %1 (%2).").arg(path, error) });
            return false;
        }
        while (const std::optional<FlashRecord> record = reader.next()) {
            if (!request.since.isValid() || record->started >= request.since)
                take(*record);
        }
        if (reader.foreignLines() > 0 || reader.tornLines() > 0) {
            FlashEvent skipped { QStringLiteral("skipped-lines"),
                                 tr("%1: %2 line(s) skipped that are not records, %3 torn last line(s) skipped.")
                                     .arg(path).arg(reader.foreignLines()).arg(reader.tornLines()),
                                 { { QStringLiteral("path"), path },
                                   { QStringLiteral("foreign"), reader.foreignLines() },
                                   { QStringLiteral("torn"), reader.tornLines() } },
                                 true };
            emit event(skipped);
        }
    }
    return true;
}

void ReportCommand::write(const QByteArray &piece)
{
    pending += piece;
    if (pending.size() >= pieceBytes)
        flush();
}

void ReportCommand::flush()
{
    if (pending.isEmpty())
        return;
    // The console ends each piece with a line break.
    if (pending.endsWith('\n'))
        pending.chop(1);
    const QString text = QString::fromUtf8(pending);
    // The JSON line carries the piece whole; the console's line adds the LF.
    emit event({ QStringLiteral("report"), text,
                 request.json ? QJsonObject { { QStringLiteral("text"), text + QLatin1Char('\n') } } : QJsonObject(),
                 false });
    pending.clear();
}
