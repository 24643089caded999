#include "commandline.h"

#include "commands/commandregistry.h"
#include "exitcode.h"

#include <QCoreApplication>

#include <algorithm>

namespace CommandLine {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("CommandLine", text);
}

struct Option
{
    const char *longName;
    char shortName;          // 0: none
    const char *valueName;   // nullptr: a flag
    const char *description;
};

// Every command takes these; the others only where it declares them.
bool isCommon(const Option &option)
{
    return option.longName == QLatin1String("json") || option.longName == QLatin1String("help");
}

const QList<Option> &options()
{
    static const QList<Option> table {
        { "json", 0, nullptr, QT_TRANSLATE_NOOP("CommandLine", "one JSON object per line: events, progress, result") },
        { "device", 'd', "PATH", QT_TRANSLATE_NOOP("CommandLine", "the controller at this HID path (as \"list\" shows it)") },
        { "all", 'a', nullptr, QT_TRANSLATE_NOOP("CommandLine", "every attached controller at once, each with its model's firmware") },
        { "file", 'f', "PATH", QT_TRANSLATE_NOOP("CommandLine", "send this firmware file instead of checking online") },
        { "sha256", 0, "HEX", QT_TRANSLATE_NOOP("CommandLine", "send only a firmware image with this SHA-256 (64 hex digits): the approved one") },
        { "yes", 'y', nullptr, QT_TRANSLATE_NOOP("CommandLine", "do not ask for confirmation") },
        { "timeout", 0, "SECONDS",
          QT_TRANSLATE_NOOP("CommandLine", "wait at most SECONDS for each answer of the controller (default 300)") },
        { "output", 'o', "FILE", QT_TRANSLATE_NOOP("CommandLine", "also copy the device log to FILE") },
        { "serial", 0, "SN", QT_TRANSLATE_NOOP("CommandLine", "the controller with this USB serial number (as \"list\" shows it)") },
        { "record", 0, "FILE", QT_TRANSLATE_NOOP("CommandLine", "the record file of every attempt (default: records.jsonl in the program directory)") },
        { "station", 0, "NAME", QT_TRANSLATE_NOOP("CommandLine", "the station's name in the record (default: the host name)") },
        { "operator", 0, "NAME", QT_TRANSLATE_NOOP("CommandLine", "the operator's name in the record") },
        { "since", 0, "DATE", QT_TRANSLATE_NOOP("CommandLine", "only attempts started from DATE on (2024-05-01, or with a time, UTC)") },
        { "format", 0, "FORMAT", QT_TRANSLATE_NOOP("CommandLine", "text, csv, junit or json (default text)") },
        { "help", 'h', nullptr, QT_TRANSLATE_NOOP("CommandLine", "show this help") },
    };
    return table;
}

const Option *findOption(const QString &argument)
{
    for (const Option &option : options()) {
        if (argument == QLatin1String("--") + QLatin1String(option.longName)
            || (option.shortName && argument == QStringLiteral("-") + QLatin1Char(option.shortName)))
            return &option;
    }
    return nullptr;
}

// A date is midnight UTC; a date and time without a zone is UTC too.
QDateTime sinceTime(const QString &value)
{
    QDateTime time = QDateTime::fromString(value, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(value, Qt::ISODate);
        time = date.isValid() ? QDateTime(date, QTime(0, 0), Qt::UTC) : QDateTime();
    } else if (time.timeSpec() == Qt::LocalTime) {
        time.setTimeSpec(Qt::UTC);
    }
    return time;
}

