#include "systemproxy.h"

#include <QtGlobal>

namespace SystemProxy {

// Qt reads only the lowercase variable.
void setHttpProxy(const QByteArray &hostAndPort)
{
    qputenv("http_proxy", "http://" + hostAndPort);
}

} // namespace SystemProxy
