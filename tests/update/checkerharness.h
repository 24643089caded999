#ifndef CHECKERHARNESS_H
#define CHECKERHARNESS_H

// Shared by the update checker's tests: a readable trace of the checker's
// signals, the program log without its system error suffixes, a manifest
// the loopback server can serve, the program directory's update files and
// a stand-in for the desktop's opener.

#include "update/updatechecker.h"

#include "eventloop.h"
#include "logcapture.h"

#include <QtTest>

// The manifest's address on the download server.
inline const QByteArray manifestPath = "/TVDownloadSite/wp-content/uploads/versions.txt";

// A complete manifest for the EBONY family (unit types 12 to 17).
inline QByteArray ebonyManifest(const QByteArray &firmwareVersion, const QByteArray &mainVersion = "14")
{
    return "EBONYVer=" + firmwareVersion + "\n"
           "EBONYBin=http://files.tavoro.test/fw/ebony.sb\n"
           "EBONYChangeLog=http://files.tavoro.test/fw/ebony.txt\n"
           "MainVer=" + mainVersion + "\n"
           "MainChangeLog=http://files.tavoro.test/updater/changes.txt\n"
           "WinMainBin=http://files.tavoro.test/updater/setup.exe\n";
}

// Records the checker's signals in order as "name|argument|argument".
// A null text argument shows as "<null>"; progress goes to its own list.
class SignalTrace : public QObject
{
public:
    explicit SignalTrace(UpdateChecker &checker)
    {
        record(checker, &UpdateChecker::findMainNewVersion, "findMainNewVersion");
        record(checker, &UpdateChecker::findNewVersion, "findNewVersion");
        record(checker, &UpdateChecker::youHaveLastVersion, "youHaveLastVersion");
        record(checker, &UpdateChecker::newUpdateFileDownloaded, "newUpdateFileDownloaded");
        record(checker, &UpdateChecker::youHaveProblem, "youHaveProblem");
        record(checker, &UpdateChecker::changeUpdateFileName, "changeUpdateFileName");
        record(checker, &UpdateChecker::startDownloadMainUpdate, "startDownloadMainUpdate");
        connect(&checker, &UpdateChecker::checkversionError, this, [this](const QString &error) {
            errors.append(error);
            events.append(QStringLiteral("checkversionError"));
        });
        connect(&checker, &UpdateChecker::downloadProgress, this, [this](int percent) { progress.append(percent); });
    }

    // Waits until `count` signals have been traced, then a little longer so
    // that an unexpected extra one shows.
    bool waitForCount(int count, int timeoutMs = 10000)
    {
        const bool reached = TestLoop::waitFor([&] { return events.size() >= count; }, timeoutMs);
        TestLoop::spin(50);
        return reached;
    }

    QStringList events;
    QStringList errors;  // checkversionError texts
    QList<int> progress;

private:
    static QString shown(const QString &text) { return text.isNull() ? QStringLiteral("<null>") : text; }
    static QString shown(bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); }

    template<typename... Args>
    void record(UpdateChecker &checker, void (UpdateChecker::*signal)(Args...), const char *name)
    {
        connect(&checker, signal, this, [this, name](Args... args) {
            events.append(QStringList{ QLatin1String(name), shown(args)... }.join(QLatin1Char('|')));
        });
    }
};

inline const QString connectionProblem = QStringLiteral("youHaveProblem|Problem with internet connection|");

// The program log as the checker wrote it: without the "app path" debug
// line, and without the " (system error text)" that qErrnoWarning appends.
inline QStringList programLog(const LogCapture &log)
{
    static const QRegularExpression errnoSuffix(QStringLiteral(" \\([^()\\n]*\\)$"));
    QStringList result;
    for (QString line : log.lines()) {
        if (!line.startsWith(QLatin1String("app path ")))
            result.append(line.remove(errnoSuffix));
    }
    return result;
}

// One checker, its signals and the program log it writes.
struct CheckerRun
{
    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace{ checker };

    // Starts a check for a unit of `unitType` with firmware `version`.
    void check(int unitType = 12, const QString &version = QStringLiteral("23"))
    {
        checker.setUnitType(unitType);
        checker.setCurrentVersion(version);
        checker.checkVersion();
    }
    QStringList log() const { return programLog(capture); }
};

// The program directory, and so these files, is known only once the
// application object exists.
inline QString programFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}
inline QString updateFile() { return programFile(QStringLiteral("updater.sb")); }
inline QString temporaryFile() { return programFile(QStringLiteral("updater.sb.upd")); }
inline QString backupFile() { return programFile(QStringLiteral("updater.sb.bkp")); }
inline QString overrideFile() { return programFile(QStringLiteral("SUPER_MEGA_UPDATE.sb")); }

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// The file's bytes, or a null array when there is no such file.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QByteArray bytes = file.readAll();
    return bytes.isNull() ? QByteArray("") : bytes;
}

inline void removeProgramFiles()
{
    for (const QString &path : { updateFile(), backupFile(), overrideFile() })
        QFile::remove(path);
    QDir(backupFile()).removeRecursively();
    QDir().rmdir(temporaryFile());
    QFile::remove(temporaryFile());
}

// While it lives, PATH holds only a stand-in for the desktop's opener
// (xdg-open) that records its argument count and arguments, one a line;
// or, when not `installed`, no opener at all. Works on Unix only.
class FakeOpener
{
public:
    explicit FakeOpener(bool installed = true)
    {
        const QByteArray record = QFile::encodeName(recordFile());
        if (installed) {
            writeFile(bin.filePath(QStringLiteral("xdg-open")),
                      "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" + record + ".part\" && /bin/mv \"" + record
                          + ".part\" \"" + record + "\"\n");
            QFile::setPermissions(bin.filePath(QStringLiteral("xdg-open")),
                                  QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        }
        qputenv("PATH", QFile::encodeName(bin.path()));
    }
    ~FakeOpener() { qputenv("PATH", savedPath); }

    // What the opener recorded once it has run; null if it never ran.
    QByteArray waitForRecord() const
    {
        TestLoop::waitFor([this] { return QFile::exists(recordFile()); });
        return fileBytes(recordFile());
    }

private:
    QString recordFile() const { return bin.filePath(QStringLiteral("opened.txt")); }

    QTemporaryDir bin;
    const QByteArray savedPath = qgetenv("PATH");
};

#endif // CHECKERHARNESS_H
