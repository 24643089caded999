// The record of a station: its lines survive torn writes, full disks and
// other processes; the reader skips what is not a record; the report's
// CSV and JUnit hold what a spreadsheet or a CI server reads safely.

#include "record/flashrecord.h"
#include "record/groupspool.h"
#include "record/recordfile.h"
#include "record/recordreader.h"
#include "record/recordreport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#ifdef Q_OS_UNIX
#include "filesizelimit.h"
#endif

namespace {

FlashRecord sample(const QString &serial, const QString &outcome, const QString &station = QStringLiteral("bench 1"))
{
    FlashRecord record;
    record.started = QDateTime(QDate(2024, 5, 1), QTime(9, 0), Qt::UTC);
    record.ended = record.started.addMSecs(12500);
    record.station = station;
    record.model = QStringLiteral("CALYX4");
    record.unitType = 0;
    record.paths = QStringList { QStringLiteral("/dev/hidraw3") };
    record.serial = serial;
    record.outcome = outcome;
    record.exitCode = outcome == QLatin1String("installed") ? 0 : 41;
    record.seconds = 12.5;
    return record;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

} // namespace

class TestRecord : public QObject
{
    Q_OBJECT

private slots:
    void append_data();
    void append();
    void twoProcesses();
    void read();
    void timeText_data();
    void timeText();
    void line_data();
    void line();
    void groupSpool();
    void csvAndJUnit();
};

void TestRecord::append_data()
{
    QTest::addColumn<QByteArray>("before");   // the file's bytes; "DIR": a directory at its name
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<QString>("error");       // empty: appended
    QTest::addColumn<int>("records");         // read back afterwards

    QTest::newRow("new file") << QByteArray() << false << QString() << 1;
    QTest::newRow("after a whole line") << sample(QStringLiteral("A"), QStringLiteral("installed")).jsonLine() << false
                                        << QString() << 2;
    // A power cut left half a line: the next one must not be glued to it.
    QTest::newRow("after a torn line") << QByteArray("{\"started\":\"2024-05-01T09:00:00.000Z\",\"sta") << false
                                       << QString() << 1;
    QTest::newRow("a directory") << QByteArray("DIR") << false << QStringLiteral("directory") << 0;
#ifdef Q_OS_UNIX
    QTest::newRow("full disk leaves the file whole") << sample(QStringLiteral("A"), QStringLiteral("installed")).jsonLine()
                                                     << true << QStringLiteral("space") << 1;
#endif
}

void TestRecord::append()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, fullDisk);
    QFETCH(QString, error);
    QFETCH(int, records);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    if (before == "DIR")
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("records.jsonl")));
    else if (!before.isEmpty())
        writeAll(path, before);

    RecordFile file(path);
    QString problem;
    bool appended = file.open(&problem);
    if (appended) {
#ifdef Q_OS_UNIX
        std::optional<FileSizeLimit> limit;
        if (fullDisk)
            limit.emplace(before.size() + 10);
#else
        Q_UNUSED(fullDisk)
#endif
        appended = file.append(sample(QStringLiteral("B \"quoted\"\nline"), QStringLiteral("installed")).jsonLine(), &problem);
    }
    QCOMPARE(appended, error.isEmpty());
    QVERIFY2(problem.contains(error, Qt::CaseInsensitive), qPrintable(problem));
    if (before == "DIR")
        return;
    if (fullDisk)
        QCOMPARE(readAll(path), before);

    RecordReader reader(path);
    QVERIFY(reader.open(&problem));
    int read = 0;
    while (const std::optional<FlashRecord> record = reader.next()) {
        ++read;
        if (record->serial.startsWith(QLatin1Char('B')))
            QCOMPARE(record->serial, QStringLiteral("B \"quoted\"\nline"));
    }
    QCOMPARE(read, records);
    QCOMPARE(reader.tornLines(), 0);
}

