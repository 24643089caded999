#ifndef REPORTRECORDER_H
#define REPORTRECORDER_H

#include <QByteArray>
#include <QFile>
#include <QString>

#include <mutex>

namespace HidSim {

// Appends reports to a text file, one lowercase hex line each, flushed per
// line so that another process can follow along. Thread-safe.
class ReportRecorder
{
public:
    // False when the file cannot be opened for appending.
    bool open(const QString &path);
    void record(const QByteArray &report);

private:
    std::mutex mutex;
    QFile file;
};

} // namespace HidSim

#endif // REPORTRECORDER_H
