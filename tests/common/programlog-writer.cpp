// Logs each of its arguments through the program log, as one run of the
// program would, and exits.

#include "common/programlog.h"

#include <QCoreApplication>
#include <QtDebug>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(logMessageHandler);
    const QStringList arguments = app.arguments().mid(1);
    for (const QString &argument : arguments)
        qDebug().noquote() << argument;
    return 0;
}
