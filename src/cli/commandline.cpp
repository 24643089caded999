#include "commandline.h"

#include "exitcode.h"

#include <QCoreApplication>

#include <algorithm>

namespace CommandLine {

namespace {

using Command = FlashRequest::Command;

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

struct Option
{
    const char *longName;
    char shortName;          // 0: none
    const char *valueName;   // nullptr: a flag
    QList<Command> commands; // empty: every command
    const char *description;
};

const QList<Option> &options()
{
    static const QList<Option> table {
        { "json", 0, nullptr, {}, QT_TRANSLATE_NOOP("CommandLine", "one JSON object per line: events, progress, result") },
        { "device", 'd', "PATH", { Command::Check, Command::Update, Command::Log },
          QT_TRANSLATE_NOOP("CommandLine", "the controller at this HID path (as \"list\" shows it)") },
        { "all", 'a', nullptr, { Command::Update },
          QT_TRANSLATE_NOOP("CommandLine", "every attached controller at once, each with its model's firmware") },
        { "file", 'f', "PATH", { Command::Update, Command::Watch },
          QT_TRANSLATE_NOOP("CommandLine", "send this firmware file instead of checking online") },
        { "yes", 'y', nullptr, { Command::Update, Command::Watch },
          QT_TRANSLATE_NOOP("CommandLine", "do not ask for confirmation") },
        { "timeout", 0, "SECONDS", { Command::Update, Command::Watch },
          QT_TRANSLATE_NOOP("CommandLine", "wait at most SECONDS for the controller's result (default 300)") },
        { "output", 'o', "FILE", { Command::Log },
          QT_TRANSLATE_NOOP("CommandLine", "also copy the device log to FILE") },
        { "help", 'h', nullptr, {}, QT_TRANSLATE_NOOP("CommandLine", "show this help") },
    };
    return table;
}

const struct
{
    Command command;
    const char *name;
    const char *usage;
    const char *summary;
} commands[] = {
    { Command::List, "list", "list [--json]",
      QT_TRANSLATE_NOOP("CommandLine", "Lists every attached controller: model, firmware version and HID path(s).") },
    { Command::Check, "check", "check [--device PATH] [--json]",
      QT_TRANSLATE_NOOP("CommandLine", "Asks the download server whether newer firmware is available.") },
    { Command::Update, "update", "update [--all | --device PATH] [--file PATH] [--yes] [--timeout SECONDS] [--json]",
      QT_TRANSLATE_NOOP("CommandLine", "Downloads the offered firmware (or takes PATH) and installs it on the controller.") },
    { Command::Log, "log", "log [--output FILE] [--device PATH] [--json]",
      QT_TRANSLATE_NOOP("CommandLine", "Downloads the controller's internal log into the program directory.") },
    { Command::Watch, "watch", "watch [--file PATH] [--yes] [--timeout SECONDS] [--json]",
      QT_TRANSLATE_NOOP("CommandLine", "A flashing station: updates each controller as it is plugged in, until Ctrl+C.") },
};

const Option *findOption(const QString &argument)
{
    for (const Option &option : options()) {
        if (argument == QLatin1String("--") + QLatin1String(option.longName)
            || (option.shortName && argument == QStringLiteral("-") + QLatin1Char(option.shortName)))
            return &option;
    }
    return nullptr;
}

bool takes(const Option &option, Command command)
{
    return option.commands.isEmpty() || option.commands.contains(command);
}

QString optionUsage(const Option &option)
{
    QString text = QLatin1String("--") + QLatin1String(option.longName);
    if (option.shortName)
        text = QStringLiteral("-%1, %2").arg(QLatin1Char(option.shortName)).arg(text);
    if (option.valueName)
        text += QLatin1Char(' ') + QLatin1String(option.valueName);
    return text;
}

} // namespace

QString commandName(Command command)
{
    for (const auto &entry : commands) {
        if (entry.command == command)
            return QLatin1String(entry.name);
    }
    return QString();
}

std::optional<FlashRequest> parse(const QStringList &arguments, QString *error)
{
    FlashRequest request;
    QList<const Option *> given;
    QString problem;
    for (int i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        QString value;
        bool hasValue = false;
        const int equals = argument.indexOf(QLatin1Char('='));
        if (argument.startsWith(QLatin1String("--")) && equals > 0) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
            hasValue = true;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            const auto known = std::find_if(std::begin(commands), std::end(commands),
                                            [&](const auto &entry) { return argument == QLatin1String(entry.name); });
            if (request.command != Command::None || known == std::end(commands)) {
                if (problem.isEmpty())
                    problem = tr("unexpected argument \"%1\"").arg(argument);
                continue;
            }
            request.command = known->command;
            continue;
        }
        const Option *option = findOption(argument);
        if (!option) {
            if (problem.isEmpty())
                problem = tr("unknown option \"%1\"").arg(argument);
            continue;
        }
        if (option->valueName && !hasValue) {
            if (i + 1 >= arguments.size()) {
                if (problem.isEmpty())
                    problem = tr("%1 needs a value").arg(argument);
                continue;
            }
            value = arguments.at(++i);
        } else if (!option->valueName && hasValue && problem.isEmpty()) {
            problem = tr("%1 takes no value").arg(argument);
        }
        given.append(option);
        const QString name = QLatin1String(option->longName);
        if (name == QLatin1String("help"))
            request.help = true;
        else if (name == QLatin1String("json"))
            request.json = true;
        else if (name == QLatin1String("yes"))
            request.yes = true;
        else if (name == QLatin1String("all"))
            request.all = true;
        else if (name == QLatin1String("device"))
            request.device = value;
        else if (name == QLatin1String("file"))
            request.file = value;
        else if (name == QLatin1String("output"))
            request.output = value;
        else if (name == QLatin1String("timeout")) {
            bool number = false;
            request.timeoutSeconds = value.toInt(&number);
            if ((!number || request.timeoutSeconds < 1 || request.timeoutSeconds > FlashRequest::maxTimeoutSeconds)
                && problem.isEmpty())
                problem = tr("%1 needs a whole number of seconds from 1 to %2")
                              .arg(argument).arg(FlashRequest::maxTimeoutSeconds);
        }
    }
    if (request.help)
        return request;
    if (problem.isEmpty() && request.command == Command::None)
        problem = tr("no command given: choose list, check, update, log or watch");
    for (const Option *option : given) {
        if (problem.isEmpty() && !takes(*option, request.command))
            problem = tr("%1 does not take --%2").arg(commandName(request.command), QLatin1String(option->longName));
    }
    if (problem.isEmpty() && request.all && !request.device.isEmpty())
        problem = tr("--all and --device exclude each other");
    if (!problem.isEmpty()) {
        *error = problem;
        return std::nullopt;
    }
    return request;
}

