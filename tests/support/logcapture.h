#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QMutex>
#include <QStringList>

// Collects every message the program logs while it exists, from any
// thread, in place of the program log's file. One at a time.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();

    QStringList lines() const;
    bool contains(const QString &line) const;  // a whole message
    int count(const QString &line) const;
    void clear();

private:
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message);
};

#endif // LOGCAPTURE_H
