#pragma once

#include <QString>
#include <QStringView>

#include <array>
#include <compare>
#include <optional>

struct sockaddr;

// An IPv6 address as a 128-bit number (high and low 64 bits), ordered as numbers.
struct Ipv6Number
{
    quint64 hi = 0;
    quint64 lo = 0;
    auto operator<=>(const Ipv6Number &) const = default;

    static Ipv6Number fromBytes(const std::array<quint8, 16> &bytes);
    std::array<quint8, 16> toBytes() const;
    // Whether it lies in ::ffff:0:0/96 (an IPv4 visitor seen through an IPv6 socket).
    bool isV4Mapped() const { return hi == 0 && (lo >> 32) == 0xffff; }
    quint32 mappedV4() const { return quint32(lo); }
};

// How visitor addresses are written: dotted decimal for IPv4 (also for an IPv4 address mapped into
// IPv6), the canonical text of RFC 5952 for IPv6 (lower-case hexadecimal, no leading zeros, the
// longest run of two or more zero fields, the first of equals, written "::"), without a zone.
namespace VisitorAddress {

// The address of a socket address (AF_INET or AF_INET6); empty for other families.
QString fromSockaddr(const sockaddr *address);

// The canonical text of an IPv6 address (an IPv4-mapped one as dotted IPv4).
QString ipv6Text(const Ipv6Number &address);
QString ipv4Text(quint32 address);

// Reads IPv6 address text (any valid form, including an embedded dotted IPv4 part); blanks
// around it are ignored, nothing else may follow. No value for anything else.
std::optional<Ipv6Number> parseIpv6(QStringView text);
std::optional<Ipv6Number> parseIpv6(const char *data, qsizetype size);

} // namespace VisitorAddress
