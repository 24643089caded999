#ifndef MISUSELOG_H
#define MISUSELOG_H

#include <QString>
#include <QStringList>

namespace HidSim {

// The rules of hidapi a program broke, which the real library answers with
// a corrupted heap or a use-after-free and the simulator survives. Each is
// printed on standard error when it happens and kept until a test takes it
// (HidSim::takeMisuse); any left when the process exits are printed again
// and the process ends with failure, so that no run linked with the
// simulator passes while breaking them. Thread-safe.
class MisuseLog
{
public:
    static void record(const QString &what);
    static QStringList take();
};

} // namespace HidSim

#endif // MISUSELOG_H
