#include "reportrecorder.h"

namespace HidSim {

bool ReportRecorder::open(const QString &path)
{
    std::lock_guard<std::mutex> lock(mutex);
    file.setFileName(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void ReportRecorder::record(const QByteArray &report)
{
    std::lock_guard<std::mutex> lock(mutex);
    file.write(report.toHex() + '\n');
    file.flush();
}

} // namespace HidSim