// Two processes append to one file at once: every line whole, none lost.
void TestRecord::twoProcesses()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    const QString appender = QCoreApplication::applicationDirPath() + QStringLiteral("/record-appender");
    const int each = 300;
    QProcess first, second;
    first.start(appender, { path, QStringLiteral("first"), QString::number(each) });
    second.start(appender, { path, QStringLiteral("second"), QString::number(each) });
    for (QProcess *process : { &first, &second }) {
        QVERIFY(process->waitForFinished(60000));
        QCOMPARE(process->exitCode(), 0);
    }
    RecordReader reader(path);
    QString problem;
    QVERIFY(reader.open(&problem));
    QSet<QString> serials;
    while (const std::optional<FlashRecord> record = reader.next())
        serials.insert(record->serial);
    QCOMPARE(reader.foreignLines() + reader.tornLines(), 0);
    QCOMPARE(serials.size(), 2 * each);
}

void TestRecord::read()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    const QByteArray whole = sample(QStringLiteral("A"), QStringLiteral("installed")).jsonLine();
    writeAll(path, "not json\n" + whole + "{\"event\":\"result\"}\n\n" + whole + whole.left(40));

    RecordReader reader(path);
    QString problem;
    QVERIFY(reader.open(&problem));
    int records = 0;
    while (reader.next())
        ++records;
    QCOMPARE(records, 2);
    QCOMPARE(reader.foreignLines(), 2);
    QCOMPARE(reader.tornLines(), 1);
}