bool takes(const Option &option, const CommandInfo &command)
{
    return isCommon(option) || command.options.contains(QLatin1String(option.longName));
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
            if (!request.command.isEmpty() || !CommandRegistry::find(argument)) {
                if (problem.isEmpty())
                    problem = tr("unexpected argument \"%1\"").arg(argument);
                continue;
            }
            request.command = argument;
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
        else if (name == QLatin1String("sha256")) {
            // QByteArray::fromHex skips what is not a digit: check first.
            const bool hex = value.size() == 64 && std::all_of(value.begin(), value.end(), [](QChar c) {
                return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
            });
            request.sha256 = hex ? QByteArray::fromHex(value.toLatin1()) : QByteArray();
            if (!hex && problem.isEmpty())
                problem = tr("%1 needs a SHA-256 of 64 hex digits").arg(argument);
        } else if (name == QLatin1String("output"))
            request.output = value;
        else if (name == QLatin1String("serial"))
            request.serial = value;
        else if (name == QLatin1String("record"))
            request.records.append(value);
        else if (name == QLatin1String("station"))
            request.station = value;
        else if (name == QLatin1String("operator"))
            request.operatorName = value;
        else if (name == QLatin1String("format")) {
            request.format = value;
            if (!QStringList { QStringLiteral("text"), QStringLiteral("csv"), QStringLiteral("junit"), QStringLiteral("json") }
                     .contains(value) && problem.isEmpty())
                problem = tr("%1 needs text, csv, junit or json").arg(argument);
        } else if (name == QLatin1String("since")) {
            request.since = sinceTime(value);
            if (!request.since.isValid() && problem.isEmpty())
                problem = tr("%1 needs a date such as 2024-05-01 or 2024-05-01T08:00").arg(argument);
        }
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
    const CommandInfo *command = CommandRegistry::find(request.command);
    if (problem.isEmpty() && !command) {
        QStringList names;
        for (const CommandInfo &entry : CommandRegistry::commands())
            names.append(QLatin1String(entry.name));
        problem = tr("no command given: choose %1").arg(names.join(QLatin1String(", ")));
    }
    for (const Option *option : given) {
        if (problem.isEmpty() && !takes(*option, *command))
            problem = tr("%1 does not take --%2").arg(request.command, QLatin1String(option->longName));
    }
    if (problem.isEmpty() && request.all && !request.device.isEmpty())
        problem = tr("--all and --device exclude each other");
    if (problem.isEmpty() && !request.serial.isEmpty() && (request.all || !request.device.isEmpty()))
        problem = tr("--serial excludes --all and --device");
    if (problem.isEmpty() && request.records.size() > 1 && request.command != QLatin1String("report"))
        problem = tr("%1 takes one --record").arg(request.command);
    if (problem.isEmpty() && given.contains(findOption(QStringLiteral("--station"))) && request.station.trimmed().isEmpty())
        problem = tr("--station needs a name");
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

QString helpText(const QString &name)
{
    const CommandInfo *command = CommandRegistry::find(name);
    QString text;
    if (!command) {
        text += tr("Usage: tavoro-flash COMMAND [OPTIONS]\n\n"
                   "Updates the firmware of Tavoro controllers from a terminal or a script.\n\n"
                   "Commands:\n");
        for (const CommandInfo &entry : CommandRegistry::commands())
            text += QStringLiteral("  %1  %2\n").arg(QString::fromLatin1(entry.name).leftJustified(6), tr(entry.summary));
        text += tr("\n\"tavoro-flash COMMAND --help\" describes a command.\n");
    } else {
        text += QStringLiteral("Usage: tavoro-flash %1\n\n%2\n").arg(QLatin1String(command->usage), tr(command->summary));
    }

    text += tr("\nOptions:\n");
    for (const Option &option : options()) {
        if (!command || takes(option, *command))
            text += QStringLiteral("  %1  %2\n").arg(optionUsage(option).leftJustified(17), tr(option.description));
    }

    text += tr("\nExit codes:\n");
    for (const ExitCodeInfo &info : exitCodeTable()) {
        if (!command || command->exitCodes.contains(info.code))
            text += QStringLiteral("  %1  %2\n").arg(int(info.code), 3).arg(info.meaning);
    }
    return text;
}

} // namespace CommandLine
