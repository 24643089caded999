#include "systemproxy.h"

#include <QtEndian>

#include <windows.h>

namespace SystemProxy {

namespace {

void appendDword(QByteArray &bytes, quint32 value)
{
    const quint32 littleEndian = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char *>(&littleEndian), sizeof littleEndian);
}

} // namespace

// The binary value DefaultConnectionSettings under the user's Internet
// Settings: a format version (0x46), a change counter, the flags (direct
// connections and a proxy), the proxy as "host:port" with its length, an
// empty bypass list, and zero padding where the automatic configuration
// address and further fields would follow. ProxyEnable and ProxyServer
// alone are not read.
void setHttpProxy(const QByteArray &hostAndPort)
{
    static quint32 counter = 0;
    QByteArray value;
    appendDword(value, 0x46);
    appendDword(value, ++counter);
    appendDword(value, 0x3);
    appendDword(value, quint32(hostAndPort.size()));
    value.append(hostAndPort);
    appendDword(value, 0);
    value.append(QByteArray(32, '\0'));

    HKEY key = nullptr;
    const wchar_t *path = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        qFatal("cannot open the Internet Settings key to set the proxy");
    const LONG written = RegSetValueExW(key, L"DefaultConnectionSettings", 0, REG_BINARY,
                                        reinterpret_cast<const BYTE *>(value.constData()), DWORD(value.size()));
    RegCloseKey(key);
    if (written != ERROR_SUCCESS)
        qFatal("cannot set the proxy in the registry");
}

} // namespace SystemProxy
