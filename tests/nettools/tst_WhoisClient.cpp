// The whois exchange without a window: the answer's decoding, the dot rule, the server entries
// and their settings, and real exchanges with a whois server of the test's own on loopback.
#include "core/SettingsStore.h"
#include "nettools/WhoisClient.h"
#include "nettools/WhoisDecoder.h"
#include "nettools/WhoisServers.h"
#include "tests/mock/ManualClock.h"
#include "tests/nettools/FakeWhoisServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// Everything textArrived reported, in order.
QString arrived(const QSignalSpy &spy)
{
    QString text;
    for (const QList<QVariant> &args : spy)
        text += args.at(0).toString();
    return text;
}
} // namespace

class tst_WhoisClient : public QObject
{
    Q_OBJECT
private slots:
    void decoder_data();
    void decoder();
    void registeredDomain_data();
    void registeredDomain();
    void serverEntry_data();
    void serverEntry();
    void serverSettings();

    void answerInPieces();
    void secondQueryDiscardsFirst();
    void emptyQuerySendsNothing();
    void longAnswerIsCut();
    void lineLimit_data();
    void lineLimit();
    void silentServerEndsAfterIdleTime();
    void tricklingServerEndsAtTheDeadline();
};

void tst_WhoisClient::decoder_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("ascii") << "Domain Name: EXAMPLE.COM"_ba << u"Domain Name: EXAMPLE.COM"_s;
    QTest::newRow("utf-8, two bytes") << "M\xC3\xBCller"_ba << u"Müller"_s;
    QTest::newRow("utf-8, three bytes") << "\xE2\x82\xAC 5"_ba << u"€ 5"_s;
    QTest::newRow("utf-8, four bytes") << "a\xF0\x9F\x98\x80z"_ba << u"a\U0001F600z"_s;
    QTest::newRow("latin-1") << "M\xFCller, S\xE3o Paulo"_ba << u"Müller, São Paulo"_s;
    QTest::newRow("mixed") << "caf\xC3\xA9 / caf\xE9"_ba << u"café / café"_s;
    QTest::newRow("cut sequence at the end") << "abc\xE2\x82"_ba << u"abc\u00E2\uFFFD"_s;
    QTest::newRow("overlong") << "\xC0\xAF"_ba << u"\u00C0\u00AF"_s;
    QTest::newRow("surrogate") << "\xED\xA0\x80"_ba << u"\u00ED\u00A0\uFFFD"_s;
    QTest::newRow("line ends") << "a\r\nb\rc\nd\r\n\r\ne"_ba << u"a\nb\nc\nd\n\ne"_s;
    QTest::newRow("controls") << "\x1B[31m\x07\x7F\tX\x00"_ba << u"\uFFFD[31m\uFFFD\uFFFD\tX\uFFFD"_s;
    QTest::newRow("C1 control") << "a\xC2\x85z"_ba << u"a\uFFFDz"_s;
    QTest::newRow("bidi override") << "a\xE2\x80\xAE"
                                      "cba\xE2\x80\xACz"_ba
                                   << u"acbaz"_s;
    const int max = WhoisDecoder::MaxLineLength;
    QTest::newRow("long line") << QByteArray(max + 10, 'a') << QString(max, u'a') + u'\n' + QString(10, u'a');
    QTest::newRow("line end at the limit") << QByteArray(max, 'a') + "\r\nb" << QString(max, u'a') + u"\nb"_s;
    QTest::newRow("markup") << "<b>Owner</b> &amp; <img src=x>"_ba << u"<b>Owner</b> &amp; <img src=x>"_s;
}

void tst_WhoisClient::decoder()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    // Whole, in two reads split at every place, and byte by byte: always the same text.
    for (qsizetype split = 0; split <= bytes.size(); ++split) {
        WhoisDecoder decoder;
        QString got = decoder.decode(bytes.first(split));
        got += decoder.decode(bytes.sliced(split));
        got += decoder.finish();
        QVERIFY2(got == text, qPrintable(u"split at %1: "_s.arg(split) + got));
    }
    WhoisDecoder decoder;
    QString got;
    for (const char byte : bytes)
        got += decoder.decode(QByteArrayView(&byte, 1));
    got += decoder.finish();
    QCOMPARE(got, text);
}

void tst_WhoisClient::registeredDomain_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("domain");
    QTest::newRow("four labels") << "dsl-7.pool.example.net"
                                 << "example.net";
    QTest::newRow("three labels") << "www.example.com"
                                  << "example.com";
    QTest::newRow("country suffix of two labels") << "www.example.co.uk"
                                                  << "example.co.uk";
    QTest::newRow("deeper under a two-label suffix") << "a.b.shop.example.com.au"
                                                     << "example.com.au";
    QTest::newRow("letter case and blanks") << " WWW.Example.ORG "
                                            << "example.org";
    QTest::newRow("unknown suffix: the last two labels") << "a.b.example.invalidtld"
                                                         << "example.invalidtld";
    QTest::newRow("two labels") << "example.com"
                                << "example.com";
    QTest::newRow("one label") << "localhost"
                               << "localhost";
    QTest::newRow("not resolved") << "IP: Can't Resolve"
                                  << "IP: Can't Resolve";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_WhoisClient::registeredDomain()
{
    QFETCH(QString, caption);
    QTEST(WhoisClient::registeredDomain(caption), "domain");
}

