#ifndef RECORDREPORT_H
#define RECORDREPORT_H

#include "record/flashrecord.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

// What the records of a station tell, taken one record at a time. Memory
// grows with the distinct outcomes, models and stations, and with the
// distinct serial numbers (the last result of each), never with the
// number of records.
//
// An attempt is a record of an update (a verification on re-plug is a
// check, not an attempt). A unit is a serial number; an attempt without
// one is a unit of its own. First-pass yield: the units whose first
// attempt installed the firmware, and was not found on its old firmware
// when it came back. The flashing time of a station is the union of its
// attempts' times, taken in the order they were recorded; units per hour
// are its attempts over that time.
class RecordSummary
{
public:
    enum class Verdict { Passed, Skipped, Failed };
    // How a test report counts an outcome: installed, installing, current
    // or verified passes; not confirmed or stopped is skipped; the rest fails.
    static Verdict verdictOf(const QString &outcome);
    static bool isCheck(const QString &outcome);  // "verified", "not-verified"

    void add(const FlashRecord &record);
    void addSkippedLines(qint64 foreign, qint64 torn);

    struct Station
    {
        qint64 attempts = 0;
        qint64 checks = 0;
        qint64 failed = 0;   // attempts and checks, for a test report
        qint64 skipped = 0;
        qint64 flashingMs() const { return closedMs + (periodEnd - periodStart); }

        qint64 closedMs = 0;
        qint64 periodStart = 0;  // the busy period still open, in ms since the epoch
        qint64 periodEnd = 0;
    };

    qint64 attempts() const { return attemptCount; }
    const QMap<QString, Station> &stations() const { return stationTable; }

    // For a person: the counts by outcome and model, the first-pass
    // yield, each station's units per hour, and the last result of each
    // serial number. Control characters in values are shown as blanks.
    QString text() const;
    // The same as one JSON object, ending in LF.
    QByteArray json() const;

private:
    struct Serial
    {
        qint64 endedMs = 0;
        int outcome = 0;  // indexes into `names`
        int station = 0;
        int model = 0;
        int attempts = 0;
        bool firstPassed = false;
    };
    int nameIndex(const QString &name);

    qint64 attemptCount = 0;
    qint64 checkCount = 0;
    qint64 foreignLines = 0;
    qint64 tornLines = 0;
    qint64 unitsWithoutSerial = 0;
    qint64 passedWithoutSerial = 0;
    qint64 firstStartedMs = 0;
    qint64 lastEndedMs = 0;
    QMap<QString, qint64> outcomes;
    QMap<QString, QMap<QString, qint64>> models;
    QMap<QString, Station> stationTable;
    QHash<QString, Serial> serials;
    QStringList names;               // outcomes, stations and models, each once
    QHash<QString, int> nameIndexes;
};

// One row per record, for spreadsheets (RFC 4180, CRLF). A text cell that
// a spreadsheet would run as a formula (starting with = + - @, a tab or a
// CR) is prefixed with an apostrophe and quoted.
namespace RecordCsv {
QByteArray header();
QByteArray row(const FlashRecord &record);
QString cell(const QString &text);
} // namespace RecordCsv

// A JUnit XML document written in pieces: the head, then per station its
// suite's head, its test cases (one per record) and its end; then the end.
namespace RecordJUnit {
QByteArray begin(qint64 tests, qint64 failures, qint64 skipped);
QByteArray suiteBegin(const QString &station, const RecordSummary::Station &counts);
QByteArray testCase(const FlashRecord &record);
QByteArray suiteEnd();
QByteArray end();
// `text` for an XML attribute or text: markup escaped, line breaks as
// character references, characters XML cannot hold replaced by U+FFFD.
QByteArray escaped(const QString &text);
} // namespace RecordJUnit

#endif // RECORDREPORT_H
