// The record of a station: its lines survive torn writes, full disks and
// other processes; the reader skips what is not a record; the report's
// CSV and JUnit hold what a spreadsheet or a CI server reads safely.

#include "record/flashrecord.h"
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
