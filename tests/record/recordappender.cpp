// record-appender FILE TAG COUNT: appends COUNT records to FILE, each line
// long enough that an interleaved write would show, and their serial
// numbers TAG-0, TAG-1, ...

#include "record/flashrecord.h"
#include "record/recordfile.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    RecordFile file(arguments.value(1));
    QString error;
    if (!file.open(&error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    FlashRecord record;
    record.started = record.ended = QDateTime::currentDateTimeUtc();
    record.outcome = QStringLiteral("installed");
    record.file = QString(3000, QLatin1Char('x'));
    for (int i = 0; i < arguments.value(3).toInt(); ++i) {
        record.serial = QStringLiteral("%1-%2").arg(arguments.value(2)).arg(i);
        if (!file.append(record.jsonLine(), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
    return 0;
}
