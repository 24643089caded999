#include "console/progressline.h"

#include <QCoreApplication>

#include <cmath>

namespace ProgressLine {

std::optional<double> rate(const ProgressSample &sample)
{
    if (sample.done <= 0 || sample.elapsedMs <= 0)
        return std::nullopt;
    return sample.done * 1000.0 / double(sample.elapsedMs);
}

std::optional<int> secondsLeft(const ProgressSample &sample)
{
    const std::optional<double> perSecond = rate(sample);
    if (!perSecond || sample.total < sample.done)
        return std::nullopt;
    return int(std::ceil((sample.total - sample.done) / *perSecond));
}

QString liveLine(const ProgressSample &sample)
{
    QString line = QStringLiteral("%1  %2 %").arg(sample.phase).arg(sample.percent, 3);
    if (const auto perSecond = rate(sample))
        line += QCoreApplication::translate("ProgressLine", "  %1 reports/s").arg(qRound(*perSecond));
    if (const auto left = secondsLeft(sample)) {
        line += QCoreApplication::translate("ProgressLine", "  %1:%2 left")
                    .arg(*left / 60)
                    .arg(*left % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}

QString fit(const QString &line, int columns)
{
    return columns > 0 ? line.left(columns - 1) : line;
}

QString stepLine(const ProgressSample &sample)
{
    return QStringLiteral("%1 %2 %").arg(sample.phase).arg(tenth(sample.percent) * 10);
}

int tenth(int percent)
{
    return qBound(0, percent, 100) / 10;
}

QJsonObject json(const ProgressSample &sample)
{
    QJsonObject object {
        { QStringLiteral("phase"), sample.phase },
        { QStringLiteral("percent"), sample.percent },
    };
    if (sample.done >= 0) {
        object.insert(QStringLiteral("done"), sample.done);
        object.insert(QStringLiteral("total"), sample.total);
    }
    if (const auto perSecond = rate(sample))
        object.insert(QStringLiteral("perSecond"), std::round(*perSecond * 10) / 10);
    if (const auto left = secondsLeft(sample))
        object.insert(QStringLiteral("secondsLeft"), *left);
    return object;
}

} // namespace ProgressLine
