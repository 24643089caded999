#ifndef FLASHRECORD_H
#define FLASHRECORD_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// One attempt at a controller as a station keeps it: one JSON object on a
// line of its own in the record file. The field names are kept across
// versions, since reports and spreadsheets read them.
struct FlashRecord
{
    QDateTime started;            // UTC
    QDateTime ended;              // UTC
    QString station;
    QString operatorName;         // "operator"; empty: left out
    QString model;
    int unitType = -1;
    QStringList paths;
    QString serial;               // the USB serial number; empty: left out
    QString firmwareBefore;       // "1.2"; empty: not read
    QString offered;              // "1.3"; empty: none (current, or a given file)
    QString file;                 // the image sent; empty: none
    qint64 size = -1;             // of the image; -1: left out with the file
    QString md5;                  // hex, of the image
    QString sha256;
    QString source;               // "downloaded", "hand-placed", "file"
    QString outcome;              // the JSON result's name, or "verified", "not-verified"
    int exitCode = 0;
    QString controller;           // what it holds at the end (UpdateResultText::holdsName); empty: left out
    int reportsSent = 0;
    int reports = 0;
    double seconds = 0;
    QString version;              // of the program that wrote it

    // The record as one line: compact JSON ending in LF, UTF-8. Quotes,
    // control characters and line breaks inside a value are escaped, so
    // that a value can never end or split the line.
    QByteArray jsonLine() const;

    // The record of one line (with or without its LF); nullopt for a line
    // that is not one: not JSON, not an object, or without the times and
    // the outcome (a torn line, or one some other program wrote).
    static std::optional<FlashRecord> fromJsonLine(const QByteArray &line);

    // ISO 8601 in UTC with milliseconds: "2024-05-01T09:30:00.125Z".
    static QString timeText(const QDateTime &time);

    // The milliseconds since the epoch that `text` names in timeText()'s
    // spelling exactly, for the years 1 to 9999; nullopt for an impossible
    // date or time and for any other spelling (which QDateTime's ISO 8601
    // reading may still accept: fromJsonLine() falls back on it).
    static std::optional<qint64> msecsFromTimeText(QLatin1String text);
};

// A firmware image's size and digests, as the record names it.
struct ImageDigest
{
    qint64 size = -1;
    QString md5;
    QString sha256;

    // Reads the file at `path` once; size -1 when it cannot be read.
    static ImageDigest of(const QString &path);
};

#endif // FLASHRECORD_H
