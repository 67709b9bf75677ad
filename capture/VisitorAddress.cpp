#include "capture/VisitorAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

Ipv6Number Ipv6Number::fromBytes(const std::array<quint8, 16> &bytes)
{
    Ipv6Number n;
    for (int i = 0; i < 8; ++i) {
        n.hi = (n.hi << 8) | bytes[size_t(i)];
        n.lo = (n.lo << 8) | bytes[size_t(i + 8)];
    }
    return n;
}

std::array<quint8, 16> Ipv6Number::toBytes() const
{
    std::array<quint8, 16> bytes {};
    for (int i = 0; i < 8; ++i) {
        bytes[size_t(7 - i)] = quint8(hi >> (8 * i));
        bytes[size_t(15 - i)] = quint8(lo >> (8 * i));
    }
    return bytes;
}

namespace VisitorAddress {

QString ipv4Text(quint32 address)
{
    char16_t text[15];
    qsizetype size = 0;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const unsigned part = (address >> shift) & 255;
        if (part >= 100)
            text[size++] = char16_t(u'0' + part / 100);
        if (part >= 10)
            text[size++] = char16_t(u'0' + part / 10 % 10);
        text[size++] = char16_t(u'0' + part % 10);
        if (shift > 0)
            text[size++] = u'.';
    }
    return QString(reinterpret_cast<const QChar *>(text), size);
}

QString ipv6Text(const Ipv6Number &address)
{
    if (address.isV4Mapped())
        return ipv4Text(address.mappedV4());
    quint16 fields[8];
    for (int i = 0; i < 4; ++i) {
        fields[i] = quint16(address.hi >> (48 - 16 * i));
        fields[i + 4] = quint16(address.lo >> (48 - 16 * i));
    }
    // The longest run of zero fields (at least two); the first one among equals.
    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        if (fields[i] != 0) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && fields[j] == 0)
            ++j;
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    QString text;
    text.reserve(39);
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += QStringLiteral("::");
            i += bestLength - 1;
            continue;
        }
        if (!text.isEmpty() && !text.endsWith(u':'))
            text += u':';
        text += QString::number(fields[i], 16);
    }
    return text;
}

QString fromSockaddr(const sockaddr *address)
{
    if (!address)
        return {};
    if (address->sa_family == AF_INET) {
        sockaddr_in v4;
        std::memcpy(&v4, address, sizeof v4);
        return ipv4Text(ntohl(v4.sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 v6;
        std::memcpy(&v6, address, sizeof v6);
        std::array<quint8, 16> bytes;
        std::memcpy(bytes.data(), v6.sin6_addr.s6_addr, 16);
        return ipv6Text(Ipv6Number::fromBytes(bytes));
    }
    return {};
}

std::optional<Ipv6Number> parseIpv6(const char *data, qsizetype size)
{
    while (size > 0 && (*data == ' ' || *data == '\t')) {
        ++data;
        --size;
    }
    while (size > 0 && (data[size - 1] == ' ' || data[size - 1] == '\t'))
        --size;
    // The longest IPv6 text: eight fields of four digits, or six fields and a dotted part.
    if (size <= 0 || size > 45)
        return std::nullopt;
    char text[46];
    std::memcpy(text, data, size_t(size));
    text[size] = '\0';
    in6_addr address;
    if (::inet_pton(AF_INET6, text, &address) != 1)
        return std::nullopt;
    std::array<quint8, 16> bytes;
    std::memcpy(bytes.data(), address.s6_addr, 16);
    return Ipv6Number::fromBytes(bytes);
}

std::optional<Ipv6Number> parseIpv6(QStringView text)
{
    if (text.size() > 64)
        return std::nullopt;
    char latin[64];
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c > 0x7f)
            return std::nullopt;
        latin[i] = char(c);
    }
    return parseIpv6(latin, text.size());
}

} // namespace VisitorAddress