void TestRecord::timeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("exact");     // in timeText()'s spelling, read by hand
    QTest::addColumn<qint64>("msecs");
    QTest::addColumn<bool>("readable");  // a record starting then is read (else by QDateTime)

    QTest::newRow("the record's spelling") << QStringLiteral("2024-05-01T09:30:00.125Z") << true << Q_INT64_C(1714555800125) << true;
    QTest::newRow("leap day") << QStringLiteral("2024-02-29T23:59:59.999Z") << true << Q_INT64_C(1709251199999) << true;
    QTest::newRow("leap day of a 400th year") << QStringLiteral("2000-02-29T12:00:00.000Z") << true << Q_INT64_C(951825600000) << true;
    QTest::newRow("before the epoch") << QStringLiteral("1969-12-31T23:59:59.999Z") << true << Q_INT64_C(-1) << true;
    QTest::newRow("last year") << QStringLiteral("9999-12-31T23:59:59.999Z") << true << Q_INT64_C(253402300799999) << true;
    QTest::newRow("not a leap year") << QStringLiteral("2023-02-29T00:00:00.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("no leap day in 1900") << QStringLiteral("1900-02-29T00:00:00.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("month 13") << QStringLiteral("2024-13-01T00:00:00.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("day 31 of April") << QStringLiteral("2024-04-31T00:00:00.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("leap second") << QStringLiteral("2016-12-31T23:59:60.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("year 0") << QStringLiteral("0000-01-01T00:00:00.000Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("one-digit month") << QStringLiteral("2024-5-01T09:30:00.125Z") << false << Q_INT64_C(0) << false;
    QTest::newRow("no milliseconds") << QStringLiteral("2024-05-01T09:30:00Z") << false << Q_INT64_C(0) << true;
    QTest::newRow("an offset") << QStringLiteral("2024-05-01T11:30:00.125+02:00") << false << Q_INT64_C(0) << true;
    QTest::newRow("hour 24") << QStringLiteral("2024-05-01T24:00:00.000Z") << false << Q_INT64_C(0) << true;
    QTest::newRow("empty") << QString() << false << Q_INT64_C(0) << false;
}

void TestRecord::timeText()
{
    QFETCH(QString, text);
    QFETCH(bool, exact);
    QFETCH(qint64, msecs);
    QFETCH(bool, readable);
    const QByteArray latin = text.toLatin1();
    const std::optional<qint64> read = FlashRecord::msecsFromTimeText(QLatin1String(latin.constData(), latin.size()));
    QCOMPARE(read.has_value(), exact);
    if (exact) {
        QCOMPARE(*read, msecs);
        QCOMPARE(FlashRecord::timeText(QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC)), text);
    }
    // Whatever the hand reading refuses, QDateTime's reads as it did.
    const std::optional<FlashRecord> record = FlashRecord::fromJsonLine(
        "{\"started\":\"" + latin + "\",\"ended\":\"2024-05-01T09:30:00.125Z\",\"outcome\":\"installed\"}\n");
    QCOMPARE(record.has_value(), readable);
    if (readable)
        QCOMPARE(record->started, QDateTime::fromString(text, Qt::ISODateWithMs).toUTC());
}

void TestRecord::line_data()
{
    QTest::addColumn<QByteArray>("fields");  // after the times and the outcome
    QTest::addColumn<bool>("readable");
    QTest::addColumn<QString>("station");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<double>("seconds");

    QTest::newRow("the appender's") << QByteArray(",\"station\":\"bench 1\",\"exitCode\":41,\"seconds\":6.5}") << true
                                    << QStringLiteral("bench 1") << 41 << 6.5;
    QTest::newRow("escapes") << QByteArray(",\"station\":\"a\\\"b\\\\\\n\\u00e9\\/\" , \"exitCode\" : -3 }") << true
                             << QStringLiteral("a\"b\\\n\u00e9/") << -3 << 0.0;
    QTest::newRow("UTF-8") << QByteArray(",\"station\":\"S\xc3\xbc\x64 \xf0\x9f\x98\x80\",\"seconds\":12}") << true
                           << QStringLiteral("S\u00fcd \U0001F600") << 0 << 12.0;
    QTest::newRow("UTF-8 with an escape") << QByteArray(",\"station\":\"S\xc3\xbc\x64\\t\"}") << true
                                          << QStringLiteral("S\u00fcd\t") << 0 << 0.0;
    QTest::newRow("a surrogate pair escaped") << QByteArray(",\"station\":\"\\ud83d\\ude00\"}") << true
                                              << QStringLiteral("\U0001F600") << 0 << 0.0;
    QTest::newRow("other values") << QByteArray(",\"x\":{\"y\":[1,null,true]},\"station\":\"b\",\"exitCode\":4.0,\"seconds\":1e1}")
                                  << true << QStringLiteral("b") << 4 << 10.0;
    QTest::newRow("numbers as strings") << QByteArray(",\"exitCode\":\"41\",\"seconds\":\"6.5\"}") << true << QString() << 0 << 0.0;
    QTest::newRow("a fraction for an integer") << QByteArray(",\"exitCode\":4.5}") << true << QString() << 0 << 0.0;
    QTest::newRow("garbage after the object") << QByteArray(",\"station\":\"b\"} x") << false << QString() << 0 << 0.0;
    QTest::newRow("unended string") << QByteArray(",\"station\":\"b}") << false << QString() << 0 << 0.0;
}

// Lines in the appender's shape are read by hand, any other by
// QJsonDocument: both alike.
void TestRecord::line()
{
    QFETCH(QByteArray, fields);
    QFETCH(bool, readable);
    QFETCH(QString, station);
    QFETCH(int, exitCode);
    QFETCH(double, seconds);
    const std::optional<FlashRecord> record = FlashRecord::fromJsonLine(
        "{\"started\":\"2024-05-01T09:30:00.125Z\",\"ended\":\"2024-05-01T09:30:06.625Z\",\"outcome\":\"installed\""
        + fields + '\n');
    QCOMPARE(record.has_value(), readable);
    if (!readable)
        return;
    QCOMPARE(record->station, station);
    QCOMPARE(record->exitCode, exitCode);
    QCOMPARE(record->seconds, seconds);
    QCOMPARE(record->ended.toMSecsSinceEpoch() - record->started.toMSecsSinceEpoch(), Q_INT64_C(6500));
}

void TestRecord::groupSpool()
{
    // A budget of a few lines: most go to the file, some stay held.
    GroupSpool spool(40);
    QMap<QString, QByteArray> expected;
    QString problem;
    for (int i = 0; i < 200; ++i) {
        // Interleaved groups, then a run of one (spilled again and again).
        const QString group = QStringLiteral("g%1").arg(i >= 100 && i < 150 ? 0 : i % 7 % 3);
        const QByteArray piece = i == 50 ? QByteArray(100, 'x') + "\n" : "case " + QByteArray::number(i) + "\nend\n";
        QVERIFY(spool.append(group, piece, &problem));
        expected[group] += piece;
    }
    const QStringList groups = QStringList(expected.keys()) << QStringLiteral("none");
    for (const QString &group : groups) {
        QByteArray read;
        QVERIFY(spool.read(group, [&read](const QByteArray &lines) {
            QVERIFY(lines.endsWith('\n'));
            read += lines;
        }, &problem));
        QCOMPARE(read, expected.value(group));
    }
}

void TestRecord::csvAndJUnit()
{
    const QString hostile = QStringLiteral("=HYPERLINK(\"x\")\nbench <2> & \x01");
    const QList<FlashRecord> records { sample(QStringLiteral("A"), QStringLiteral("installed")),
                                       sample(QStringLiteral("B"), QStringLiteral("wrong-md5"), hostile),
                                       sample(QStringLiteral("-1+2"), QStringLiteral("interrupted")) };
    RecordSummary summary;
    QByteArray csv = RecordCsv::header();
    for (const FlashRecord &record : records) {
        summary.add(record);
        csv += RecordCsv::row(record);
    }
    const QList<QByteArray> rows = csv.split('\n');
    QCOMPARE(rows.first(), QByteArray("started,ended,station,operator,model,unitType,paths,serial,firmwareBefore,"
                                      "offered,file,size,md5,sha256,source,outcome,exitCode,controller,reportsSent,"
                                      "reports,seconds,version\r"));
    QVERIFY(rows.at(1).startsWith("2024-05-01T09:00:00.000Z,2024-05-01T09:00:12.500Z,bench 1,,CALYX4,0,/dev/hidraw3,A,"));
    // A formula is quoted and starts with an apostrophe; the cell keeps its line break.
    QVERIFY(csv.contains(",\"'=HYPERLINK(\"\"x\"\")\nbench <2> & \x01\",,CALYX4,"));
    QVERIFY(csv.contains(",\"'-1+2\","));

    QByteArray junit = RecordJUnit::begin(3, 1, 1);
    for (auto station = summary.stations().cbegin(); station != summary.stations().cend(); ++station) {
        junit += RecordJUnit::suiteBegin(station.key(), station.value());
        for (const FlashRecord &record : records) {
            if (record.station == station.key())
                junit += RecordJUnit::testCase(record);
        }
        junit += RecordJUnit::suiteEnd();
    }
    junit += RecordJUnit::end();

    QXmlStreamReader xml(junit);
    QStringList seen;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        if (xml.name() == QLatin1String("testsuite"))
            seen.append(QStringLiteral("suite %1 %2/%3/%4").arg(attributes.value(QLatin1String("name")))
                            .arg(attributes.value(QLatin1String("tests")))
                            .arg(attributes.value(QLatin1String("failures")))
                            .arg(attributes.value(QLatin1String("skipped"))));
        else if (xml.name() != QLatin1String("testsuites") && xml.name() != QLatin1String("testcase"))
            seen.append(xml.name().toString() + QLatin1Char(' ') + attributes.value(QLatin1String("type")));
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(seen, (QStringList { QStringLiteral("suite =HYPERLINK(\"x\")\nbench <2> & %1 1/1/0").arg(QChar(QChar::ReplacementCharacter)),
                                  QStringLiteral("failure wrong-md5"),
                                  QStringLiteral("suite bench 1 2/0/1"), QStringLiteral("skipped ") }));
}

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
