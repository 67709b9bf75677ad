#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class SettingsStore;

// A whois server to connect to.
struct WhoisEndpoint
{
    QString host; // name or address (an IPv6 address without brackets)
    quint16 port = 43;

    bool operator==(const WhoisEndpoint &) const = default;
};

// The nine whois servers of the whois window, each a setting of the program's store with a
// default, so a user can point the window elsewhere and the tests at local servers.
//
//   WhoisServer1  a large domain registrar       whois.godaddy.com
//   WhoisServer2  a second large registrar       whois.networksolutions.com
//   WhoisServer3  the same server as entry 1     the value of WhoisServer1
//   WhoisServer4  .gov registry                  whois.nic.gov
//   WhoisServer5  InterNIC                       whois.internic.net
//   WhoisServer6  RIPE NCC (Europe)              whois.ripe.net
//   WhoisServer7  ARIN (North America)           whois.arin.net
//   WhoisServer8  APNIC (Asia-Pacific)           whois.apnic.net
//   WhoisServer9  .au registry (auDA)            whois.auda.org.au
//
// A value is "host", "host:port" or "[IPv6 address]:port"; the port is 43 when none is given.
namespace WhoisServers {

inline constexpr int Count = 9;

// "WhoisServer1" ... "WhoisServer9".
QString key(int number);
// The nine defaults in list order.
QStringList defaults();
// The nine values from the store (user-interface thread), missing keys at their defaults.
QStringList read(const SettingsStore &settings);
// The server of a value (blanks around it ignored); nothing when it names none.
std::optional<WhoisEndpoint> parse(const QString &entry);

} // namespace WhoisServers
