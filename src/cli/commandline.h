#ifndef COMMANDLINE_H
#define COMMANDLINE_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What one run of the flasher is asked to do.
struct FlashRequest
{
    QString command;      // the command's name; empty: none given
    bool help = false;
    bool json = false;    // one JSON object per line instead of text
    bool yes = false;     // update, watch: no confirmation asked
    bool all = false;     // update: every attached controller at once
    QString device;       // a HID path; empty: the only attached controller
    QString file;         // update: send this file instead of the offered firmware
    QByteArray sha256;    // update, watch: send only an image with this SHA-256 (32 bytes); empty: any
    QString output;       // log: also copy the device log here
    QString serial;       // the controller with this USB serial number; empty: as --device says
    QStringList records;  // --record: the record file (update, watch: one); empty: records.jsonl
    QString station;      // the station's name in the record; empty: the host name
    QString operatorName; // --operator, in the record; empty: left out
    QDateTime since;      // report: records started from then on; invalid: all
    QString format = QStringLiteral("text");  // report: text, csv, junit, json
    int timeoutSeconds = defaultTimeoutSeconds;  // update: the longest wait for the controller's verdict

    // Far longer than a real installation takes.
    static constexpr int defaultTimeoutSeconds = 300;
    static constexpr int maxTimeoutSeconds = 24 * 60 * 60;
};

// The flasher's command line: "tavoro-flash COMMAND [OPTIONS]"; options may
// stand before or after the command, values after a blank or "=".
namespace CommandLine {

// Parses the arguments after the program's name. nullopt, with a one-line
// reason in *error, for an unknown command or option, an option the command
// does not take, or a missing or invalid value. "--help" anywhere wins over
// the rest.
std::optional<FlashRequest> parse(const QStringList &arguments, QString *error);

// Whether `arguments` ask for JSON output, also where parse() refuses them.
bool asksForJson(const QStringList &arguments);

// The help of the command `name`, its options and exit codes; an empty name: the
// overview of all commands.
QString helpText(const QString &name);

} // namespace CommandLine

#endif // COMMANDLINE_H
