#ifndef FILECOPY_H
#define FILECOPY_H

#include <QString>

namespace FileCopy {

// Copies `source` to `target` through a temporary file beside `target`,
// which takes `target`'s place only once the whole copy is written: on any
// failure `target` is left as it was, and no temporary file stays behind.
// Returns the system's reason for a failure, or an empty text.
QString copyReplacing(const QString &source, const QString &target);

} // namespace FileCopy

#endif // FILECOPY_H
