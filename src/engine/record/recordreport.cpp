#include "record/recordreport.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace {

QString tr(const char *text, const char *disambiguation = nullptr, int n = -1)
{
    return QCoreApplication::translate("RecordSummary", text, disambiguation, n);
}

bool succeeded(const QString &outcome)
{
    return outcome == QLatin1String("installed") || outcome == QLatin1String("installing");
}

// A value on one line of text: a station name with a line break must not
// start a line of its own.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char(' ');
    }
    return text;
}

QString timeText(qint64 ms)
{
    return FlashRecord::timeText(QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC));
}

QString hoursText(qint64 ms)
{
    const qint64 minutes = ms / 60000;
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

double perHour(qint64 count, qint64 ms)
{
    return ms > 0 ? count * 3600000.0 / ms : 0.0;
}

double percent(qint64 part, qint64 whole)
{
    return whole > 0 ? qRound(part * 1000.0 / whole) / 10.0 : 0.0;
}

} // namespace

RecordSummary::Verdict RecordSummary::verdictOf(const QString &outcome)
{
    if (succeeded(outcome) || outcome == QLatin1String("up-to-date") || outcome == QLatin1String("verified"))
        return Verdict::Passed;
    if (outcome == QLatin1String("interrupted") || outcome == QLatin1String("not-confirmed"))
        return Verdict::Skipped;
    return Verdict::Failed;
}

bool RecordSummary::isCheck(const QString &outcome)
{
    return outcome == QLatin1String("verified") || outcome == QLatin1String("not-verified");
}

int RecordSummary::nameIndex(const QString &name)
{
    const auto found = nameIndexes.constFind(name);
    if (found != nameIndexes.constEnd())
        return found.value();
    names.append(name);
    nameIndexes.insert(name, int(names.size() - 1));
    return int(names.size() - 1);
}

void RecordSummary::addSkippedLines(qint64 foreign, qint64 torn)
{
    foreignLines += foreign;
    tornLines += torn;
}

void RecordSummary::add(const FlashRecord &record)
{
    const bool check = isCheck(record.outcome);
    const qint64 startedMs = record.started.toMSecsSinceEpoch();
    const qint64 endedMs = qMax(startedMs, record.ended.toMSecsSinceEpoch());
    ++outcomes[record.outcome];
    ++models[record.model][record.outcome];

    Station &station = stationTable[record.station];
    const Verdict verdict = verdictOf(record.outcome);
    station.failed += verdict == Verdict::Failed ? 1 : 0;
    station.skipped += verdict == Verdict::Skipped ? 1 : 0;
    if (check) {
        ++checkCount;
        ++station.checks;
    } else {
        ++attemptCount;
        if (++station.attempts == 1 || startedMs > station.periodEnd) {
            station.closedMs += station.periodEnd - station.periodStart;
            station.periodStart = startedMs;
            station.periodEnd = endedMs;
        } else {
            station.periodStart = qMin(station.periodStart, startedMs);
            station.periodEnd = qMax(station.periodEnd, endedMs);
        }
        if (attemptCount == 1 || startedMs < firstStartedMs)
            firstStartedMs = startedMs;
        lastEndedMs = qMax(lastEndedMs, endedMs);
    }

    if (record.serial.isEmpty()) {
        if (!check) {
            ++unitsWithoutSerial;
            passedWithoutSerial += succeeded(record.outcome) ? 1 : 0;
        }
        return;
    }
    Serial &serial = serials[record.serial];
    if (!check && ++serial.attempts == 1)
        serial.firstPassed = succeeded(record.outcome);
    // Back on its old firmware after its only attempt: that one did not pass.
    if (record.outcome == QLatin1String("not-verified") && serial.attempts == 1)
        serial.firstPassed = false;
    serial.endedMs = endedMs;
    serial.outcome = nameIndex(record.outcome);
    serial.station = nameIndex(record.station);
    serial.model = nameIndex(record.model);
}

