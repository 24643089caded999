#ifndef PARALLELUNITS_H
#define PARALLELUNITS_H

// transfer-bench --units: whole transfers to N simulated controllers at
// once, each on a thread of its own, with writes that block to the next
// 1 ms USB frame. Each N runs in a fresh child process so that its peak
// memory is its own.

#include <QList>
#include <QString>

namespace ParallelUnits {

// Prints the table for each of `unitCounts` (a run of one unit is added in
// front when missing: it gives the pace the others are held to), every
// unit sent an image of `imageBytes` bytes. `program` is this benchmark,
// started as the child of each run.
void printTable(const QString &program, const QList<int> &unitCounts, qint64 imageBytes);

// The child of one run: transfers the image in `imageFile` to `units`
// controllers and prints one line of figures for printTable; with a
// `recordFile`, appends each unit's record to it as a station does.
// Returns the process's exit code.
int runChild(int units, const QString &imageFile, const QString &recordFile = QString());

} // namespace ParallelUnits

#endif // PARALLELUNITS_H
