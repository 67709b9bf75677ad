#include "core/ConnectionState.h"
#include "tests/common/NoFreeDescriptors.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
} // namespace

class tst_ConnectionState : public QObject
{
    Q_OBJECT
private slots:
    void query_data();
    void query();
    void shortageOfDescriptorsIsNotOffline();
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

void tst_ConnectionState::shortageOfDescriptorsIsNotOffline()
{
    QTemporaryDir dir;
    const QString proc = dir.filePath(QStringLiteral("proc"));
    const QString sys = dir.filePath(QStringLiteral("sys"));
    writeFile(proc + QStringLiteral("/net/route"), RouteHeader + DefaultViaEth0);
    writeFile(sys + QStringLiteral("/class/net/eth0/flags"), "0x1003\n");
    const RouteConnectionState state(proc, sys);
    const RouteConnectionState fresh(proc, sys);
    QVERIFY(state.query().online);
    {
        const NoFreeDescriptors squeeze;
        // The last answer stands; a query without one assumes online.
        const ConnectionState::Result result = state.query();
        QVERIFY(result.online);
        QCOMPARE(result.connectionName, QStringLiteral("eth0"));
        QVERIFY(fresh.query().online);
    }
    // A route table that is really missing is still offline.
    QVERIFY(QFile::remove(proc + QStringLiteral("/net/route")));
    QVERIFY(!state.query().online);
}

QTEST_GUILESS_MAIN(tst_ConnectionState)
#include "tst_ConnectionState.moc"
