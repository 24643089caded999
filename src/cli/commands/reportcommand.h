#ifndef REPORTCOMMAND_H
#define REPORTCOMMAND_H

#include "commands/command.h"

#include "record/flashrecord.h"

#include <functional>

// "report": what record files tell, as text, CSV (a row per attempt), JUnit
// XML (a test case per attempt, a suite per station) or one JSON object.
// Reads each file once, as a stream, so that memory does not grow with it;
// only the last result of each serial number is held, and JUnit's cases
// wait in a temporary file beyond a megabyte. Its output is the report
// itself, in pieces of about 64 KB.
class ReportCommand : public Command
{
    Q_OBJECT

public:
    static CommandInfo info();
    ReportCommand(const FlashRequest &request, bool canAsk) : Command(request, canAsk) {}
    void start() override;

private:
    // Every record of every file from --since on, in file order, telling
    // the lines that are not records; false, after finishing, when a file
    // cannot be read.
    bool readAll(const std::function<void(const FlashRecord &)> &take);
    // Finishes with the temporary file's problem (a full disk).
    void spoolFailed(const QString &error);
    void write(const QByteArray &piece);
    void flush();

    QStringList files;
    QByteArray pending;
};

#endif // REPORTCOMMAND_H