void tst_WhoisClient::serverEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");

    QTest::newRow("name") << " whois.ripe.net " << true << "whois.ripe.net" << 43;
    QTest::newRow("name and port") << "127.0.0.1:4343" << true << "127.0.0.1" << 4343;
    QTest::newRow("v6 and port") << "[::1]:4343" << true << "::1" << 4343;
    QTest::newRow("v6 in brackets") << "[2001:db8::1]" << true << "2001:db8::1" << 43;
    QTest::newRow("bare v6") << "2001:db8::1" << true << "2001:db8::1" << 43;
    QTest::newRow("port 0") << "whois.example:0" << false << "" << 0;
    QTest::newRow("port too large") << "whois.example:65536" << false << "" << 0;
    QTest::newRow("port not a number") << "whois.example:4x" << false << "" << 0;
    QTest::newRow("no host") << ":43" << false << "" << 0;
    QTest::newRow("open bracket") << "[::1:43" << false << "" << 0;
    QTest::newRow("blank inside") << "who is.example" << false << "" << 0;
    QTest::newRow("empty") << "  " << false << "" << 0;
}

void tst_WhoisClient::serverEntry()
{
    QFETCH(QString, entry);
    QFETCH(bool, valid);
    const std::optional<WhoisEndpoint> endpoint = WhoisServers::parse(entry);
    QCOMPARE(endpoint.has_value(), valid);
    if (valid) {
        QTEST(endpoint->host, "host");
        QTEST(int(endpoint->port), "port");
    } else {
        // An entry that names no server connects nowhere.
        WhoisClient client;
        QVERIFY(!client.query(entry, u"example.com"_s));
        QVERIFY(!client.isRunning());
    }
}

void tst_WhoisClient::serverSettings()
{
    QTemporaryDir dir;
    SettingsStore settings(dir.filePath(u"settings.conf"_s));
    const QStringList defaults = WhoisServers::defaults();
    QCOMPARE(defaults.size(), WhoisServers::Count);
    QCOMPARE(defaults.at(2), defaults.at(0));
    QCOMPARE(WhoisServers::read(settings), defaults);

    // Entry 3 is the same server as entry 1 until it is set on its own.
    settings.SaveSetting(u"whoisserver1"_s, u"127.0.0.1:4343"_s);
    settings.SaveSetting(u"WhoisServer9"_s, u"[::1]:4343"_s);
    QStringList expected = defaults;
    expected[0] = expected[2] = u"127.0.0.1:4343"_s;
    expected[8] = u"[::1]:4343"_s;
    QCOMPARE(WhoisServers::read(settings), expected);
    settings.SaveSetting(u"WhoisServer3"_s, u"whois.example"_s);
    QCOMPARE(WhoisServers::read(settings).at(2), u"whois.example"_s);
}

void tst_WhoisClient::answerInPieces()
{
    FakeWhoisServer server;
    WhoisClient client;
    QSignalSpy text(&client, &WhoisClient::textArrived);
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(u" "_s + server.entry() + u" "_s, u"  example.com \r\n"_s));
    QTRY_VERIFY(server.connectionCount() == 1 && server.last().received.endsWith("\r\n"));
    QCOMPARE(server.last().received, "example.com\r\n"_ba);

    // Each piece is read on its own; the second read starts inside the "ü".
    const QList<QByteArray> pieces
        = { "Domain Name: EXAMPLE.COM\r\nRegistrant: M\xC3"_ba, "\xBCller GmbH\r"_ba, "\n<b>end</b>\r\n"_ba };
    qint64 sent = 0;
    for (const QByteArray &piece : pieces) {
        server.send(piece);
        sent += piece.size();
        QTRY_COMPARE(client.receivedBytes(), sent);
    }
    QCOMPARE(text.size(), 3);
    server.closeLast();
    QTRY_COMPARE(finished.size(), 1);

    const QString expected = u"Domain Name: EXAMPLE.COM\nRegistrant: Müller GmbH\n<b>end</b>\n"_s;
    QCOMPARE(client.Input_Label(), expected);
    QCOMPARE(arrived(text), expected);
    QVERIFY(!client.isRunning());
}

