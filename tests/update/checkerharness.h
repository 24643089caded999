#ifndef CHECKERHARNESS_H
#define CHECKERHARNESS_H

// Shared by the update checker's tests: a readable trace of the checker's
// signals, the program log without its system error suffixes, and a
// manifest the loopback server can serve.

#include "update/updatechecker.h"

#include "eventloop.h"
#include "logcapture.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QRegularExpression>
#include <QStringList>

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
        connect(&checker, &UpdateChecker::findMainNewVersion, this,
                [this](const QString &version, const QString &log) { add({ "findMainNewVersion", version, log }); });
        connect(&checker, &UpdateChecker::findNewVersion, this,
                [this](const QString &version, const QString &log) { add({ "findNewVersion", version, log }); });
        connect(&checker, &UpdateChecker::youHaveLastVersion, this, [this] { add({ "youHaveLastVersion" }); });
        connect(&checker, &UpdateChecker::checkversionError, this, [this](const QString &error) {
            errors.append(error);
            add({ "checkversionError" });
        });
        connect(&checker, &UpdateChecker::downloadProgress, this, [this](int percent) { progress.append(percent); });
        connect(&checker, &UpdateChecker::newUpdateFileDownloaded, this, [this](bool downloaded) {
            add({ "newUpdateFileDownloaded", downloaded ? "true" : "false" });
        });
        connect(&checker, &UpdateChecker::youHaveProblem, this,
                [this](const QString &msg, const QString &msg2) { add({ "youHaveProblem", msg, msg2 }); });
        connect(&checker, &UpdateChecker::changeUpdateFileName, this,
                [this](const QString &name) { add({ "changeUpdateFileName", name }); });
        connect(&checker, &UpdateChecker::startDownloadMainUpdate, this,
                [this] { add({ "startDownloadMainUpdate" }); });
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
    void add(const QStringList &parts)
    {
        QStringList shown;
        for (const QString &part : parts)
            shown.append(part.isNull() ? QStringLiteral("<null>") : part);
        events.append(shown.join(QLatin1Char('|')));
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
        if (line.startsWith(QLatin1String("app path ")))
            continue;
        result.append(line.remove(errnoSuffix));
    }
    return result;
}

#endif // CHECKERHARNESS_H
