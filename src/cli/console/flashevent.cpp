#include "console/flashevent.h"

#include "common/version.h"
#include "update/versiontext.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>

namespace FlashEvents {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FlashEvents", text);
}

FlashEvent make(const QString &kind, const QString &text, QJsonObject fields = {})
{
    return { kind, text, fields, false };
}

// A change log under its offer, indented, without trailing blank lines.
QString withChangeLog(const QString &text, const QString &changeLog)
{
    const QString log = changeLog.trimmed();
    if (log.isEmpty())
        return text;
    QString indented;
    for (const QString &line : log.split(QLatin1Char('\n')))
        indented += line.isEmpty() ? QStringLiteral("\n") : QLatin1String("\n    ") + line;
    return text + indented;
}

} // namespace

// "event" comes first, so that a person reading the lines sees what each is;
// QJsonDocument would sort it among the other keys.
QByteArray jsonLine(const FlashEvent &event)
{
    const QByteArray kind = QJsonDocument(QJsonArray { event.kind }).toJson(QJsonDocument::Compact);
    QByteArray line = "{\"event\":" + kind.mid(1, kind.size() - 2);
    if (!event.fields.isEmpty())
        line += ',' + QJsonDocument(event.fields).toJson(QJsonDocument::Compact).mid(1);
    else
        line += '}';
    return line + '\n';
}

QString firmwareText(std::optional<int> version)
{
    return version ? VersionText::firmware(*version) : tr("unknown");
}

FlashEvent controller(const ControllerSummary &summary)
{
    QJsonArray paths;
    QStringList pathTexts;
    for (const QByteArray &path : summary.paths) {
        paths.append(QString::fromLocal8Bit(path));
        pathTexts.append(QString::fromLocal8Bit(path));
    }
    QJsonObject fields {
        { QStringLiteral("model"), summary.model },
        { QStringLiteral("unitType"), summary.unitType },
        { QStringLiteral("paths"), paths },
    };
    if (summary.version)
        fields.insert(QStringLiteral("firmware"), VersionText::firmware(*summary.version));
    QString text = QStringLiteral("%1  firmware %2  %3")
                       .arg(summary.model, firmwareText(summary.version), pathTexts.join(QLatin1Char(' ')));
    if (!summary.serial.isEmpty()) {
        fields.insert(QStringLiteral("serial"), summary.serial);
        text += tr("  serial %1").arg(summary.serial);
    }
    if (!summary.openError.isEmpty()) {
        fields.insert(QStringLiteral("openError"), summary.openError);
        text += tr("  (cannot open: %1)").arg(summary.openError);
    }
    return make(QStringLiteral("controller"), text, fields);
}

FlashEvent upToDate(std::optional<int> version)
{
    if (!version)
        return make(QStringLiteral("up-to-date"), tr("The controller runs the latest firmware."));
    return make(QStringLiteral("up-to-date"),
                tr("The controller runs the latest firmware, %1.").arg(VersionText::firmware(*version)),
                { { QStringLiteral("firmware"), VersionText::firmware(*version) } });
}

FlashEvent firmwareOffer(std::optional<int> version, int offered, const QString &changeLog)
{
    const QString text = version ? tr("Firmware %1 is available; the controller runs %2.")
                                       .arg(VersionText::firmware(offered), VersionText::firmware(*version))
                                 : tr("Firmware %1 is available; the controller's firmware is unknown.")
                                       .arg(VersionText::firmware(offered));
    QJsonObject fields { { QStringLiteral("offered"), VersionText::firmware(offered) },
                         { QStringLiteral("changeLog"), changeLog } };
    if (version)
        fields.insert(QStringLiteral("firmware"), VersionText::firmware(*version));
    return make(QStringLiteral("firmware-available"), withChangeLog(text, changeLog), fields);
}

FlashEvent updaterOffer(int offered, const QString &changeLog)
{
    const QString text = tr("Tavoro updater %1 is available (this is %2); install it before updating firmware.")
                             .arg(VersionText::updater(offered), VersionText::updater(updaterVersion));
    return make(QStringLiteral("newer-updater"), withChangeLog(text, changeLog),
                { { QStringLiteral("offered"), VersionText::updater(offered) },
                  { QStringLiteral("changeLog"), changeLog } });
}

