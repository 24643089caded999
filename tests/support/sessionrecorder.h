#ifndef SESSIONRECORDER_H
#define SESSIONRECORDER_H

#include "session/updatesession.h"

#include <QObject>
#include <QStringList>

// A face on an update session that shows nothing: it records each of the
// session's signals as a line, in order, such as "firmwareOffered 24|log",
// "checkFailed Connection|Problem with internet connection|",
// "firmwareReady Downloaded|/path/updater.sb", "transferProgress 46",
// "libraryProgress 5/10", "transferCompleted Watched",
// "transferFailed WrongMd5", "transferStopped", "logProgress 10" or
// "logFinished Complete|/path/x_log.enc|".
class SessionRecorder : public QObject
{
    Q_OBJECT

public:
    explicit SessionRecorder(UpdateSession &session);

    // The lines that start with `prefix`.
    QStringList starting(const QString &prefix) const;
    // The lines, without those that start with one of `prefixes`.
    QStringList without(const QStringList &prefixes) const;
    // Processes events until a line starts with `prefix`.
    bool waitFor(const QString &prefix, int timeoutMs = 10000) const;

    QStringList lines;
    // The names of UpdateSession::DeviceLog::End's values, in their order.
    static const QStringList logEnds;
};

#endif // SESSIONRECORDER_H
