#ifndef RECORDKEEPER_H
#define RECORDKEEPER_H

#include "commandline.h"
#include "outcomes.h"

#include "record/flashrecord.h"
#include "record/recordfile.h"
#include "session/updateresult.h"
#include "session/updatesession.h"

#include <QDateTime>
#include <QString>

#include <optional>

// The record file of a run that flashes (--record, or records.jsonl in the
// program directory), and what each attempt writes there: the station and
// the operator of the run, the program's version, and the facts of the
// attempt.
class RecordKeeper
{
public:
    explicit RecordKeeper(const FlashRequest &request);

    // Before anything is flashed; false, with the reason, when the file
    // cannot be opened for appending.
    bool open(QString *error);

    // Appends `record` with the run's station, operator and version; it is
    // on the disk when this returns true.
    bool write(FlashRecord record, QString *error);

    QString path() const { return file.path(); }

    // What the record of one attempt says.
    struct Attempt
    {
        ControllerEntry entry;
        QDateTime started;
        std::optional<int> firmwareBefore;  // as read when the controller was found
        std::optional<int> offered;
        QString imagePath;                  // empty: nothing was to be sent
        QString source;                     // "downloaded", "hand-placed", "file"
        std::optional<UpdateResult> result; // where the update ran
    };
    static FlashRecord recordOf(const Attempt &attempt, const Outcome &outcome);

private:
    RecordFile file;
    const QString station;
    const QString operatorName;
};

#endif // RECORDKEEPER_H
