#include "common/programlog.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>

#include <cstdio>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// File descriptor calls; the Windows C runtime names them with an underscore.
#ifdef Q_OS_WIN
int duplicateFd(int fd) { return _dup(fd); }
int redirectFd(int from, int to) { return _dup2(from, to); }
int closeFd(int fd) { return _close(fd); }
int stdoutFd() { return _fileno(stdout); }
#else
int duplicateFd(int fd) { return dup(fd); }
int redirectFd(int from, int to) { return dup2(from, to); }
int closeFd(int fd) { return close(fd); }
int stdoutFd() { return STDOUT_FILENO; }
#endif

const QRegularExpression stampedLine(
    QStringLiteral("^\\d{4}-\\d{2}-\\d{2}_\\d{2}:\\d{2}:\\d{2} : (.*)$"));

QStringList logFilesIn(const QString &directory)
{
    return QDir(directory).entryList({ QStringLiteral("*.log") }, QDir::Files, QDir::Name);
}

void removeLogsIn(const QString &directory)
{
    for (const QString &name : logFilesIn(directory))
        QFile::remove(directory + QLatin1Char('/') + name);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Sends what the handler writes to standard output into a file meanwhile.
class StdoutCapture
{
public:
    StdoutCapture()
    {
        file.open();
        std::fflush(stdout);
        saved = duplicateFd(stdoutFd());
        redirectFd(file.handle(), stdoutFd());
    }
    QByteArray finish()
    {
        std::fflush(stdout);
        redirectFd(saved, stdoutFd());
        closeFd(saved);
        return readFile(file.fileName());
    }

private:
    QTemporaryFile file;
    int saved = -1;
};

} // namespace

class TestProgramLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void formatting_data();
    void formatting();
    void handlerWritesFileAndConsole();
    void twoThreadsKeepLinesWhole();
    void runsInTheSameSecondShareOneFile();

private:
    QString logPath() const;
};

void TestProgramLog::initTestCase()
{
    removeLogsIn(QCoreApplication::applicationDirPath());
}

QString TestProgramLog::logPath() const
{
    const QString directory = QCoreApplication::applicationDirPath();
    const QStringList files = logFilesIn(directory);
    return files.size() == 1 ? directory + QLatin1Char('/') + files.first() : QString();
}

void TestProgramLog::formatting_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("fileLine");
    QTest::addColumn<QByteArray>("consoleLine");

    QTest::newRow("plain") << QStringLiteral("program started")
                           << QByteArray("2021-03-03_09:05:07 : program started\n")
                           << QByteArray("program started\n");
    QTest::newRow("empty") << QString() << QByteArray("2021-03-03_09:05:07 : \n")
                           << QByteArray("\n");
    QTest::newRow("beyond Latin-1")
        << QStringLiteral("d\u00e9j\u00e0 \u041f\u0440\u0438 \u20ac")
        << QByteArray("2021-03-03_09:05:07 : d\xc3\xa9j\xc3\xa0 \xd0\x9f\xd1\x80\xd0\xb8 \xe2\x82\xac\n")
        << QByteArray("d\xe9j\xe0 ??? ?\n");
    QTest::newRow("line break") << QStringLiteral("Can't read current version\n (No such device)")
                                << QByteArray("2021-03-03_09:05:07 : Can't read current version\n (No such device)\n")
                                << QByteArray("Can't read current version\n (No such device)\n");
}

void TestProgramLog::formatting()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, fileLine);
    QFETCH(QByteArray, consoleLine);

    const QDateTime time(QDate(2021, 3, 3), QTime(9, 5, 7));
    QCOMPARE(ProgramLog::fileNameFor(time), QStringLiteral("2021-03-03_09_05_07.log"));
    QCOMPARE(ProgramLog::fileLine(time, message), fileLine);
    QCOMPARE(ProgramLog::consoleLine(message), consoleLine);
}