void tst_WhoisClient::secondQueryDiscardsFirst()
{
    FakeWhoisServer server;
    WhoisClient client;
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u"first.example"_s));
    QTRY_VERIFY(server.connectionCount() == 1 && server.last().received.endsWith("\r\n"));
    server.send("old answer, first part\n"_ba);
    QTRY_VERIFY(client.receivedBytes() > 0);

    server.answer = "new answer\r\n"_ba;
    QVERIFY(client.query(server.entry(), u"second.example"_s));
    QCOMPARE(client.Input_Label(), QString());
    QTRY_VERIFY(server.connection(0).closed); // the old connection is gone
    QTRY_COMPARE(finished.size(), 1); // the new exchange; the replaced one reports nothing
    QCOMPARE(server.connection(1).received, "second.example\r\n"_ba);
    QCOMPARE(client.Input_Label(), u"new answer\n"_s);
}

void tst_WhoisClient::emptyQuerySendsNothing()
{
    FakeWhoisServer server;
    WhoisClient client;
    QSignalSpy noDomain(&client, &WhoisClient::noDomainName);
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u" \t "_s));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(noDomain.size(), 1);
    QTRY_VERIFY(server.connectionCount() == 1 && server.last().closed);
    QCOMPARE(server.last().received, QByteArray());
    QCOMPARE(client.Input_Label(), QString());
}

void tst_WhoisClient::longAnswerIsCut()
{
    QByteArray answer;
    const QByteArray line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .\n"_ba;
    while (answer.size() < 5 * 1024 * 1024)
        answer += line;
    FakeWhoisServer server;
    server.answer = answer;
    WhoisClient client;
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u"example.com"_s));
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);

    const qint64 max = client.limits().maxAnswerBytes;
    QCOMPARE(client.receivedBytes(), max);
    const QString kept = QString::fromLatin1(answer.first(max));
    QCOMPARE(client.Input_Label(), kept + u'\n' + WhoisClient::cutNote(client.limits()) + u'\n');
    QVERIFY(WhoisClient::cutNote(client.limits()).contains(u"1024 KiB"_s));
    QTRY_VERIFY(server.last().closed);
}

void tst_WhoisClient::lineLimit_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("kept");
    QTest::addColumn<bool>("cut");
    QTest::newRow("fewer lines") << "1\n2\n"_ba << u"1\n2\n"_s << false;
    QTest::newRow("as many lines") << "1\n2\n3\n"_ba << u"1\n2\n3\n"_s << false;
    QTest::newRow("a part more") << "1\n2\n3\n4"_ba << u"1\n2\n3\n"_s << true;
    QTest::newRow("empty lines") << "\r\n\r\n\r\n\r\n\r\n"_ba << u"\n\n\n"_s << true;
}

void tst_WhoisClient::lineLimit()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, kept);
    QFETCH(bool, cut);
    FakeWhoisServer server;
    server.answer = answer;
    WhoisLimits limits;
    limits.maxAnswerLines = 3;
    WhoisClient client(Clock::system(), limits);
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u"example.com"_s));
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(client.Input_Label(), cut ? kept + WhoisClient::cutNote(limits) + u'\n' : kept);
}

void tst_WhoisClient::silentServerEndsAfterIdleTime()
{
    ManualClock clock;
    FakeWhoisServer server;
    WhoisClient client(clock);
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u"example.com"_s));
    QTRY_VERIFY(server.connectionCount() == 1 && server.last().received.endsWith("\r\n"));
    server.send("Registrant: still writing"_ba);
    QTRY_VERIFY(client.receivedBytes() > 0);

    clock.advance(client.limits().idleTimeoutMs - 1);
    client.checkIdle();
    QVERIFY(client.isRunning());
    clock.advance(1);
    client.checkIdle();
    QVERIFY(!client.isRunning());
    QCOMPARE(finished.size(), 1);
    QCOMPARE(client.Input_Label(), u"Registrant: still writing\n"_s + WhoisClient::idleNote(30'000) + u'\n');
    QTRY_VERIFY(server.last().closed);
}

void tst_WhoisClient::tricklingServerEndsAtTheDeadline()
{
    // A byte every two seconds keeps the idle limit away; the deadline still ends the exchange.
    ManualClock clock;
    FakeWhoisServer server;
    WhoisClient client(clock);
    QSignalSpy finished(&client, &WhoisClient::finished);
    QVERIFY(client.query(server.entry(), u"example.com"_s));
    QTRY_VERIFY(server.connectionCount() == 1 && server.last().received.endsWith("\r\n"));
    qint64 sent = 0;
    while (clock.monotonicMs() + 2000 < client.limits().deadlineMs) {
        server.send("x"_ba);
        ++sent;
        QTRY_COMPARE(client.receivedBytes(), sent);
        clock.advance(2000);
        client.checkIdle();
        QVERIFY(client.isRunning());
    }
    clock.advance(2000);
    client.checkIdle();
    QVERIFY(!client.isRunning());
    QCOMPARE(finished.size(), 1);
    QVERIFY(client.Input_Label().endsWith(WhoisClient::deadlineNote(30'000) + u'\n'));
    QTRY_VERIFY(server.last().closed);
}

QTEST_GUILESS_MAIN(tst_WhoisClient)
#include "tst_WhoisClient.moc"
