#include "commands/filecopy.h"

#include <QFile>
#include <QSaveFile>

namespace FileCopy {

QString copyReplacing(const QString &source, const QString &target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return input.errorString();
    QSaveFile output(target);
    if (!output.open(QIODevice::WriteOnly))
        return output.errorString();
    const QByteArray bytes = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return input.errorString();
    // commit() does not see a failure of its own final flush.
    if (output.write(bytes) != bytes.size() || !output.flush() || !output.commit())
        return output.errorString();
    return QString();
}

} // namespace FileCopy
