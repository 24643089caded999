// tavoro-flash: the updater's engine behind a command line.

#include "common/processsetup.h"
#include "common/programlog.h"
#include "commandline.h"
#include "console/consoleoutput.h"
#include "commands/commandregistry.h"
#include "console/interruptwatcher.h"
#include "console/terminal.h"

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
        const QString message = QStringLiteral("tavoro-flash: %1 (see tavoro-flash --help)").arg(error);
        qDebug().noquote() << "flasher result" << int(ExitCode::Usage) << message;
        ConsoleOutput(CommandLine::asksForJson(app.arguments().mid(1)), false)
            .show(FlashEvents::result(ExitCode::Usage, QStringLiteral("usage"), message));
        return int(ExitCode::Usage);
    }
    if (request->help) {
        Terminal::write(stdout, CommandLine::helpText(request->command));
        return int(ExitCode::Success);
    }

    qDebug().noquote() << "flasher started:" << app.arguments().mid(1).join(QLatin1Char(' '));
    ConsoleOutput console(request->json, Terminal::isTerminal(stdout));
    const std::unique_ptr<Command> command
        = CommandRegistry::find(request->command)->create(*request, Terminal::isTerminal(stdin));
    Command *run = command.get();
    InterruptWatcher interrupts;
    QObject::connect(&interrupts, &InterruptWatcher::interrupted, run, &Command::interrupt);
    QObject::connect(run, &Command::event, [&console](const FlashEvent &event) { console.show(event); });
    QObject::connect(run, &Command::progress,
                     [&console](const ProgressSample &sample) { console.showProgress(sample); });
    // A read broken off by Ctrl+C gets no answer: the interrupt that broke
    // it is on its way through the event loop.
    QObject::connect(run, &Command::confirmationNeeded, run, [&console, run](const QString &question) {
        const ConsoleOutput::Answer answer = console.ask(question);
        if (answer != ConsoleOutput::Answer::BrokenOff)
            run->confirm(answer == ConsoleOutput::Answer::Yes);
    }, Qt::QueuedConnection);
    QObject::connect(run, &Command::finished, &app, &QCoreApplication::exit, Qt::QueuedConnection);

    QTimer::singleShot(0, run, &Command::start);
    return app.exec();
}
