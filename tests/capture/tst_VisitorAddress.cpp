#include "capture/VisitorAddress.h"

#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

class tst_VisitorAddress : public QObject
{
    Q_OBJECT

private slots:
    void canonical_data();
    void canonical();
    void rejected_data();
    void rejected();
    void fromSockaddr();
    void numberOrder();
};

void tst_VisitorAddress::canonical_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("text");
    QTest::newRow("loopback") << u"::1"_qs << u"::1"_qs;
    QTest::newRow("unspecified") << u"::"_qs << u"::"_qs;
    QTest::newRow("leading zeros dropped") << u"2001:0db8:0000:0000:0000:0000:0000:0001"_qs << u"2001:db8::1"_qs;
    QTest::newRow("lower case") << u"2001:DB8::A:B"_qs << u"2001:db8::a:b"_qs;
    QTest::newRow("one zero field stays") << u"2001:db8:0:1:1:1:1:1"_qs << u"2001:db8:0:1:1:1:1:1"_qs;
    QTest::newRow("longest run") << u"2001:0:0:1:0:0:0:1"_qs << u"2001:0:0:1::1"_qs;
    QTest::newRow("first of equal runs") << u"2001:db8:0:0:1:0:0:1"_qs << u"2001:db8::1:0:0:1"_qs;
    QTest::newRow("run at the end") << u"1:0:0:0:0:0:0:0"_qs << u"1::"_qs;
    QTest::newRow("no zero") << u"1:2:3:4:5:6:7:8"_qs << u"1:2:3:4:5:6:7:8"_qs;
    QTest::newRow("mapped IPv4 is dotted") << u"::ffff:192.0.2.33"_qs << u"192.0.2.33"_qs;
    QTest::newRow("mapped in hexadecimal") << u"::FFFF:C000:0221"_qs << u"192.0.2.33"_qs;
    QTest::newRow("compatible form is IPv6") << u"::192.0.2.33"_qs << u"::c000:221"_qs;
    QTest::newRow("German visitor") << u"2a02:8108:0:0:0:0:0:5"_qs << u"2a02:8108::5"_qs;
    QTest::newRow("blanks around") << u" fe80::1 "_qs << u"fe80::1"_qs;
    QTest::newRow("all ones") << u"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"_qs
                              << u"ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"_qs;
}

void tst_VisitorAddress::canonical()
{
    QFETCH(QString, input);
    QFETCH(QString, text);
    const std::optional<Ipv6Number> address = VisitorAddress::parseIpv6(input);
    QVERIFY(address);
    QCOMPARE(VisitorAddress::ipv6Text(*address), text);
    // The text reads back as the same address.
    if (!address->isV4Mapped())
        QCOMPARE(VisitorAddress::parseIpv6(text), address);
    QCOMPARE(Ipv6Number::fromBytes(address->toBytes()), *address);
}

void tst_VisitorAddress::rejected_data()
{
    QTest::addColumn<QString>("input");
    QTest::newRow("empty") << QString();
    QTest::newRow("IPv4") << u"192.0.2.1"_qs;
    QTest::newRow("two gaps") << u"1::2::3"_qs;
    QTest::newRow("zone") << u"fe80::1%eth0"_qs;
    QTest::newRow("brackets") << u"[::1]"_qs;
    QTest::newRow("field too long") << u"12345::1"_qs;
    QTest::newRow("nine fields") << u"1:2:3:4:5:6:7:8:9"_qs;
    QTest::newRow("letters") << u"2001:db8::g"_qs;
    QTest::newRow("non-ASCII digit") << u"2001:db8::\u0661"_qs;
    QTest::newRow("very long") << QString(500, u':');
    QTest::newRow("text after") << u"::1 x"_qs;
}

void tst_VisitorAddress::rejected()
{
    QFETCH(QString, input);
    QVERIFY(!VisitorAddress::parseIpv6(input));
}

void tst_VisitorAddress::fromSockaddr()
{
    sockaddr_in v4 {};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(0xc0000221);
    QCOMPARE(VisitorAddress::fromSockaddr(reinterpret_cast<const sockaddr *>(&v4)), u"192.0.2.33"_qs);

    sockaddr_in6 v6 {};
    v6.sin6_family = AF_INET6;
    QCOMPARE(::inet_pton(AF_INET6, "2a02:8108::5", &v6.sin6_addr), 1);
    v6.sin6_scope_id = 3; // the zone is not part of the text
    QCOMPARE(VisitorAddress::fromSockaddr(reinterpret_cast<const sockaddr *>(&v6)), u"2a02:8108::5"_qs);
    QCOMPARE(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &v6.sin6_addr), 1);
    QCOMPARE(VisitorAddress::fromSockaddr(reinterpret_cast<const sockaddr *>(&v6)), u"127.0.0.1"_qs);

    sockaddr other {};
    other.sa_family = AF_UNIX;
    QCOMPARE(VisitorAddress::fromSockaddr(&other), QString());
    QCOMPARE(VisitorAddress::fromSockaddr(nullptr), QString());
}

void tst_VisitorAddress::numberOrder()
{
    const auto n = [](const char16_t *text) { return *VisitorAddress::parseIpv6(QStringView(text)); };
    QVERIFY(n(u"::1") < n(u"::2"));
    QVERIFY(n(u"::ffff:ffff:ffff:ffff") < n(u"0:0:0:1::"));
    QVERIFY(n(u"2001:db8::") < n(u"2a02:8108::"));
    QCOMPARE(n(u"0:0:0:1::").hi, quint64(1));
    QCOMPARE(n(u"::1").lo, quint64(1));
}

QTEST_GUILESS_MAIN(tst_VisitorAddress)
#include "tst_VisitorAddress.moc"
