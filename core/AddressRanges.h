#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

// A list of addresses and ranges ("203.0.113.7, 198.51.100.0/24 2001:db8:1::/64"): entries are
// separated by commas, semicolons or blanks; an address without a prefix length is that address.
class AddressRanges final
{
public:
    // Reads the list; entries that are neither an address nor a range are skipped and returned in
    // *rejected when given.
    static AddressRanges parse(const QString &text, QStringList *rejected = nullptr);

    bool contains(const QHostAddress &address) const;
    bool isEmpty() const { return m_ranges.isEmpty(); }

private:
    QList<std::pair<QHostAddress, int>> m_ranges;
};