QString RecordSummary::text() const
{
    QString text;
    qint64 units = unitsWithoutSerial, passed = passedWithoutSerial;
    for (const Serial &serial : serials) {
        units += serial.attempts > 0 ? 1 : 0;
        passed += serial.attempts > 0 && serial.firstPassed ? 1 : 0;
    }
    if (attemptCount > 0)
        text += tr("%n attempt(s) from %1 to %2", nullptr, int(attemptCount))
                    .arg(timeText(firstStartedMs), timeText(lastEndedMs));
    else
        text += tr("No attempts");
    if (checkCount > 0)
        text += tr(", %n check(s) on re-plug", nullptr, int(checkCount));
    text += QLatin1Char('.');
    if (foreignLines > 0)
        text += tr(" %n line(s) skipped: not records.", nullptr, int(foreignLines));
    if (tornLines > 0)
        text += tr(" %n torn last line(s) skipped.", nullptr, int(tornLines));
    text += QLatin1Char('\n');

    text += tr("Outcomes:\n");
    for (auto outcome = outcomes.cbegin(); outcome != outcomes.cend(); ++outcome)
        text += QStringLiteral("  %1 %2\n").arg(oneLine(outcome.key()).leftJustified(16)).arg(outcome.value(), 8);
    text += tr("Models:\n");
    for (auto model = models.cbegin(); model != models.cend(); ++model) {
        QStringList parts;
        qint64 total = 0;
        for (auto outcome = model->cbegin(); outcome != model->cend(); ++outcome) {
            parts.append(QStringLiteral("%1 %2").arg(oneLine(outcome.key())).arg(outcome.value()));
            total += outcome.value();
        }
        text += QStringLiteral("  %1 %2  %3\n").arg(oneLine(model.key()).leftJustified(16)).arg(total, 8)
                    .arg(parts.join(QLatin1String(", ")));
    }
    text += tr("First-pass yield: %1 % (%2 of %3 units)\n").arg(percent(passed, units), 0, 'f', 1).arg(passed).arg(units);
    text += tr("Stations:\n");
    for (auto station = stationTable.cbegin(); station != stationTable.cend(); ++station) {
        const qint64 ms = station->flashingMs();
        text += tr("  %1 %2 units in %3 h of flashing, %4 units per hour\n")
                    .arg(oneLine(station.key()).leftJustified(16))
                    .arg(station->attempts, 8)
                    .arg(hoursText(ms))
                    .arg(perHour(station->attempts, ms), 0, 'f', 1);
    }
    text += tr("Last result per serial number:\n");
    QList<QString> keys = serials.keys();
    std::sort(keys.begin(), keys.end());
    for (const QString &key : qAsConst(keys)) {
        const Serial &serial = serials[key];
        text += QStringLiteral("  %1 %2  %3  %4  %5\n")
                    .arg(oneLine(key).leftJustified(16), oneLine(names.at(serial.outcome)).leftJustified(12),
                         timeText(serial.endedMs), oneLine(names.at(serial.station)), oneLine(names.at(serial.model)));
    }
    return text;
}

QByteArray RecordSummary::json() const
{
    qint64 units = unitsWithoutSerial, passed = passedWithoutSerial;
    QJsonObject serialObjects;
    for (auto serial = serials.cbegin(); serial != serials.cend(); ++serial) {
        units += serial->attempts > 0 ? 1 : 0;
        passed += serial->attempts > 0 && serial->firstPassed ? 1 : 0;
        serialObjects.insert(serial.key(), QJsonObject {
            { QStringLiteral("outcome"), names.at(serial->outcome) },
            { QStringLiteral("ended"), timeText(serial->endedMs) },
            { QStringLiteral("station"), names.at(serial->station) },
            { QStringLiteral("model"), names.at(serial->model) },
        });
    }
    QJsonObject outcomeObject, modelObjects, stationObjects;
    for (auto outcome = outcomes.cbegin(); outcome != outcomes.cend(); ++outcome)
        outcomeObject.insert(outcome.key(), outcome.value());
    for (auto model = models.cbegin(); model != models.cend(); ++model) {
        QJsonObject counts;
        for (auto outcome = model->cbegin(); outcome != model->cend(); ++outcome)
            counts.insert(outcome.key(), outcome.value());
        modelObjects.insert(model.key(), counts);
    }
    for (auto station = stationTable.cbegin(); station != stationTable.cend(); ++station) {
        const qint64 ms = station->flashingMs();
        stationObjects.insert(station.key(), QJsonObject {
            { QStringLiteral("units"), station->attempts },
            { QStringLiteral("flashingSeconds"), ms / 1000.0 },
            { QStringLiteral("unitsPerHour"), qRound(perHour(station->attempts, ms) * 10) / 10.0 },
        });
    }
    const QJsonObject report {
        { QStringLiteral("attempts"), attemptCount },
        { QStringLiteral("checks"), checkCount },
        { QStringLiteral("foreignLines"), foreignLines },
        { QStringLiteral("tornLines"), tornLines },
        { QStringLiteral("outcomes"), outcomeObject },
        { QStringLiteral("models"), modelObjects },
        { QStringLiteral("firstPassYield"), QJsonObject { { QStringLiteral("units"), units },
                                                         { QStringLiteral("passed"), passed },
                                                         { QStringLiteral("percent"), percent(passed, units) } } },
        { QStringLiteral("stations"), stationObjects },
        { QStringLiteral("serials"), serialObjects },
    };
    return QJsonDocument(report).toJson(QJsonDocument::Compact) + '\n';
}

namespace RecordCsv {

namespace {

QByteArray joined(const QStringList &cells)
{
    QByteArray line;
    line.reserve(512);
    for (const QString &text : cells) {
        if (!line.isEmpty())
            line += ',';
        // Most cells are plain ASCII, kept as they are: copied without
        // cell()'s copies of them (half of a CSV report's time).
        bool plain = text.isEmpty() || !QStringLiteral("=+-@\t\r").contains(text.at(0));
        for (int i = 0; plain && i < text.size(); ++i) {
            const ushort c = text.at(i).unicode();
            plain = c < 0x80 && c != ',' && c != '"' && c != '\n' && c != '\r';
        }
        if (!plain) {
            line += cell(text).toUtf8();
            continue;
        }
        const int at = line.size();
        line.resize(at + text.size());
        char *out = line.data() + at;
        for (const QChar c : text)
            *out++ = char(c.unicode());
    }
    return line + "\r\n";
}

} // namespace

QString cell(const QString &text)
{
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    const bool formula = !text.isEmpty() && formulaStarts.contains(text.at(0));
    const bool quoted = formula || text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quoted)
        return text;
    QString escaped = text;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + (formula ? QLatin1String("'") : QLatin1String("")) + escaped + QLatin1Char('"');
}

