#ifndef GROUPSPOOL_H
#define GROUPSPOOL_H

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QTemporaryFile>
#include <QVector>

#include <functional>

// Lines of text kept by group and given back group by group, each group's
// in the order they came, so that text written in one pass can come out
// grouped (a JUnit report's test cases, by station). They are held in
// memory up to a budget; beyond it the largest group's go to one temporary
// file, so that memory grows with the groups, not with the text.
class GroupSpool
{
public:
    explicit GroupSpool(qint64 memoryBudget = 1024 * 1024);

    // `piece` is one or more lines, each ending in LF. False, with the
    // reason in *error, when the temporary file cannot be written (a full
    // disk).
    bool append(const QString &group, const QByteArray &piece, QString *error);

    // Gives `take` the lines of `group` in order, several at a time and
    // cut only at a line's end (up to about the budget each, unless a
    // line is longer). False, with the reason in *error, when the
    // temporary file cannot be read back.
    bool read(const QString &group, const std::function<void(const QByteArray &)> &take, QString *error);

private:
    struct Spilled
    {
        qint64 offset;
        qint64 size;
    };
    struct Group
    {
        QByteArray held;
        QVector<Spilled> spilled;
    };
    bool spillLargest(QString *error);

    const qint64 budget;
    qint64 held = 0;
    QHash<QString, Group> groups;
    QTemporaryFile file;
};

#endif // GROUPSPOOL_H
