// The flasher's small parts: reading the command line, the progress
// line's rate and time left, the copy that replaces a user's file, and a
// station's tally and exit code.

#include "cli/commandline.h"
#include "cli/exitcode.h"
#include "cli/commands/filecopy.h"
#include "cli/console/progressline.h"

#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include "filesizelimit.h"
#endif

#include <optional>

class TestFlashText : public QObject
{
    Q_OBJECT

private slots:
    void commandLine_data();
    void commandLine();
    void progress_data();
    void progress();
    void copyReplacing_data();
    void copyReplacing();
    void station_data();
    void station();
};

void TestFlashText::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("parsed");  // command|json|yes|device|file|output|timeout, or "error: ..."

    const auto row = [](const char *name, const QString &line, const QString &parsed) {
        QTest::newRow(name) << line.split(QLatin1Char(' '), Qt::SkipEmptyParts) << parsed;
    };
    row("list", QStringLiteral("list"), QStringLiteral("list|0|0||||300"));
    row("options before and after the command", QStringLiteral("--json update -y -d /dev/hidraw3 --file=fw.sb"),
        QStringLiteral("update|1|1|/dev/hidraw3|fw.sb||300"));
    row("log output", QStringLiteral("log -o out.enc"), QStringLiteral("log|0|0|||out.enc|300"));
    row("help wins", QStringLiteral("update --bogus --help"), QStringLiteral("update help"));
    row("help alone", QStringLiteral("-h"), QStringLiteral("help"));
    row("no command", QStringLiteral("--json"), QStringLiteral("error: no command given"));
    row("two commands", QStringLiteral("list check"), QStringLiteral("error: unexpected argument \"check\""));
    row("stray argument", QStringLiteral("update fw.sb"), QStringLiteral("error: unexpected argument \"fw.sb\""));
    row("unknown option", QStringLiteral("list --force"), QStringLiteral("error: unknown option \"--force\""));
    row("missing value", QStringLiteral("check --device"), QStringLiteral("error: --device needs a value"));
    row("value on a flag", QStringLiteral("update --yes=no"), QStringLiteral("error: --yes takes no value"));
    row("option of another command", QStringLiteral("check --file fw.sb"),
        QStringLiteral("error: check does not take --file"));
    row("device on list", QStringLiteral("list --device /dev/hidraw3"),
        QStringLiteral("error: list does not take --device"));
    row("timeout", QStringLiteral("update --timeout 5"), QStringLiteral("update|0|0||||5"));
    row("timeout with =, a day", QStringLiteral("update --timeout=86400 -y"), QStringLiteral("update|0|1||||86400"));
    row("timeout not a number", QStringLiteral("update --timeout soon"),
        QStringLiteral("error: --timeout needs a whole number of seconds from 1 to 86400"));
    row("timeout over a day", QStringLiteral("update --timeout 86401"),
        QStringLiteral("error: --timeout needs a whole number"));
    row("every controller", QStringLiteral("update --all --yes"), QStringLiteral("update all|0|1||||300"));
    row("every controller and one", QStringLiteral("update --all -d /dev/hidraw3"),
        QStringLiteral("error: --all and --device exclude each other"));
    row("all on check", QStringLiteral("check --all"), QStringLiteral("error: check does not take --all"));
    row("station", QStringLiteral("watch --file fw.sb --timeout 60"), QStringLiteral("watch|0|0||fw.sb||60"));
    row("station for one controller", QStringLiteral("watch --device /dev/hidraw3"),
        QStringLiteral("error: watch does not take --device"));
    row("serial", QStringLiteral("update --serial TV0001 --record r.jsonl --station A --operator B"),
        QStringLiteral("update|0|0||||300"));
    row("serial and device", QStringLiteral("check --serial TV0001 -d /dev/hidraw3"),
        QStringLiteral("error: --serial excludes --all and --device"));
    row("two records for an update", QStringLiteral("update --record a --record b"),
        QStringLiteral("error: update takes one --record"));
    row("empty station", QStringLiteral("watch --station="), QStringLiteral("error: --station needs a name"));
    row("approved image, upper case", QStringLiteral("update --all --yes --sha256 E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"),
        QStringLiteral("update all|0|1||||300"));
    row("approved image, lower case", QStringLiteral("watch --sha256=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
        QStringLiteral("watch|0|0||||300"));
    row("approved image, too short", QStringLiteral("update --sha256 E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B8"),
        QStringLiteral("error: --sha256 needs a SHA-256 of 64 hex digits"));
    row("approved image, not hex", QStringLiteral("update --sha256 E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B85g"),
        QStringLiteral("error: --sha256 needs a SHA-256 of 64 hex digits"));
    row("approved image on check", QStringLiteral("check --sha256 e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"),
        QStringLiteral("error: check does not take --sha256"));
    row("report of two files", QStringLiteral("report --record a --record b --since 2024-05-01 --format junit"),
        QStringLiteral("report|0|0||||300"));
    row("report format", QStringLiteral("report --format xls"), QStringLiteral("error: --format needs text, csv"));
    row("report since", QStringLiteral("report --since yesterday"), QStringLiteral("error: --since needs a date"));
}

void TestFlashText::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, parsed);

    QString error;
    const std::optional<FlashRequest> request = CommandLine::parse(arguments, &error);
    QString actual;
    if (!request) {
        actual = QStringLiteral("error: ") + error;
        QVERIFY2(actual.startsWith(parsed), qPrintable(actual));
        return;
    }
    const QString name = request->command;
    if (request->help)
        actual = (name.isEmpty() ? QString() : name + QLatin1Char(' ')) + QStringLiteral("help");
    else
        actual = QStringList { request->all ? name + QStringLiteral(" all") : name, QString::number(request->json), QString::number(request->yes),
                               request->device, request->file, request->output,
                               QString::number(request->timeoutSeconds) }
                     .join(QLatin1Char('|'));
    QCOMPARE(actual, parsed);
}

