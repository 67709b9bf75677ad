#include "core/AddressRanges.h"

#include <QRegularExpression>

AddressRanges AddressRanges::parse(const QString &text, QStringList *rejected)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    AddressRanges ranges;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        if (entry.contains(u'/')) {
            const std::pair<QHostAddress, int> subnet = QHostAddress::parseSubnet(entry);
            if (!subnet.first.isNull() && subnet.second >= 0) {
                ranges.m_ranges.append(subnet);
                continue;
            }
        } else if (const QHostAddress address(entry); !address.isNull()) {
            const int bits = address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128;
            ranges.m_ranges.append({ address, bits });
            continue;
        }
        if (rejected)
            rejected->append(entry);
    }
    return ranges;
}

bool AddressRanges::contains(const QHostAddress &address) const
{
    if (address.isNull())
        return false;
    // An IPv4 visitor seen through an IPv6 socket is that IPv4 address.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    const QHostAddress plain = mapped ? QHostAddress(v4) : address;
    for (const auto &[network, bits] : m_ranges) {
        if (plain.isInSubnet(network, bits))
            return true;
    }
    return false;
}
