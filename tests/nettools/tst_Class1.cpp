#include "nettools/Class1.h"

#include <QTest>

#include <cstring>

class tst_Class1 : public QObject
{
    Q_OBJECT
private slots:
    void dotted_data();
    void dotted();
    void packing_data();
    void packing();
    void stripAtNul();
    void resolveLoopback();
    void localMachine();
    void notReady();
};

void tst_Class1::dotted_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("dotted");
    QTest::newRow("plain") << "10.0.0.1" << true;
    QTest::newRow("edges") << "0.255.0.255" << true;
    QTest::newRow("three parts") << "1.2.3" << false;
    QTest::newRow("out of range") << "1.2.3.256" << false;
    QTest::newRow("empty part") << "1..3.4" << false;
    QTest::newRow("letters") << "a.b.c.d" << false;
    QTest::newRow("negative") << "1.2.3.-4" << false;
    QTest::newRow("blank") << "1.2.3. 4" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("five parts") << "1.2.3.4.5" << true;
    QTest::newRow("name") << "localhost" << false;
}

void tst_Class1::dotted()
{
    QFETCH(QString, text);
    QTEST(Class1::IsDottedAddress(text), "dotted");
    if (!Class1::IsDottedAddress(text)) {
        // Not asked of the resolver at all.
        QCOMPARE(Class1().AddressToName(text), QString());
    }
}

void tst_Class1::packing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("negative");
    QTest::newRow("10.0.0.1") << "10.0.0.1" << QByteArray("\x0a\x00\x00\x01", 4) << false;
    QTest::newRow("200.1.2.250") << "200.1.2.250" << QByteArray("\xc8\x01\x02\xfa", 4) << true;
    QTest::newRow("127.0.0.128") << "127.0.0.128" << QByteArray("\x7f\x00\x00\x80", 4) << true;
}

void tst_Class1::packing()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const qint32 value = Class1::DottedToLong(text);
    QByteArray memory(4, '\0');
    std::memcpy(memory.data(), &value, 4);
    QCOMPARE(memory, bytes);
    QTEST(value < 0, "negative");
}

void tst_Class1::stripAtNul()
{
    QCOMPARE(Class1::StripAtNul(QStringLiteral("host")), QStringLiteral("host"));
    QCOMPARE(Class1::StripAtNul(QString::fromUtf16(u"ho\0st", 5)), QStringLiteral("ho"));
    QCOMPARE(Class1::StripAtNul(QString()), QString());
}

void tst_Class1::resolveLoopback()
{
    Class1 resolver;
    QVERIFY(resolver.WinsockReady());
    QCOMPARE(resolver.NameToAddress(QStringLiteral("127.0.0.1")), QStringLiteral("127.0.0.1"));
    QCOMPARE(resolver.NameToAddress(QStringLiteral("localhost")), QStringLiteral("127.0.0.1"));
    QVERIFY(!resolver.AddressToName(QStringLiteral("127.0.0.1")).isEmpty());
    QCOMPARE(resolver.NameToAddress(QStringLiteral("no-such-host.invalid")), QString());
    QCOMPARE(resolver.NameToAddress(QString::fromUtf16(u"local\0host", 10)), QString());
}

void tst_Class1::localMachine()
{
    const QString address = Class1().NameToAddress(QString());
    QVERIFY2(Class1::IsDottedAddress(address), qPrintable(address));
    // Loopback only when the machine has nothing else; this machine may or may not.
    QCOMPARE(address, Class1::localAddress());
}

void tst_Class1::notReady()
{
    Class1 resolver(false);
    QVERIFY(!resolver.WinsockReady());
    QCOMPARE(resolver.NameToAddress(QStringLiteral("localhost")), QString());
    QCOMPARE(resolver.NameToAddress(QString()), QString());
    QCOMPARE(resolver.AddressToName(QStringLiteral("127.0.0.1")), QString());
}

QTEST_GUILESS_MAIN(tst_Class1)
#include "tst_Class1.moc"
