#include "nettools/WhoisServers.h"

#include "core/SettingsStore.h"

#include <algorithm>

namespace {
// A port number 1..65535 written in decimal digits only.
std::optional<quint16> parsePort(QStringView text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int port = text.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

bool plausibleHost(const QString &host)
{
    return !host.isEmpty() && std::none_of(host.cbegin(), host.cend(), [](QChar c) {
        return c.isSpace() || c.category() == QChar::Other_Control;
    });
}
} // namespace

namespace WhoisServers {

QString key(int number)
{
    return QStringLiteral("WhoisServer") + QString::number(number);
}

QStringList defaults()
{
    const QString registrar = QStringLiteral("whois.godaddy.com");
    return {
        registrar,
        QStringLiteral("whois.networksolutions.com"),
        registrar,
        QStringLiteral("whois.nic.gov"),
        QStringLiteral("whois.internic.net"),
        QStringLiteral("whois.ripe.net"),
        QStringLiteral("whois.arin.net"),
        QStringLiteral("whois.apnic.net"),
        QStringLiteral("whois.auda.org.au"),
    };
}

QStringList read(const SettingsStore &settings)
{
    const QStringList fallback = defaults();
    QStringList values;
    for (int number = 1; number <= Count; ++number) {
        // Entry 3 repeats entry 1 unless it is set on its own.
        const QString defaultValue = number == 3 ? values.first() : fallback.at(number - 1);
        values << settings.GetSetting(key(number), defaultValue);
    }
    return values;
}

std::optional<WhoisEndpoint> parse(const QString &entry)
{
    const QString text = entry.trimmed();
    WhoisEndpoint endpoint;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        endpoint.host = text.mid(1, close - 1);
        const QStringView rest = QStringView(text).sliced(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(u':'))
                return std::nullopt;
            const std::optional<quint16> port = parsePort(rest.sliced(1));
            if (!port)
                return std::nullopt;
            endpoint.port = *port;
        }
    } else if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        endpoint.host = text.left(colon);
        const std::optional<quint16> port = parsePort(QStringView(text).sliced(colon + 1));
        if (!port)
            return std::nullopt;
        endpoint.port = *port;
    } else {
        endpoint.host = text; // a name, or an IPv6 address without a port
    }
    if (!plausibleHost(endpoint.host))
        return std::nullopt;
    return endpoint;
}

} // namespace WhoisServers
