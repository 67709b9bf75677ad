#pragma once

#include "core/Clock.h"

#include <QString>

#include <atomic>
#include <limits>

// Whether the machine is online, and the name of the connection that carries the traffic.
//
// Flag bits (shown in the offline log line):
//   0x01  Modem     the default route runs over a point-to-point or mobile interface (ppp*, wwan*)
//   0x02  Lan       the default route runs over any other interface
//   0x20  Offline   no interface that is up carries a default route
//   0x40  Configured at least one interface other than loopback is up
class ConnectionState
{
public:
    enum Flag : quint32 {
        Modem = 0x01,
        Lan = 0x02,
        Offline = 0x20,
        Configured = 0x40,
    };

    struct Result
    {
        bool online = false;
        QString connectionName; // at most 254 characters
        quint32 flags = Offline;
    };

    virtual ~ConnectionState() = default;
    virtual Result query() const = 0;
};

// The Linux query: online when an IPv4 or IPv6 default route exists on an interface that is up
// (/proc/net/route, /proc/net/ipv6_route, /sys/class/net/<name>/flags). The connection name is the
// interface's name unless a name provider (NetworkManager) knows a better one.
class RouteConnectionState : public ConnectionState
{
public:
    // procRoot and sysRoot let tests feed their own files ("/proc" and "/sys" normally).
    explicit RouteConnectionState(QString procRoot = QStringLiteral("/proc"), QString sysRoot = QStringLiteral("/sys"));
    Result query() const override;

    // The interface that carries the default route (IPv4 first), or empty.
    QString defaultRouteInterface() const;

protected:
    // Name of the active connection on that interface; the interface name by default.
    virtual QString connectionNameFor(const QString &interfaceName) const;

private:
    bool interfaceUp(const QString &name) const;
    QString m_procRoot;
    QString m_sysRoot;
};

// The route query, with NetworkManager's name for the primary connection ("Wired connection 1")
// when NetworkManager runs on the system bus; the interface name otherwise.
//
// The questions to NetworkManager wait at most DBusBudgetMs together, so a NetworkManager that
// hangs cannot freeze the window that asks; after one went unanswered, NetworkManager is left
// alone for QuietAfterTimeoutMs and the interface name serves. Safe to use from several threads.
class NetworkManagerConnectionState final : public RouteConnectionState
{
public:
    static constexpr int DBusBudgetMs = 500;
    static constexpr qint64 QuietAfterTimeoutMs = 60'000;

    // busAddress: the D-Bus bus to ask; empty for the system bus (tests use a private bus).
    explicit NetworkManagerConnectionState(QString procRoot = QStringLiteral("/proc"),
        QString sysRoot = QStringLiteral("/sys"), QString busAddress = QString(), const Clock &clock = Clock::system());

protected:
    QString connectionNameFor(const QString &interfaceName) const override;

private:
    QString m_busAddress;
    const Clock &m_clock;
    mutable std::atomic<qint64> m_quietUntilMs { std::numeric_limits<qint64>::min() };
};
