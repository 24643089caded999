// tavoro-flash: the updater's engine behind a command line.

#include "app/processsetup.h"
#include "app/programlog.h"
#include "commandline.h"
#include "consoleoutput.h"
#include "flasher.h"
#include "interruptwatcher.h"
#include "terminal.h"

#include <QCoreApplication>
#include <QNetworkProxyFactory>
#include <QTimer>
#include <QtDebug>

int main(int argc, char *argv[])
{
    ProcessSetup::prepare();
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    QCoreApplication app(argc, argv);
    // The program log as the window writes it, but not on standard output,
    // which carries the flasher's own lines.
    ProgramLog::setConsoleMirror(false);
    qInstallMessageHandler(logMessageHandler);
    qDebug() << "program started";

    QString error;
    const std::optional<FlashRequest> request = CommandLine::parse(app.arguments().mid(1), &error);
    if (!request) {
        Terminal::write(stderr, QStringLiteral("tavoro-flash: %1 (see tavoro-flash --help)\n").arg(error));
        return int(ExitCode::Usage);
    }
    if (request->help) {
        Terminal::write(stdout, CommandLine::helpText(request->command));
        return int(ExitCode::Success);
    }

    ConsoleOutput console(request->json, Terminal::isTerminal(stdout));
    Flasher flasher(*request, Terminal::isTerminal(stdin));
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, &flasher, &Flasher::interrupt);
    QObject::connect(&flasher, &Flasher::event, [&console](const FlashEvent &event) { console.show(event); });
    QObject::connect(&flasher, &Flasher::progress,
                     [&console](const ProgressSample &sample) { console.showProgress(sample); });
    // A read broken off by Ctrl+C gets no answer: the interrupt that broke
    // it is on its way through the event loop.
    QObject::connect(&flasher, &Flasher::confirmationNeeded, &flasher, [&](const QString &question) {
        const ConsoleOutput::Answer answer = console.ask(question);
        if (answer != ConsoleOutput::Answer::BrokenOff)
            flasher.confirm(answer == ConsoleOutput::Answer::Yes);
    }, Qt::QueuedConnection);
    QObject::connect(&flasher, &Flasher::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);

    QTimer::singleShot(0, &flasher, &Flasher::start);
    return app.exec();
}