void TestFlashText::progress_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<qint64>("elapsedMs");
    QTest::addColumn<int>("columns");  // of the terminal; 0: not known
    QTest::addColumn<QString>("live");
    QTest::addColumn<QString>("step");

    QTest::newRow("counted") << 42 << 1500 << 3334 << qint64(1650) << 80 << QStringLiteral("transfer   42 %  909 reports/s  0:03 left")
                             << QStringLiteral("transfer 40 %");
    // A second started is a second left: the time is rounded up.
    QTest::newRow("minutes") << 1 << 100 << 100000 << qint64(1000) << 0 << QStringLiteral("transfer    1 %  100 reports/s  16:39 left")
                             << QStringLiteral("transfer 0 %");
    QTest::newRow("nothing sent yet") << 0 << 0 << 3334 << qint64(0) << 0 << QStringLiteral("transfer    0 %")
                                      << QStringLiteral("transfer 0 %");
    QTest::newRow("done") << 100 << 3334 << 3334 << qint64(3700) << 0 << QStringLiteral("transfer  100 %  901 reports/s  0:00 left")
                          << QStringLiteral("transfer 100 %");
    QTest::newRow("not counted") << 37 << -1 << -1 << qint64(900) << 0 << QStringLiteral("transfer   37 %")
                                 << QStringLiteral("transfer 30 %");
    // A line as wide as the console would wrap.
    QTest::newRow("narrow console") << 42 << 1500 << 3334 << qint64(1650) << 20 << QStringLiteral("transfer   42 %  90")
                                    << QStringLiteral("transfer 40 %");
}

void TestFlashText::progress()
{
    QFETCH(int, percent);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(qint64, elapsedMs);
    QFETCH(int, columns);
    QFETCH(QString, live);
    QFETCH(QString, step);

    const ProgressSample sample { QStringLiteral("transfer"), percent, done, total, elapsedMs };
    QCOMPARE(ProgressLine::fit(ProgressLine::liveLine(sample), columns), live);
    QCOMPARE(ProgressLine::stepLine(sample), step);
    const QJsonObject json = ProgressLine::json(sample);
    QCOMPARE(json.contains(QStringLiteral("secondsLeft")), ProgressLine::liveLine(sample).endsWith(QLatin1String("left")));
    QCOMPARE(json.value(QStringLiteral("done")).toInt(-1), done);
}

void TestFlashText::copyReplacing_data()
{
    QTest::addColumn<bool>("fullDisk");
    QTest::newRow("replaces the file") << false;
    QTest::newRow("full disk leaves the file") << true;
}

void TestFlashText::copyReplacing()
{
    QFETCH(bool, fullDisk);
    QTemporaryDir dir;
    const QByteArray log(5000, 'L'), old("the user's own file");
    QFile source(dir.filePath(QStringLiteral("log.enc"))), target(dir.filePath(QStringLiteral("unit 7.enc")));
    QVERIFY(source.open(QIODevice::WriteOnly) && source.write(log) == log.size());
    QVERIFY(target.open(QIODevice::WriteOnly) && target.write(old) == old.size());
    source.close();
    target.close();
    {
#ifdef Q_OS_UNIX
        std::optional<FileSizeLimit> limit;
        if (fullDisk)
            limit.emplace(1000);
#else
        if (fullDisk)
            QSKIP("needs a file size limit");
#endif
        QCOMPARE(FileCopy::copyReplacing(source.fileName(), target.fileName()).isEmpty(), !fullDisk);
    }
    QVERIFY(target.open(QIODevice::ReadOnly));
    QCOMPARE(target.readAll(), fullDisk ? old : log);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2);
}

void TestFlashText::station_data()
{
    QTest::addColumn<QList<int>>("ended");    // the units' exit codes
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("tally");       // done|failed

    QTest::newRow("every unit installed or current") << QList<int> { 0, 0 } << 0 << "2|0";
    QTest::newRow("no unit") << QList<int> {} << 0 << "0|0";
    QTest::newRow("stopped units are not failures") << QList<int> { 0, 130 } << 130 << "1|0";
    QTest::newRow("a failure outweighs a stop") << QList<int> { 130, 41, 0 } << 41 << "1|1";
    QTest::newRow("an unknown state outweighs every failure") << QList<int> { 41, 45, 43, 20 } << 45 << "0|4";
    QTest::newRow("a controller failure outweighs the server's") << QList<int> { 20, 40, 4 } << 40 << "0|3";
    QTest::newRow("could not install outweighs went away") << QList<int> { 43, 42, 0 } << 42 << "1|2";
    // Whatever a unit's failure, the station fails with it.
    for (const ExitCodeInfo &info : exitCodeTable()) {
        const int code = int(info.code);
        if (info.code != ExitCode::Success && info.code != ExitCode::Interrupted)
            QTest::addRow("failure %d among stops and installs", code) << QList<int> { 130, code, 0 } << code << "1|1";
    }
}

void TestFlashText::station()
{
    QFETCH(QList<int>, ended);
    QFETCH(int, exitCode);
    QFETCH(QString, tally);

    QList<ExitCode> codes;
    StationTally counted;
    for (int code : ended) {
        codes.append(ExitCode(code));
        counted.addEnded(ExitCode(code));
    }
    QCOMPARE(int(stationExitCode(codes)), exitCode);
    QCOMPARE(QStringLiteral("%1|%2").arg(counted.done).arg(counted.failed), tally);
}

QTEST_GUILESS_MAIN(TestFlashText)
#include "tst_flashtext.moc"
