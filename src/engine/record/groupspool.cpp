#include "record/groupspool.h"

GroupSpool::GroupSpool(qint64 memoryBudget)
    : budget(memoryBudget)
{
}

bool GroupSpool::append(const QString &group, const QByteArray &piece, QString *error)
{
    groups[group].held += piece;
    held += piece.size();
    return held <= budget || spillLargest(error);
}

bool GroupSpool::spillLargest(QString *error)
{
    auto largest = groups.begin();
    for (auto group = groups.begin(); group != groups.end(); ++group) {
        if (group->held.size() > largest->held.size())
            largest = group;
    }
    if (!file.isOpen() && !file.open()) {
        *error = file.errorString();
        return false;
    }
    const qint64 offset = file.size();
    if (!file.seek(offset) || file.write(largest->held) != largest->held.size()) {
        *error = file.errorString();
        return false;
    }
    QVector<Spilled> &spilled = largest->spilled;
    // A group spilled twice in a row reads back in one piece.
    if (!spilled.isEmpty() && spilled.last().offset + spilled.last().size == offset)
        spilled.last().size += largest->held.size();
    else
        spilled.append({ offset, largest->held.size() });
    held -= largest->held.size();
    largest->held.clear();
    return true;
}

bool GroupSpool::read(const QString &group, const std::function<void(const QByteArray &)> &take, QString *error)
{
    const auto found = groups.constFind(group);
    if (found == groups.constEnd())
        return true;
    for (const Spilled &spilled : found->spilled) {
        // A spilled run can be the whole group: read it in parts of about
        // the budget, cut at their last line end.
        qint64 at = spilled.offset;
        const qint64 end = spilled.offset + spilled.size;
        QByteArray carried;
        while (at < end) {
            if (!file.seek(at)) {
                *error = file.errorString();
                return false;
            }
            const QByteArray part = file.read(qMin(budget, end - at));
            if (part.isEmpty()) {
                *error = file.errorString();
                return false;
            }
            at += part.size();
            carried += part;
            const int cut = at < end ? carried.lastIndexOf('\n') + 1 : carried.size();
            if (cut > 0) {
                take(carried.left(cut));
                carried.remove(0, cut);
            }
        }
    }
    if (!found->held.isEmpty())
        take(found->held);
    return true;
}