void TestProgramLog::handlerWritesFileAndConsole()
{
    StdoutCapture console;
    const QMessageLogContext context;
    logMessageHandler(QtDebugMsg, context, QString());  // opens the file, writes no line
    logMessageHandler(QtWarningMsg, context, QStringLiteral("first"));
    logMessageHandler(QtDebugMsg, context, QStringLiteral("two\nlines"));
    libraryLogCallback(u"from the library \u00e9\u20ac");
    const QByteArray printed = console.finish();

    QCOMPARE(printed, QByteArray("\nfirst\ntwo\nlines\nfrom the library \xe9?\n"));

    const QString path = logPath();
    QVERIFY2(!path.isEmpty(), "exactly one program log is expected");
    QVERIFY(QRegularExpression(QStringLiteral("/\\d{4}-\\d{2}-\\d{2}_\\d{2}_\\d{2}_\\d{2}\\.log$"))
                .match(path).hasMatch());

    const QList<QByteArray> lines = readFile(path).split('\n');
    QCOMPARE(lines.size(), 5);  // four lines and what follows the last LF
    QCOMPARE(stampedLine.match(QString::fromUtf8(lines[0])).captured(1), QStringLiteral("first"));
    QCOMPARE(stampedLine.match(QString::fromUtf8(lines[1])).captured(1), QStringLiteral("two"));
    QCOMPARE(lines[2], QByteArray("lines"));
    QCOMPARE(stampedLine.match(QString::fromUtf8(lines[3])).captured(1),
             QStringLiteral("from the library \u00e9\u20ac"));
    QVERIFY(lines[4].isEmpty());
}

void TestProgramLog::twoThreadsKeepLinesWhole()
{
    const int perThread = 400;
    auto writer = [](const QString &name) {
        return QThread::create([name] {
            for (int i = 0; i < perThread; ++i)
                logMessageHandler(QtDebugMsg, QMessageLogContext(),
                                  QStringLiteral("%1 line %2 of a longer message").arg(name).arg(i));
        });
    };
    StdoutCapture console;
    QScopedPointer<QThread> gui(writer(QStringLiteral("gui")));
    QScopedPointer<QThread> worker(writer(QStringLiteral("worker")));
    gui->start();
    worker->start();
    QVERIFY(gui->wait(30000));
    QVERIFY(worker->wait(30000));
    const QByteArray printed = console.finish();

    QCOMPARE(logFilesIn(QCoreApplication::applicationDirPath()).size(), 1);
    QSet<QString> seen;
    for (const QByteArray &line : readFile(logPath()).split('\n')) {
        const QRegularExpressionMatch match = stampedLine.match(QString::fromUtf8(line));
        if (match.hasMatch() && match.captured(1).contains(QLatin1String(" of a longer message")))
            seen.insert(match.captured(1));
    }
    QCOMPARE(seen.size(), 2 * perThread);
    QCOMPARE(printed.count('\n'), 2 * perThread);
    for (const QByteArray &line : printed.split('\n'))
        QVERIFY(line.isEmpty() || line.endsWith(" of a longer message"));
}

void TestProgramLog::runsInTheSameSecondShareOneFile()
{
    const QString program = QStringLiteral(PROGRAMLOG_WRITER);
    const QString directory = QFileInfo(program).absolutePath();
    // Two quick runs usually start within one second; retry until they do.
    for (int attempt = 0; attempt < 10; ++attempt) {
        removeLogsIn(directory);
        QCOMPARE(QProcess::execute(program, { QStringLiteral("first run") }), 0);
        QCOMPARE(QProcess::execute(program, { QStringLiteral("second run") }), 0);
        const QStringList files = logFilesIn(directory);
        if (files.size() != 1)
            continue;
        const QList<QByteArray> lines = readFile(directory + QLatin1Char('/') + files.first()).split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(stampedLine.match(QString::fromUtf8(lines[0])).captured(1), QStringLiteral("first run"));
        QCOMPARE(stampedLine.match(QString::fromUtf8(lines[1])).captured(1), QStringLiteral("second run"));
        return;
    }
    QSKIP("the two runs never started within the same second");
}

QTEST_GUILESS_MAIN(TestProgramLog)
#include "tst_programlog.moc"