bool asksForJson(const QStringList &arguments)
{
    return std::any_of(arguments.begin(), arguments.end(), [](const QString &argument) {
        return argument == QLatin1String("--json") || argument.startsWith(QLatin1String("--json="));
    });
}

QString helpText(Command command)
{
    QString text;
    if (command == Command::None) {
        text += tr("Usage: tavoro-flash COMMAND [OPTIONS]\n\n"
                   "Updates the firmware of Tavoro controllers from a terminal or a script.\n\n"
                   "Commands:\n");
        for (const auto &entry : commands)
            text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(entry.name).leftJustified(6), tr(entry.summary));
        text += tr("\n\"tavoro-flash COMMAND --help\" describes a command.\n");
    } else {
        for (const auto &entry : commands) {
            if (entry.command == command)
                text += QStringLiteral("Usage: tavoro-flash %1\n\n%2\n")
                            .arg(QLatin1String(entry.usage), tr(entry.summary));
        }
    }

    text += tr("\nOptions:\n");
    for (const Option &option : options()) {
        if (command == Command::None || takes(option, command))
            text += QStringLiteral("  %1  %2\n").arg(optionUsage(option).leftJustified(17), tr(option.description));
    }

    text += tr("\nExit codes:\n");
    const QString name = commandName(command);
    for (const ExitCodeInfo &info : exitCodeTable()) {
        if (command == Command::None || info.commands.contains(name))
            text += QStringLiteral("  %1  %2\n").arg(int(info.code), 3).arg(info.meaning);
    }
    return text;
}

} // namespace CommandLine
