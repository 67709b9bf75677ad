#include "nettools/Class1.h"

#include "core/ConnectionState.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

Class1::Class1(bool resolverReady)
    : m_ready(resolverReady)
{ }

QString Class1::NameToAddress(const QString &strName) const
{
    if (!m_ready)
        return {};
    if (strName.isEmpty())
        return localAddress();
    return ResolveName(strName);
}

QString Class1::AddressToName(const QString &strIP) const
{
    if (!m_ready)
        return {};
    return ResolveAddress(strIP);
}

QString Class1::ResolveName(const QString &name) const
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *result = nullptr;
    const QByteArray encoded = name.toUtf8();
    if (encoded.contains('\0') || ::getaddrinfo(encoded.constData(), nullptr, &hints, &result) != 0 || !result)
        return {};
    QString text;
    if (result->ai_family == AF_INET && result->ai_addr) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(result->ai_addr);
        const auto *bytes = reinterpret_cast<const unsigned char *>(&in->sin_addr.s_addr);
        QStringList parts;
        for (int i = 0; i < 4; ++i)
            parts << QString::number(bytes[i]);
        text = parts.join(u'.');
    }
    ::freeaddrinfo(result);
    return text;
}

QString Class1::ResolveAddress(const QString &address) const
{
    if (!IsDottedAddress(address))
        return {};
    sockaddr_in in {};
    in.sin_family = AF_INET;
    const qint32 packed = DottedToLong(address);
    std::memcpy(&in.sin_addr.s_addr, &packed, 4);
    char host[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&in), sizeof in, host, sizeof host, nullptr, 0, NI_NAMEREQD)
        != 0)
        return {};
    host[255] = '\0';
    return StripAtNul(QString::fromUtf8(host, static_cast<qsizetype>(qstrnlen(host, 255))));
}

bool Class1::IsDottedAddress(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() < 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        const QString &part = parts[i];
        if (part.isEmpty() || part.size() > 3)
            return false;
        for (QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

qint32 Class1::DottedToLong(const QString &text)
{
    const QStringList parts = text.split(u'.');
    if (parts.size() < 4)
        return 0;
    const quint32 p1 = parts[0].toUInt() & 0xff;
    const quint32 p2 = parts[1].toUInt() & 0xff;
    const quint32 p3 = parts[2].toUInt() & 0xff;
    const quint32 p4 = parts[3].toUInt() & 0xff;
    // Built from the bytes, so the value's memory holds p1..p4 whatever the machine's byte order.
    const unsigned char bytes[4] = { static_cast<unsigned char>(p1), static_cast<unsigned char>(p2),
        static_cast<unsigned char>(p3), static_cast<unsigned char>(p4) };
    qint32 value = 0;
    std::memcpy(&value, bytes, 4);
    return value;
}

QString Class1::StripAtNul(const QString &text)
{
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    return nul < 0 ? text : text.left(nul);
}

QString Class1::localAddress()
{
    const QString routeInterface = RouteConnectionState().defaultRouteInterface();
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        return {};
    QString onRoute;
    QString other;
    QString loopback;
    for (ifaddrs *ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        char buf[INET_ADDRSTRLEN] = {};
        const auto *in = reinterpret_cast<const sockaddr_in *>(ifa->ifa_addr);
        if (!::inet_ntop(AF_INET, &in->sin_addr, buf, sizeof buf))
            continue;
        const QString address = QString::fromLatin1(buf);
        const QString name = QString::fromLocal8Bit(ifa->ifa_name);
        if (address.startsWith(u"127.")) {
            if (loopback.isEmpty())
                loopback = address;
        } else if (!routeInterface.isEmpty() && name == routeInterface) {
            if (onRoute.isEmpty())
                onRoute = address;
        } else if (other.isEmpty()) {
            other = address;
        }
    }
    ::freeifaddrs(list);
    if (!onRoute.isEmpty())
        return onRoute;
    if (!other.isEmpty())
        return other;
    return loopback;
}
