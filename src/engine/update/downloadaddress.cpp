#include "downloadaddress.h"

#include <QStringList>

QUrl DownloadAddress::httpUrl() const
{
    return QUrl(QLatin1String("http://") + host + path);
}

std::optional<DownloadAddress> DownloadAddress::fromManifest(const QString &address)
{
    const QStringList pieces = address.split(QLatin1String("//"));
    if (pieces.size() != 2)
        return std::nullopt;

    const QString &schemePart = pieces.at(0);
    const QString &rest = pieces.at(1);
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString host = slash < 0 ? rest : rest.left(slash);

    const int pathStart = schemePart.size() + host.size() + 2;
    if (pathStart >= address.size())
        return std::nullopt;
    return DownloadAddress{ host, address.mid(pathStart) };
}
