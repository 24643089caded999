#ifndef DOWNLOADADDRESS_H
#define DOWNLOADADDRESS_H

#include <QString>
#include <QUrl>

#include <optional>

// A download address from the manifest, cut down to its host and path.
// Downloads always go over plain "http://", whatever scheme the manifest
// names; the path keeps everything after the host, query included.
struct DownloadAddress
{
    QString host;
    QString path;  // begins with "/"

    QUrl httpUrl() const;

    // Accepts "scheme://host/path": exactly one "//" and at least one
    // character after the host. Anything else gives no address. A path
    // alone (what an address member holds after its download started) has
    // no "//" and is therefore refused.
    static std::optional<DownloadAddress> fromManifest(const QString &address);
};

#endif // DOWNLOADADDRESS_H
