#include "relay/RelayAddress.h"

#include <QHostAddress>
#include <QUrl>

namespace {
std::optional<RelayAddress> refuse(QString *why, const QString &reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

bool isLoopback(const QString &host)
{
    return host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback();
}
} // namespace

std::optional<RelayAddress> RelayAddress::parse(const QString &url, Use use, QString *why)
{
    const QUrl parsed(url.trimmed(), QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return refuse(why, QStringLiteral("not an address like mqtts://user@broker.example/vistelle/mysite"));
    RelayAddress address;
    const QString scheme = parsed.scheme().toLower();
    if (scheme != u"mqtts" && scheme != u"mqtt")
        return refuse(why, QStringLiteral("the address must start with mqtts://"));
    address.tls = scheme == u"mqtts";
    address.host = parsed.host();
    if (!address.tls && !isLoopback(address.host))
        return refuse(why, QStringLiteral("mqtt:// (without TLS) is only for a broker on this machine: use mqtts://"));
    // "#" starts a fragment in an address: in a topic it is the multi-level wildcard.
    if (parsed.hasFragment() || parsed.hasQuery())
        return refuse(why, QStringLiteral("the topic prefix has a # or ?: neither belongs in it"));
    if (!parsed.password().isEmpty())
        return refuse(why, QStringLiteral("the password does not belong in the address"));
    const int port = parsed.port(address.tls ? 8883 : 1883);
    if (port <= 0 || port > 65535)
        return refuse(why, QStringLiteral("no port"));
    address.port = quint16(port);
    address.user = parsed.userName();
    address.prefix = parsed.path(QUrl::FullyDecoded);
    while (address.prefix.startsWith(u'/'))
        address.prefix.remove(0, 1);
    while (address.prefix.endsWith(u'/'))
        address.prefix.chop(1);
    if (address.prefix.isEmpty())
        return refuse(why, QStringLiteral("no topic prefix (the path, like /vistelle/mysite)"));
    for (const QString &level : address.prefix.split(u'/')) {
        if (level.isEmpty() || level.contains(u'#') || (level.contains(u'+') && level != u"+"))
            return refuse(
                why, QStringLiteral("the topic prefix %1 has an empty level or a wildcard").arg(address.prefix));
        if (level == u"+" && use == Use::Publishing)
            return refuse(why, QStringLiteral("a publisher names its site: no + in the topic prefix"));
    }
    if (address.prefix.contains(QChar(0)))
        return refuse(why, QStringLiteral("the topic prefix holds a null character"));
    return address;
}
