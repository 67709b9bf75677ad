#include "core/ConnectionState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

namespace {
constexpr qint64 MaxProcFileBytes = 1 << 20;

QList<QByteArray> readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(MaxProcFileBytes).split('\n');
}
} // namespace

RouteConnectionState::RouteConnectionState(QString procRoot, QString sysRoot)
    : m_procRoot(std::move(procRoot))
    , m_sysRoot(std::move(sysRoot))
{ }

bool RouteConnectionState::interfaceUp(const QString &name) const
{
    QFile file(m_sysRoot + QStringLiteral("/class/net/") + name + QStringLiteral("/flags"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const uint flags = QString::fromLatin1(file.read(64).trimmed()).toUInt(&ok, 0);
    return ok && (flags & 0x1u); // IFF_UP
}

QString RouteConnectionState::defaultRouteInterface() const
{
    // /proc/net/route: Iface Destination Gateway Flags ... Mask ...; destination and mask 0 mean
    // the default route; flag 0x1 is RTF_UP.
    const QList<QByteArray> v4 = readLines(m_procRoot + QStringLiteral("/net/route"));
    for (qsizetype i = 1; i < v4.size(); ++i) {
        const QList<QByteArray> f = v4[i].simplified().split(' ');
        if (f.size() < 8)
            continue;
        bool ok = false;
        const uint flags = f[3].toUInt(&ok, 16);
        if (f[1] == "00000000" && f[7] == "00000000" && ok && (flags & 0x1u)) {
            const QString name = QString::fromLatin1(f[0]);
            if (interfaceUp(name))
                return name;
        }
    }
    // /proc/net/ipv6_route: dest destlen src srclen nexthop metric refcnt use flags iface.
    const QList<QByteArray> v6 = readLines(m_procRoot + QStringLiteral("/net/ipv6_route"));
    for (const QByteArray &line : v6) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 10)
            continue;
        bool ok = false;
        const uint flags = f[8].toUInt(&ok, 16);
        const QString name = QString::fromLatin1(f[9]);
        // RTF_UP 0x1, RTF_REJECT 0x200 (the kernel's unreachable default entry on "lo").
        if (f[0] == QByteArray(32, '0') && f[1] == "00" && ok && (flags & 0x1u) && !(flags & 0x200u) && name != u"lo"
            && interfaceUp(name))
            return name;
    }
    return {};
}

QString RouteConnectionState::connectionNameFor(const QString &interfaceName) const
{
    return interfaceName;
}

ConnectionState::Result RouteConnectionState::query() const
{
    Result result;
    quint32 flags = 0;
    const QStringList interfaces
        = QDir(m_sysRoot + QStringLiteral("/class/net")).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &name : interfaces) {
        if (name != u"lo" && interfaceUp(name)) {
            flags |= Configured;
            break;
        }
    }
    const QString iface = defaultRouteInterface();
    if (iface.isEmpty()) {
        result.flags = flags | Offline;
        return result;
    }
    result.online = true;
    result.flags = flags | ((iface.startsWith(u"ppp") || iface.startsWith(u"wwan")) ? Modem : Lan);
    result.connectionName = connectionNameFor(iface).left(254);
    return result;
}

NetworkManagerConnectionState::NetworkManagerConnectionState(
    QString procRoot, QString sysRoot, QString busAddress, const Clock &clock)
    : RouteConnectionState(std::move(procRoot), std::move(sysRoot))
    , m_busAddress(std::move(busAddress))
    , m_clock(clock)
{ }

namespace {
const QString NetworkManagerService = QStringLiteral("org.freedesktop.NetworkManager");

// One property of a NetworkManager object, asked with a plain Properties.Get call that waits no
// longer than the deadline (no introspection, no service activation). timedOut is set when the
// answer did not come in time.
QVariant networkManagerProperty(const QDBusConnection &bus, const QString &path, const QString &interface,
    const QString &name, const QDeadlineTimer &deadline, bool &timedOut)
{
    const qint64 left = deadline.remainingTime();
    if (left <= 0) {
        timedOut = true;
        return {};
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        NetworkManagerService, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    call.setAutoStartService(false);
    // QDBus::Block waits without running an event loop.
    const QDBusMessage reply = bus.call(call, QDBus::Block, int(qMax<qint64>(1, left)));
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        if (reply.errorName() == u"org.freedesktop.DBus.Error.NoReply"
            || reply.errorName() == u"org.freedesktop.DBus.Error.Timeout" || deadline.hasExpired())
            timedOut = true;
        return {};
    }
    return qvariant_cast<QDBusVariant>(reply.arguments().at(0)).variant();
}
} // namespace

QString NetworkManagerConnectionState::connectionNameFor(const QString &interfaceName) const
{
    if (m_clock.monotonicMs() < m_quietUntilMs.load())
        return interfaceName;
    const QDBusConnection bus = m_busAddress.isEmpty()
        ? QDBusConnection::systemBus()
        : QDBusConnection::connectToBus(m_busAddress, QStringLiteral("vistelle-connection-query:") + m_busAddress);
    if (!bus.isConnected())
        return interfaceName;

    const QDeadlineTimer deadline(DBusBudgetMs);
    bool timedOut = false;
    QString id;
    const QVariant primary = networkManagerProperty(bus, QStringLiteral("/org/freedesktop/NetworkManager"),
        NetworkManagerService, QStringLiteral("PrimaryConnection"), deadline, timedOut);
    const QString path = primary.value<QDBusObjectPath>().path();
    if (!path.isEmpty() && path != u"/") {
        id = networkManagerProperty(bus, path, QStringLiteral("org.freedesktop.NetworkManager.Connection.Active"),
            QStringLiteral("Id"), deadline, timedOut)
                 .toString();
    }
    if (timedOut)
        m_quietUntilMs.store(m_clock.monotonicMs() + QuietAfterTimeoutMs);
    return id.isEmpty() ? interfaceName : id.left(254);
}