FlashEvent overrideFile(const QString &path)
{
    return make(QStringLiteral("override-file"),
                tr("The update file %1 is used instead of the online check.").arg(path),
                { { QStringLiteral("path"), path } });
}

FlashEvent firmwareStored(const QString &path)
{
    return make(QStringLiteral("downloaded"), tr("Firmware downloaded to %1.").arg(path),
                { { QStringLiteral("path"), path } });
}

FlashEvent transferStarted(const QString &path, int reports)
{
    return make(QStringLiteral("transfer-started"), tr("Sending %1 to the controller.").arg(path),
                { { QStringLiteral("path"), path }, { QStringLiteral("reports"), reports } });
}

FlashEvent transferCompleted()
{
    return make(QStringLiteral("transfer-completed"),
                tr("Transfer complete. The controller is installing the update: do not power it off."));
}

FlashEvent logSaved(const QString &path)
{
    return make(QStringLiteral("log-saved"), tr("Device log written to %1.").arg(path),
                { { QStringLiteral("path"), path } });
}

FlashEvent forUnit(FlashEvent event, const QString &unit)
{
    event.fields.insert(QStringLiteral("unit"), unit);
    event.text = unit + QLatin1String(": ") + event.text;
    return event;
}

FlashEvent planned(std::optional<int> version, std::optional<int> offered)
{
    QJsonObject fields;
    if (version)
        fields.insert(QStringLiteral("firmware"), VersionText::firmware(*version));
    if (!offered)
        return make(QStringLiteral("planned"), tr("firmware %1, current").arg(firmwareText(version)), fields);
    fields.insert(QStringLiteral("offered"), VersionText::firmware(*offered));
    return make(QStringLiteral("planned"),
                tr("firmware %1 -> %2").arg(firmwareText(version), VersionText::firmware(*offered)), fields);
}

FlashEvent progressStep(const QString &phase, int percent)
{
    return make(QStringLiteral("progress"), tr("%1 %2 %").arg(phase).arg(percent),
                { { QStringLiteral("phase"), phase }, { QStringLiteral("percent"), percent } });
}

FlashEvent tally(int done, int failed, int inProgress, int notVerified, double unitsPerHour)
{
    QString text = tr("%1 done, %2 failed, %3 in progress").arg(done).arg(failed).arg(inProgress);
    if (notVerified > 0)
        text += tr(", %1 not verified").arg(notVerified);
    text += tr(", %1 units per hour").arg(unitsPerHour, 0, 'f', 1);
    return make(QStringLiteral("tally"), text,
                { { QStringLiteral("done"), done },
                  { QStringLiteral("failed"), failed },
                  { QStringLiteral("inProgress"), inProgress },
                  { QStringLiteral("notVerified"), notVerified },
                  { QStringLiteral("unitsPerHour"), qRound(unitsPerHour * 10) / 10.0 } });
}

FlashEvent recordFailed(const QString &path, const QString &reason)
{
    FlashEvent event = make(QStringLiteral("record-failed"),
                            tr("Cannot write to the record file %1 (%2): no further controller is flashed.")
                                .arg(path, reason),
                            { { QStringLiteral("path"), path }, { QStringLiteral("reason"), reason } });
    event.isError = true;
    return event;
}

FlashEvent summary(const QMap<QString, int> &counts, ExitCode code)
{
    QJsonObject countFields;
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count) {
        countFields.insert(count.key(), count.value());
        parts.append(QStringLiteral("%1 %2").arg(count.value()).arg(count.key()));
    }
    const bool ok = code == ExitCode::Success;
    FlashEvent event = make(QStringLiteral("summary"),
                            tr("Summary: %1.").arg(parts.isEmpty() ? tr("no controller") : parts.join(QStringLiteral(", "))),
                            { { QStringLiteral("counts"), countFields },
                              { QStringLiteral("exitCode"), int(code) },
                              { QStringLiteral("ok"), ok } });
    event.isError = !ok;
    return event;
}

FlashEvent result(ExitCode code, const QString &outcome, const QString &message)
{
    const bool ok = code == ExitCode::Success || code == ExitCode::FirmwareAvailable;
    FlashEvent event = make(QStringLiteral("result"), message,
                            { { QStringLiteral("exitCode"), int(code) },
                              { QStringLiteral("ok"), ok },
                              { QStringLiteral("outcome"), outcome },
                              { QStringLiteral("message"), message } });
    event.isError = !ok;
    return event;
}

} // namespace FlashEvents
