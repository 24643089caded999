#ifndef SYSTEMPROXY_H
#define SYSTEMPROXY_H

// The system's web proxy setting, as Qt's system proxy configuration reads
// it, for the tests' loopback server to stand in for the download server.

#include <QByteArray>

namespace SystemProxy {

// Makes `hostAndPort` ("127.0.0.1:8080") the proxy of plain-http requests.
// On Linux and the like: http_proxy of this process. On Windows: the
// current user's WinHTTP setting, which Qt reads there (and which outlives
// the process). Tests that set it must not run at the same time as each
// other on Windows: under Wine, those labelled "network" get a Wine prefix
// of their own.
void setHttpProxy(const QByteArray &hostAndPort);

} // namespace SystemProxy

#endif // SYSTEMPROXY_H
