#include "core/ConnectionState.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(path.section(u'/', 0, -2));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

const QByteArray RouteHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
const QByteArray DefaultViaEth0 = "eth0\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
const QByteArray LanOnlyEth0 = "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
const QByteArray DefaultViaPpp0 = "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
const QByteArray V6Default = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                             "fe800000000000000000000000000001 00000400 00000001 00000000 00000003  wlan0\n";
const QByteArray V6LoReject = "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
                              "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n";
// NetworkManager on a private bus, answering from a thread of its own, or never.
class FakeNetworkManager final : public QDBusVirtualObject
{
public:
    std::atomic<bool> hang = false;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        if (hang)
            return true; // taken, never answered
        if (message.member() != u"Get" || message.arguments().size() != 2)
            return false;
        const QString property = message.arguments().at(1).toString();
        QVariant value;
        if (property == u"PrimaryConnection")
            value = QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/freedesktop/NetworkManager/Active/1")));
        else if (property == u"Id")
            value = QStringLiteral("Wired connection 1");
        else
            return false;
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        return true;
    }
};
} // namespace

class tst_ConnectionState : public QObject
{
    Q_OBJECT
private slots:
    void query_data();
    void query();
    void hungNetworkManagerCostsAtMostHalfASecond();

private:
    QString writeRoutes(const QTemporaryDir &dir);
};

void tst_ConnectionState::query_data()
{
    QTest::addColumn<QByteArray>("route");
    QTest::addColumn<QByteArray>("ipv6Route");
    QTest::addColumn<QStringList>("upInterfaces");
    QTest::addColumn<bool>("online");
    QTest::addColumn<QString>("name");
    QTest::addColumn<uint>("flags");

    const QStringList none;
    QTest::newRow("default route on eth0")
        << RouteHeader + DefaultViaEth0 << QByteArray() << QStringList { u"eth0"_qs } << true << "eth0"
        << uint(ConnectionState::Lan | ConnectionState::Configured);
    QTest::newRow("default route on a down interface")
        << RouteHeader + DefaultViaEth0 << QByteArray() << none << false << "" << uint(ConnectionState::Offline);
    QTest::newRow("local network only") << RouteHeader + LanOnlyEth0 << QByteArray() << QStringList { u"eth0"_qs }
                                        << false << "" << uint(ConnectionState::Offline | ConnectionState::Configured);
    QTest::newRow("modem") << RouteHeader + DefaultViaPpp0 << QByteArray() << QStringList { u"ppp0"_qs } << true
                           << "ppp0" << uint(ConnectionState::Modem | ConnectionState::Configured);
    QTest::newRow("ipv6 only") << RouteHeader << V6LoReject + V6Default << QStringList { u"wlan0"_qs, u"lo"_qs } << true
                               << "wlan0" << uint(ConnectionState::Lan | ConnectionState::Configured);
    QTest::newRow("loopback reject entry is not a route")
        << RouteHeader << V6LoReject << QStringList { u"lo"_qs } << false << "" << uint(ConnectionState::Offline);
    QTest::newRow("no files") << QByteArray() << QByteArray() << none << false << "" << uint(ConnectionState::Offline);
}

void tst_ConnectionState::query()
{
    QFETCH(QByteArray, route);
    QFETCH(QByteArray, ipv6Route);
    QFETCH(QStringList, upInterfaces);
    QTemporaryDir dir;
    const QString proc = dir.filePath(QStringLiteral("proc"));
    const QString sys = dir.filePath(QStringLiteral("sys"));
    if (!route.isEmpty())
        writeFile(proc + QStringLiteral("/net/route"), route);
    if (!ipv6Route.isEmpty())
        writeFile(proc + QStringLiteral("/net/ipv6_route"), ipv6Route);
    for (const QString &name : { u"eth0"_qs, u"ppp0"_qs, u"wlan0"_qs, u"lo"_qs })
        writeFile(sys + QStringLiteral("/class/net/") + name + QStringLiteral("/flags"),
            upInterfaces.contains(name) ? "0x1003\n" : "0x1002\n");

    const ConnectionState::Result result = RouteConnectionState(proc, sys).query();
    QTEST(result.online, "online");
    QTEST(result.connectionName, "name");
    QTEST(uint(result.flags), "flags");
}

QString tst_ConnectionState::writeRoutes(const QTemporaryDir &dir)
{
    writeFile(dir.filePath(QStringLiteral("proc/net/route")), RouteHeader + DefaultViaEth0);
    writeFile(dir.filePath(QStringLiteral("sys/class/net/eth0/flags")), "0x1003\n");
    return dir.path();
}

void tst_ConnectionState::hungNetworkManagerCostsAtMostHalfASecond()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    QVERIFY2(!daemon.isEmpty(), "dbus-daemon is missing (scripts/deps.sh --test installs it)");
    QTemporaryDir dir;
    QProcess bus;
    bus.start(daemon,
        { QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
            QStringLiteral("--print-address=1"),
            QStringLiteral("--address=unix:path=") + dir.filePath(QStringLiteral("bus")) });
    QVERIFY(bus.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(bus.readLine()).trimmed();
    QVERIFY2(!address.isEmpty(), "the private bus did not start");

    FakeNetworkManager manager;
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("fake-network-manager"));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.NetworkManager")));
    QVERIFY(service.registerVirtualObject(
        QStringLiteral("/org/freedesktop/NetworkManager"), &manager, QDBusConnection::SubPath));
    // It answers from a thread of its own, so the blocking question of this thread gets an answer.
    QThread managerThread;
    manager.moveToThread(&managerThread);
    managerThread.start();

    const QString root = writeRoutes(dir);
    const NetworkManagerConnectionState state(root + QStringLiteral("/proc"), root + QStringLiteral("/sys"), address);
    // Answering: NetworkManager's name for the connection.
    QCOMPARE(state.query().connectionName, QStringLiteral("Wired connection 1"));

    // Hung: the interface's name, after at most the budget (D-Bus alone would wait 25 s).
    manager.hang = true;
    QElapsedTimer timer;
    timer.start();
    ConnectionState::Result result = state.query();
    const qint64 firstMs = timer.restart();
    QVERIFY(result.online);
    QCOMPARE(result.connectionName, QStringLiteral("eth0"));
    QVERIFY2(firstMs >= NetworkManagerConnectionState::DBusBudgetMs - 50 && firstMs < 2000,
        qPrintable(QString::number(firstMs)));
    // Then it is left alone for a while: no wait at all.
    result = state.query();
    QCOMPARE(result.connectionName, QStringLiteral("eth0"));
    QVERIFY2(timer.elapsed() < 300, qPrintable(QString::number(timer.elapsed())));

    service.unregisterObject(QStringLiteral("/org/freedesktop/NetworkManager"), QDBusConnection::UnregisterTree);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-network-manager"));
    managerThread.quit();
    managerThread.wait();
    bus.terminate();
    bus.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(tst_ConnectionState)
#include "tst_ConnectionState.moc"