QByteArray header()
{
    return joined({ QStringLiteral("started"), QStringLiteral("ended"), QStringLiteral("station"),
                    QStringLiteral("operator"), QStringLiteral("model"), QStringLiteral("unitType"),
                    QStringLiteral("paths"), QStringLiteral("serial"), QStringLiteral("firmwareBefore"),
                    QStringLiteral("offered"), QStringLiteral("file"), QStringLiteral("size"),
                    QStringLiteral("md5"), QStringLiteral("sha256"), QStringLiteral("source"),
                    QStringLiteral("outcome"), QStringLiteral("exitCode"), QStringLiteral("controller"),
                    QStringLiteral("reportsSent"), QStringLiteral("reports"), QStringLiteral("seconds"),
                    QStringLiteral("version") });
}

QByteArray row(const FlashRecord &record)
{
    return joined({ FlashRecord::timeText(record.started), FlashRecord::timeText(record.ended), record.station,
                    record.operatorName, record.model, QString::number(record.unitType),
                    record.paths.join(QLatin1Char(' ')), record.serial, record.firmwareBefore, record.offered,
                    record.file, record.size >= 0 ? QString::number(record.size) : QString(), record.md5,
                    record.sha256, record.source, record.outcome, QString::number(record.exitCode),
                    record.controller, QString::number(record.reportsSent), QString::number(record.reports),
                    QString::number(record.seconds, 'f', 3), record.version });
}

} // namespace RecordCsv

namespace RecordJUnit {

QByteArray escaped(const QString &text)
{
    // Most texts are plain ASCII with nothing to escape: kept as they are.
    const bool plain = std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        const ushort u = c.unicode();
        return u >= 0x20 && u < 0x80 && u != '&' && u != '<' && u != '>' && u != '"';
    });
    if (plain)
        return text.toLatin1();
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (c == QLatin1Char('&'))
            out += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            out += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            out += QLatin1String("&gt;");
        else if (c == QLatin1Char('"'))
            out += QLatin1String("&quot;");
        else if (u == '\n' || u == '\r' || u == '\t')
            out += QStringLiteral("&#%1;").arg(u);
        else if (u < 0x20 || u == 0xfffe || u == 0xffff)
            out += QChar(QChar::ReplacementCharacter);
        else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            out += text.mid(i++, 2);
        else if (c.isSurrogate())
            out += QChar(QChar::ReplacementCharacter);
        else
            out += c;
    }
    return out.toUtf8();
}

QByteArray begin(qint64 tests, qint64 failures, qint64 skipped)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"tavoro-flash\" tests=\""
           + QByteArray::number(tests) + "\" failures=\"" + QByteArray::number(failures) + "\" skipped=\""
           + QByteArray::number(skipped) + "\">\n";
}

QByteArray suiteBegin(const QString &station, const RecordSummary::Station &counts)
{
    return "  <testsuite name=\"" + escaped(station) + "\" tests=\""
           + QByteArray::number(counts.attempts + counts.checks) + "\" failures=\""
           + QByteArray::number(counts.failed) + "\" skipped=\"" + QByteArray::number(counts.skipped)
           + "\" time=\"" + QByteArray::number(counts.flashingMs() / 1000.0, 'f', 3) + "\">\n";
}

QByteArray testCase(const FlashRecord &record)
{
    const QString unit = QStringList { record.model, record.serial, record.paths.value(0) }.join(QLatin1Char(' ')).simplified();
    QByteArray text = "    <testcase classname=\"" + escaped(record.station + QLatin1Char('.') + record.model)
                      + "\" name=\"" + escaped(unit + QLatin1Char(' ') + FlashRecord::timeText(record.started))
                      + "\" time=\"" + QByteArray::number(record.seconds, 'f', 3) + "\"";
    const QByteArray details = escaped(QStringLiteral("outcome %1, exit code %2, controller %3, file %4")
                                           .arg(record.outcome).arg(record.exitCode)
                                           .arg(record.controller, record.file));
    switch (RecordSummary::verdictOf(record.outcome)) {
    case RecordSummary::Verdict::Passed:
        return text + "/>\n";
    case RecordSummary::Verdict::Skipped:
        return text + ">\n      <skipped message=\"" + escaped(record.outcome) + "\"/>\n    </testcase>\n";
    case RecordSummary::Verdict::Failed:
        break;
    }
    return text + ">\n      <failure type=\"" + escaped(record.outcome) + "\" message=\"" + details + "\">"
           + details + "</failure>\n    </testcase>\n";
}

QByteArray suiteEnd()
{
    return "  </testsuite>\n";
}

QByteArray end()
{
    return "</testsuites>\n";
}

} // namespace RecordJUnit
