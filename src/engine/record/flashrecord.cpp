#include "record/flashrecord.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 msPerDay = 24 * 60 * 60 * 1000;

QDateTime timeFrom(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar,
// which is Qt's for the years after 0.
qint64 daysFromCivil(int year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const int yearOfEra = year - era * 400;
    const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return qint64(era) * 146097 + dayOfEra - 719468;
}

void civilFromDays(qint64 days, int *year, int *month, int *day)
{
    days += 719468;
    const qint64 era = (days >= 0 ? days : days - 146096) / 146097;
    const int dayOfEra = int(days - era * 146097);
    const int yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int shiftedMonth = (5 * dayOfYear + 2) / 153;
    *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    *year = int(yearOfEra + era * 400) + (*month <= 2 ? 1 : 0);
}

int daysInMonth(int year, int month)
{
    static const int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

// A record line read without QJsonDocument, which took most of a report's
// time. It reads the lines the appender writes (a flat object; strings in
// ASCII or UTF-8, or with simple escapes; plain numbers) and nothing more:
// at anything else it gives up (false) and QJsonDocument reads the line, so
// that both read every line alike.
class FastLine
{
public:
    explicit FastLine(const QByteArray &line)
        : at(line.constData()), end(line.constData() + line.size())
    {
    }

    // The record's fields; the times as written, for msecsFromTimeText().
    bool read(FlashRecord *record, QLatin1String *started, QLatin1String *ended);

private:
    enum Field { Started, Ended, Station, Operator, Model, UnitType, Paths, Serial, FirmwareBefore, Offered,
                 File, Size, Md5, Sha256, Source, Outcome, ExitCode, Controller, ReportsSent, Reports, Seconds,
                 Version, Unknown };
    static Field fieldOf(QLatin1String key);

    void skipSpace()
    {
        while (at < end && (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r'))
            ++at;
    }
    bool take(char c)
    {
        skipSpace();
        if (at == end || *at != c)
            return false;
        ++at;
        return true;
    }
    bool peek(char c) const { return at < end && *at == c; }
    bool value(Field field, FlashRecord *record, QLatin1String *started, QLatin1String *ended);
    bool string(QString *text, QLatin1String *raw = nullptr);
    bool strings(QStringList *texts);
    bool number(double *value, qint64 *integer, bool *integral);
    bool integer(qint64 low, qint64 high, qint64 *value);

    const char *at;
    const char *end;
};

FastLine::Field FastLine::fieldOf(QLatin1String key)
{
    static const QLatin1String names[] = {
        QLatin1String("started"), QLatin1String("ended"), QLatin1String("station"), QLatin1String("operator"),
        QLatin1String("model"), QLatin1String("unitType"), QLatin1String("paths"), QLatin1String("serial"),
        QLatin1String("firmwareBefore"), QLatin1String("offered"), QLatin1String("file"), QLatin1String("size"),
        QLatin1String("md5"), QLatin1String("sha256"), QLatin1String("source"), QLatin1String("outcome"),
        QLatin1String("exitCode"), QLatin1String("controller"), QLatin1String("reportsSent"),
        QLatin1String("reports"), QLatin1String("seconds"), QLatin1String("version"),
    };
    for (int i = 0; i < Unknown; ++i) {
        if (names[i].size() == key.size() && std::memcmp(names[i].data(), key.data(), size_t(key.size())) == 0)
            return Field(i);
    }
    return Unknown;
}

// UTF-8 as RFC 3629 has it: no overlong forms, no surrogates, nothing
// beyond U+10FFFF.
bool validUtf8(const char *at, const char *end)
{
    while (at < end) {
        const uchar lead = uchar(*at);
        int more = 0;
        uint code = 0;
        if (lead < 0x80) {
            ++at;
            continue;
        } else if (lead >= 0xc2 && lead <= 0xdf) {
            more = 1;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            more = 2;
            code = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            more = 3;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (end - at <= more)
            return false;
        for (int i = 1; i <= more; ++i) {
            const uchar next = uchar(at[i]);
            if ((next & 0xc0) != 0x80)
                return false;
            code = code << 6 | (next & 0x3f);
        }
        if ((more == 2 && (code < 0x800 || (code >= 0xd800 && code <= 0xdfff)))
            || (more == 3 && (code < 0x10000 || code > 0x10ffff)))
            return false;
        at += more + 1;
    }
    return true;
}

// At a string's opening quote. `raw` is its text as written, when it has
// no escapes and is ASCII.
bool FastLine::string(QString *text, QLatin1String *raw)
{
    if (!peek('"'))
        return false;
    const char *begin = ++at;
    bool ascii = true, escapes = false;
    while (at < end && *at != '"') {
        const uchar c = uchar(*at++);
        if (c < 0x20)
            return false;
        if (c == '\\') {
            escapes = true;
            if (at++ == end)
                return false;
        }
        ascii = ascii && c < 0x80;
    }
    if (at == end)
        return false;
    const char *stop = at++;
    const int size = int(stop - begin);
    if (raw)
        *raw = ascii && !escapes ? QLatin1String(begin, size) : QLatin1String();
    if (!escapes) {
        if (ascii) {
            if (text)
                *text = QString::fromLatin1(begin, size);
            return true;
        }
        if (!validUtf8(begin, stop))
            return false;
        if (text)
            *text = QString::fromUtf8(begin, size);
        return true;
    }
    if (!ascii)
        return false;
    QString decoded;
    decoded.reserve(size);
    for (const char *c = begin; c < stop; ++c) {
        if (*c != '\\') {
            decoded += QLatin1Char(*c);
            continue;
        }
        switch (*++c) {
        case '"': case '\\': case '/': decoded += QLatin1Char(*c); break;
        case 'b': decoded += QLatin1Char('\b'); break;
        case 'f': decoded += QLatin1Char('\f'); break;
        case 'n': decoded += QLatin1Char('\n'); break;
        case 'r': decoded += QLatin1Char('\r'); break;
        case 't': decoded += QLatin1Char('\t'); break;
        case 'u': {
            if (stop - c < 5)
                return false;
            ushort code = 0;
            for (int i = 1; i <= 4; ++i) {
                const char h = c[i];
                const int digit = h >= '0' && h <= '9' ? h - '0'
                                  : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                  : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
                if (digit < 0)
                    return false;
                code = ushort(code << 4 | digit);
            }
            if (QChar::isSurrogate(code))
                return false;
            decoded += QChar(code);
            c += 4;
            break;
        }
        default:
            return false;
        }
    }
    if (text)
        *text = decoded;
    return true;
}

bool FastLine::strings(QStringList *texts)
{
    if (!take('['))
        return false;
    if (take(']'))
        return true;
    do {
        skipSpace();
        QString text;
        if (!string(&text))
            return false;
        texts->append(text);
    } while (take(','));
    return take(']');
}

// -?(0|[1-9][0-9]*)(.[0-9]+)? with at most 15 digits before the point:
// plain numbers, which QJsonDocument holds exactly as this does. An
// integer is also given as such.
bool FastLine::number(double *value, qint64 *integer, bool *integral)
{
    const char *begin = at;
    const bool negative = peek('-');
    at += negative ? 1 : 0;
    const char *digits = at;
    qint64 whole = 0;
    while (at < end && *at >= '0' && *at <= '9')
        whole = whole * 10 + (*at++ - '0');
    const qptrdiff count = at - digits;
    if (count == 0 || count > 15 || (count > 1 && *digits == '0'))
        return false;
    *integral = !peek('.');
    if (!*integral) {
        const char *fraction = ++at;
        while (at < end && *at >= '0' && *at <= '9')
            ++at;
        if (at == fraction)
            return false;
    }
    if (peek('e') || peek('E'))
        return false;
    if (*integral) {
        *integer = negative ? -whole : whole;
        *value = double(*integer);
    } else {
        const std::from_chars_result result = std::from_chars(begin, at, *value);
        if (result.ec != std::errc() || result.ptr != at)
            return false;
    }
    // A negative zero, "-0" or "-0.0": left to QJsonDocument, which has its own reading of it.
    return !(negative && *value == 0);
}

bool FastLine::integer(qint64 low, qint64 high, qint64 *value)
{
    double real = 0;
    bool integral = false;
    return number(&real, value, &integral) && integral && *value >= low && *value <= high;
}

bool FastLine::value(Field field, FlashRecord *record, QLatin1String *started, QLatin1String *ended)
{
    qint64 whole = 0;
    switch (field) {
    case Started:
        return string(nullptr, started) && started->data();
    case Ended:
        return string(nullptr, ended) && ended->data();
    case Station: return string(&record->station);
    case Operator: return string(&record->operatorName);
    case Model: return string(&record->model);
    case Serial: return string(&record->serial);
    case FirmwareBefore: return string(&record->firmwareBefore);
    case Offered: return string(&record->offered);
    case File: return string(&record->file);
    case Md5: return string(&record->md5);
    case Sha256: return string(&record->sha256);
    case Source: return string(&record->source);
    case Outcome: return string(&record->outcome);
    case Controller: return string(&record->controller);
    case Version: return string(&record->version);
    case Paths: return strings(&record->paths);
    case UnitType:
    case ExitCode:
    case ReportsSent:
    case Reports: {
        if (!integer(std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), &whole))
            return false;
        int &target = field == UnitType ? record->unitType
                      : field == ExitCode ? record->exitCode
                      : field == ReportsSent ? record->reportsSent : record->reports;
        target = int(whole);
        return true;
    }
    case Size:
        if (!integer(std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), &whole))
            return false;
        record->size = whole;
        return true;
    case Seconds: {
        bool integral = false;
        return number(&record->seconds, &whole, &integral);
    }
    case Unknown: {
        double real = 0;
        bool integral = false;
        return peek('"') ? string(nullptr) : number(&real, &whole, &integral);
    }
    }
    return false;
}

bool FastLine::read(FlashRecord *record, QLatin1String *started, QLatin1String *ended)
{
    if (!take('{'))
        return false;
    quint32 seen = 0;
    if (!take('}')) {
        do {
            skipSpace();
            // Keys in plain ASCII only.
            if (!peek('"'))
                return false;
            const char *key = ++at;
            while (at < end && *at != '"' && *at != '\\' && uchar(*at) >= 0x20 && uchar(*at) < 0x80)
                ++at;
            if (!peek('"'))
                return false;
            const Field field = fieldOf(QLatin1String(key, int(at++ - key)));
            // A key given twice: which one counts is QJsonDocument's to say.
            if (field != Unknown && (seen & (1u << field)))
                return false;
            seen |= field != Unknown ? 1u << field : 0;
            if (!take(':'))
                return false;
            skipSpace();
            if (!value(field, record, started, ended))
                return false;
        } while (take(','));
        if (!take('}'))
            return false;
    }
    skipSpace();
    return at == end;
}

std::optional<FlashRecord> fromJsonDocument(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    FlashRecord record;
    record.started = timeFrom(object.value(QLatin1String("started")).toString());
    record.ended = timeFrom(object.value(QLatin1String("ended")).toString());
    record.outcome = object.value(QLatin1String("outcome")).toString();
    record.station = object.value(QLatin1String("station")).toString();
    record.operatorName = object.value(QLatin1String("operator")).toString();
    record.model = object.value(QLatin1String("model")).toString();
    record.unitType = object.value(QLatin1String("unitType")).toInt(-1);
    for (const QJsonValue &path : object.value(QLatin1String("paths")).toArray())
        record.paths.append(path.toString());
    record.serial = object.value(QLatin1String("serial")).toString();
    record.firmwareBefore = object.value(QLatin1String("firmwareBefore")).toString();
    record.offered = object.value(QLatin1String("offered")).toString();
    record.file = object.value(QLatin1String("file")).toString();
    record.size = qint64(object.value(QLatin1String("size")).toDouble(-1));
    record.md5 = object.value(QLatin1String("md5")).toString();
    record.sha256 = object.value(QLatin1String("sha256")).toString();
    record.source = object.value(QLatin1String("source")).toString();
    record.exitCode = object.value(QLatin1String("exitCode")).toInt();
    record.controller = object.value(QLatin1String("controller")).toString();
    record.reportsSent = object.value(QLatin1String("reportsSent")).toInt();
    record.reports = object.value(QLatin1String("reports")).toInt();
    record.seconds = object.value(QLatin1String("seconds")).toDouble();
    record.version = object.value(QLatin1String("version")).toString();
    return record;
}

} // namespace

QString FlashRecord::timeText(const QDateTime &time)
{
    // By hand for the years 1000 to 9999: QDateTime's own formatting was
    // a sixth of a CSV report's time.
    static const qint64 firstMs = daysFromCivil(1000, 1, 1) * msPerDay;
    static const qint64 endMs = daysFromCivil(10000, 1, 1) * msPerDay;
    const qint64 msecs = time.isValid() ? time.toMSecsSinceEpoch() : 0;
    if (!time.isValid() || msecs < firstMs || msecs >= endMs)
        return time.toUTC().toString(Qt::ISODateWithMs);
    qint64 days = msecs / msPerDay;
    int ms = int(msecs % msPerDay);
    if (ms < 0) {
        ms += int(msPerDay);
        --days;
    }
    int year = 0, month = 0, day = 0;
    civilFromDays(days, &year, &month, &day);
    char text[] = "0000-00-00T00:00:00.000Z";
    const auto put = [&text](int at, int digits, int value) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            text[i] = char('0' + value % 10);
    };
    put(0, 4, year);
    put(5, 2, month);
    put(8, 2, day);
    put(11, 2, ms / 3600000);
    put(14, 2, ms / 60000 % 60);
    put(17, 2, ms / 1000 % 60);
    put(20, 3, ms % 1000);
    return QString::fromLatin1(text, int(sizeof text) - 1);
}

std::optional<qint64> FlashRecord::msecsFromTimeText(QLatin1String text)
{
    static const char pattern[] = "0000-00-00T00:00:00.000Z";
    if (text.size() != int(sizeof pattern) - 1)
        return std::nullopt;
    const char *at = text.data();
    for (int i = 0; i < text.size(); ++i) {
        const bool digit = at[i] >= '0' && at[i] <= '9';
        if (pattern[i] == '0' ? !digit : at[i] != pattern[i])
            return std::nullopt;
    }
    const auto number = [at](int from, int digits) {
        int value = 0;
        for (int i = from; i < from + digits; ++i)
            value = value * 10 + (at[i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1 || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) || hour > 23
        || minute > 59 || second > 59)
        return std::nullopt;
    return daysFromCivil(year, month, day) * msPerDay + ((hour * 60 + minute) * 60 + second) * 1000
           + number(20, 3);
}

QByteArray FlashRecord::jsonLine() const
{
    QJsonObject object {
        { QStringLiteral("started"), timeText(started) },
        { QStringLiteral("ended"), timeText(ended) },
        { QStringLiteral("station"), station },
        { QStringLiteral("model"), model },
        { QStringLiteral("unitType"), unitType },
        { QStringLiteral("paths"), QJsonArray::fromStringList(paths) },
        { QStringLiteral("outcome"), outcome },
        { QStringLiteral("exitCode"), exitCode },
        { QStringLiteral("reportsSent"), reportsSent },
        { QStringLiteral("reports"), reports },
        { QStringLiteral("seconds"), qRound(seconds * 1000) / 1000.0 },
        { QStringLiteral("version"), version },
    };
    const auto insertText = [&object](const char *key, const QString &value) {
        if (!value.isEmpty())
            object.insert(QLatin1String(key), value);
    };
    insertText("operator", operatorName);
    insertText("serial", serial);
    insertText("firmwareBefore", firmwareBefore);
    insertText("offered", offered);
    insertText("file", file);
    insertText("md5", md5);
    insertText("sha256", sha256);
    insertText("source", source);
    insertText("controller", controller);
    if (size >= 0)
        object.insert(QStringLiteral("size"), size);
    // QJsonDocument escapes quotes, backslashes and every control character.
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<FlashRecord> FlashRecord::fromJsonLine(const QByteArray &line)
{
    std::optional<FlashRecord> record(std::in_place);
    QLatin1String started, ended;
    if (FastLine(line).read(&*record, &started, &ended)) {
        const std::optional<qint64> startedMs = msecsFromTimeText(started);
        const std::optional<qint64> endedMs = msecsFromTimeText(ended);
        record->started = startedMs ? QDateTime::fromMSecsSinceEpoch(*startedMs, Qt::UTC) : timeFrom(started);
        record->ended = endedMs ? QDateTime::fromMSecsSinceEpoch(*endedMs, Qt::UTC) : timeFrom(ended);
    } else {
        record = fromJsonDocument(line);
    }
    if (!record || !record->started.isValid() || !record->ended.isValid() || record->outcome.isEmpty())
        return std::nullopt;
    return record;
}

ImageDigest ImageDigest::of(const QString &path)
{
    ImageDigest digest;
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return digest;
    QCryptographicHash md5(QCryptographicHash::Md5), sha256(QCryptographicHash::Sha256);
    qint64 size = 0;
    char buffer[64 * 1024];
    for (qint64 read; (read = file.read(buffer, sizeof buffer)) > 0; size += read) {
        md5.addData(buffer, int(read));
        sha256.addData(buffer, int(read));
    }
    if (!file.atEnd())
        return digest;
    digest.size = size;
    digest.md5 = QString::fromLatin1(md5.result().toHex());
    digest.sha256 = QString::fromLatin1(sha256.result().toHex());
    return digest;
}
