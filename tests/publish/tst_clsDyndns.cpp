#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/publish/FakeProvider.h"

#include "core/ConnectionState.h"
#include "publish/clsDyndns.h"
#include "publish/modXMLHTTP.h"

#include <QtTest>

namespace {

const QStringList kDynHosts = {
    QStringLiteral("good.test"),
    QStringLiteral("nochg.test"),
    QStringLiteral("capgood.test"),
    QStringLiteral("badauth.test"),
    QStringLiteral("empty.test"),
    QStringLiteral("slow.test"),
    QStringLiteral("huge.test"),
    QStringLiteral("nomx.test"),
    QStringLiteral("4you.test"),
    QStringLiteral("Upper.Test"),
};

} // namespace

class tst_clsDyndns : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void newInstanceIsLoggedOut();
    void loginSendsTheExactRequests();
    void loginReadsSessionAndLists();
    void loginTakesOnlyTheAcsIdCookie_data();
    void loginTakesOnlyTheAcsIdCookie();
    void refusedLoginChangesNothing();
    void loginWithoutSessionCookieClearsSession();
    void loginWithBadHostPageFails_data();
    void loginWithBadHostPageFails();
    void loginTransportErrorClearsSession();
    void sessionIdWriteKeepsCookie();
    void hostListIsDynamicThenStatic();

    void updateUnknownHostSendsNothing();
    void updateBadAddressSendsNothing_data();
    void updateBadAddressSendsNothing();
    void updateAnswers_data();
    void updateAnswers();
    void updateSendsTheExactRequests();
    void updateOfStaticHostUsesStatdns();
    void updateWithEmptyAddressUsesPublicAddress();
    void updateWithoutMailExchangerSendsNoUpdate();
    void updateTimeOutFails();
    void updateWithHugeAnswerFails();
    void updateRefreshesTheLists();

private:
    clsDyndns::Endpoints endpoints(int timeoutMs = 10000) const;
    std::unique_ptr<clsDyndns> loggedIn(const QString &user = QStringLiteral("alice"), int timeoutMs = 10000);

    std::unique_ptr<FakeProvider> m_fake;
};

void tst_clsDyndns::initTestCase()
{
    m_fake = std::make_unique<FakeProvider>();
    QVERIFY2(m_fake->isReady(), "the fake provider did not start");
}

void tst_clsDyndns::init()
{
    m_fake->reset();
}

clsDyndns::Endpoints tst_clsDyndns::endpoints(int timeoutMs) const
{
    clsDyndns::Endpoints e;
    e.accountSiteUrl = m_fake->accountSite();
    e.updateHostUrl = m_fake->plainSite();
    e.echoPageUrl = m_fake->plainSite() + QStringLiteral("/echo/html");
    e.http.caFile = m_fake->caFile();
    e.http.timeoutMs = timeoutMs;
    return e;
}

std::unique_ptr<clsDyndns> tst_clsDyndns::loggedIn(const QString &user, int timeoutMs)
{
    auto client = std::make_unique<clsDyndns>(endpoints(timeoutMs), std::make_shared<FakeConnectionState>(true));
    if (!client->Login(user, QStringLiteral("s3cret pw")))
        return nullptr;
    m_fake->clearRequests();
    return client;
}

void tst_clsDyndns::newInstanceIsLoggedOut()
{
    clsDyndns client(endpoints());
    QCOMPARE(client.SessionID(), QString());
    QCOMPARE(client.cookie(), QString());
    QCOMPARE(client.GetCurrentHTML(), QString());
    QCOMPARE(client.GetCurrentURL(), QString());
    QVERIFY(client.HostList().isEmpty());
}

void tst_clsDyndns::loginSendsTheExactRequests()
{
    clsDyndns client(endpoints());
    QVERIFY(client.Login(QStringLiteral("alice"), QStringLiteral("p&ss w")));
    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests[0].site, QStringLiteral("account"));
    QCOMPARE(requests[0].path,
        QStringLiteral("/account/login.html?__login=1&username=%61%6C%69%63%65"
                       "&password=%70%26%73%73%20%77&submit=Login"));
    QVERIFY(!requests[0].hasHeader(QStringLiteral("Cookie")));
    QVERIFY(!requests[0].hasHeader(QStringLiteral("Authorization")));
    QVERIFY(requests[0].header(QStringLiteral("User-Agent")).startsWith(QLatin1String("Vistelle/")));
    QCOMPARE(requests[1].path, QStringLiteral("/services/dyndns/"));
    QCOMPARE(requests[2].path, QStringLiteral("/services/statdns/"));
    for (int i = 1; i < 3; ++i) {
        QCOMPARE(requests[i].header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=sess-alice"));
        QVERIFY(!requests[i].hasHeader(QStringLiteral("Authorization")));
    }
    QCOMPARE(client.GetCurrentURL(), m_fake->accountSite() + QStringLiteral("services/statdns/"));
    QVERIFY(client.GetCurrentHTML().contains(QLatin1String("My Services - statdns")));
}

void tst_clsDyndns::loginReadsSessionAndLists()
{
    clsDyndns client(endpoints());
    QVERIFY(client.Login(QStringLiteral("alice"), QStringLiteral("pw")));
    // "ACS_ID=sess-alice; path=/; secure; HttpOnly": the identifier ends at the ";".
    QCOMPARE(client.SessionID(), QStringLiteral("sess-alice"));
    QCOMPARE(client.cookie(), QStringLiteral("ACS_ID=sess-alice"));
    QCOMPARE(client.username(), QStringLiteral("alice"));
    QVERIFY(client.hasPassword());

    QCOMPARE(client.dynHosts().keys(), kDynHosts);
    QCOMPARE(client.dynHosts().value(QStringLiteral("good.test")), QStringLiteral("10.0.0.1"));
    // The row in upper-case tags counts too.
    QCOMPARE(client.dynHosts().value(QStringLiteral("nochg.test")), QStringLiteral("10.0.0.2"));
    // A host name that begins with a digit is the first run of digits and dots after a ">".
    QCOMPARE(client.dynHosts().value(QStringLiteral("4you.test")), QStringLiteral("4"));
    QCOMPARE(client.statHosts().keys(), QStringList { QStringLiteral("static.test") });
    QCOMPARE(client.statHosts().value(QStringLiteral("static.test")), QStringLiteral("192.0.2.10"));
}

void tst_clsDyndns::loginTakesOnlyTheAcsIdCookie_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("session");
    QTest::newRow("with attributes") << QStringLiteral("bob") << QStringLiteral("sess-bob");
    QTest::newRow("among other cookies") << QStringLiteral("multicookie") << QStringLiteral("sess-multicookie");
    QTest::newRow("without attributes") << QStringLiteral("bare") << QStringLiteral("sess-bare");
}

void tst_clsDyndns::loginTakesOnlyTheAcsIdCookie()
{
    QFETCH(QString, user);
    QFETCH(QString, session);
    clsDyndns client(endpoints());
    QVERIFY(client.Login(user, QStringLiteral("pw")));
    QCOMPARE(client.SessionID(), session);
    QCOMPARE(client.cookie(), QStringLiteral("ACS_ID=") + session);
    QCOMPARE(m_fake->requests().at(1).header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=") + session);
}

void tst_clsDyndns::refusedLoginChangesNothing()
{
    auto client = loggedIn();
    QVERIFY(client);
    const OrderedDictionary before = client->HostList();
    QVERIFY(!client->Login(QStringLiteral("refused"), QStringLiteral("wrong")));
    QCOMPARE(client->SessionID(), QStringLiteral("sess-alice"));
    QCOMPARE(client->cookie(), QStringLiteral("ACS_ID=sess-alice"));
    QCOMPARE(client->username(), QStringLiteral("alice"));
    QVERIFY(client->hasPassword());
    QVERIFY(client->HostList() == before);
    QVERIFY(client->GetCurrentURL().contains(QLatin1String("username=%72%65%66%75%73%65%64")));
    QVERIFY(client->GetCurrentHTML().contains(QLatin1String("<p class=\"error\">")));
    // Only the login page was asked for.
    QCOMPARE(m_fake->requests().size(), 1);
}

void tst_clsDyndns::loginWithoutSessionCookieClearsSession()
{
    auto client = loggedIn();
    QVERIFY(client);
    QVERIFY(!client->Login(QStringLiteral("nocookie"), QStringLiteral("pw")));
    QCOMPARE(client->SessionID(), QString());
    QCOMPARE(client->cookie(), QString());
    QCOMPARE(client->username(), QString());
    QVERIFY(!client->hasPassword());
    QCOMPARE(m_fake->requests().size(), 1);
}

void tst_clsDyndns::loginWithBadHostPageFails_data()
{
    QTest::addColumn<QString>("user");
    QTest::newRow("duplicate host") << QStringLiteral("dup");
    QTest::newRow("row without address") << QStringLiteral("noaddr");
}

void tst_clsDyndns::loginWithBadHostPageFails()
{
    QFETCH(QString, user);
    clsDyndns client(endpoints());
    QVERIFY(!client.Login(user, QStringLiteral("pw")));
    QCOMPARE(client.SessionID(), QString());
    QCOMPARE(client.cookie(), QString());
    QCOMPARE(client.username(), QString());
    // The load stopped at the dynamic page: the static one was never asked for.
    QCOMPARE(m_fake->paths().last(), QStringLiteral("/services/dyndns/"));
    // Nothing can be updated afterwards.
    QString address = QStringLiteral("1.2.3.4");
    m_fake->clearRequests();
    QVERIFY(!client.UpdateHost(QStringLiteral("static.test"), address));
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_clsDyndns::loginTransportErrorClearsSession()
{
    auto client = loggedIn();
    QVERIFY(client);
    clsDyndns::Endpoints bad = endpoints();
    bad.http.caFile.clear(); // the account site's certificate is then unknown
    client->setEndpoints(bad);
    QVERIFY(!client->Login(QStringLiteral("alice"), QStringLiteral("pw")));
    QCOMPARE(client->SessionID(), QString());
    QCOMPARE(client->cookie(), QString());
    QVERIFY(client->LastExchange().error.has_value());
    QCOMPARE(*client->LastExchange().error, HttpErrorKind::Tls);
}

void tst_clsDyndns::sessionIdWriteKeepsCookie()
{
    auto client = loggedIn();
    QVERIFY(client);
    client->setSessionID(QStringLiteral("other"));
    QCOMPARE(client->SessionID(), QStringLiteral("other"));
    QCOMPARE(client->cookie(), QStringLiteral("ACS_ID=sess-alice"));
}

void tst_clsDyndns::hostListIsDynamicThenStatic()
{
    auto client = loggedIn();
    QVERIFY(client);
    QCOMPARE(client->HostList().keys(), kDynHosts + QStringList { QStringLiteral("static.test") });
    QCOMPARE(client->HostList().value(QStringLiteral("static.test")), QStringLiteral("192.0.2.10"));
    // HostList leaves the service lists as they were.
    QCOMPARE(client->dynHosts().count(), kDynHosts.size());
    QCOMPARE(client->statHosts().count(), 1);
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_clsDyndns::updateUnknownHostSendsNothing()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QVERIFY(!client->UpdateHost(QStringLiteral("unknown.test"), address));
    // Host names compare exactly.
    QVERIFY(!client->UpdateHost(QStringLiteral("GOOD.test"), address));
    QVERIFY(m_fake->requests().isEmpty());

    clsDyndns fresh(endpoints());
    QVERIFY(!fresh.UpdateHost(QStringLiteral("good.test"), address));
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_clsDyndns::updateBadAddressSendsNothing_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("letter") << QStringLiteral("1.2.3.a");
    QTest::newRow("space") << QStringLiteral("1.2.3.4 ");
    QTest::newRow("inner space") << QStringLiteral("1.2. 3.4");
    QTest::newRow("sign") << QStringLiteral("-1.2.3.4");
    QTest::newRow("query injection") << QStringLiteral("1.2.3.4&offline=YES");
}

void tst_clsDyndns::updateBadAddressSendsNothing()
{
    QFETCH(QString, address);
    auto client = loggedIn();
    QVERIFY(client);
    const QString given = address;
    QVERIFY(!client->UpdateHost(QStringLiteral("good.test"), address));
    QCOMPARE(address, given);
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_clsDyndns::updateAnswers_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("answer");
    QTest::newRow("good") << QStringLiteral("good.test") << true << QStringLiteral("good 1.2.3.4");
    QTest::newRow("nochg") << QStringLiteral("nochg.test") << true << QStringLiteral("nochg");
    QTest::newRow("nochg and more") << QStringLiteral("Upper.Test") << true << QStringLiteral("nochg 1.2.3.4");
    QTest::newRow("Good capitalised") << QStringLiteral("capgood.test") << false << QStringLiteral("Good 1.2.3.4");
    QTest::newRow("badauth") << QStringLiteral("badauth.test") << false << QStringLiteral("badauth");
    QTest::newRow("empty body") << QStringLiteral("empty.test") << false << QString();
}

void tst_clsDyndns::updateAnswers()
{
    QFETCH(QString, host);
    QFETCH(bool, accepted);
    QFETCH(QString, answer);
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QCOMPARE(client->UpdateHost(host, address), accepted);
    QVERIFY(client->LastUpdate().sent);
    QCOMPARE(client->LastUpdate().body, answer);
    QCOMPARE(client->LastUpdate().exchange.httpStatus, 200);
    QVERIFY(!client->LastUpdate().exchange.error.has_value());
    // The lists are read again whatever the answer.
    const QStringList paths = m_fake->paths();
    QCOMPARE(paths.size(), 4);
    QCOMPARE(paths[2], QStringLiteral("/services/dyndns/"));
    QCOMPARE(paths[3], QStringLiteral("/services/statdns/"));
}

void tst_clsDyndns::updateSendsTheExactRequests()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QVERIFY(client->UpdateHost(QStringLiteral("good.test"), address));
    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 4);

    QCOMPARE(requests[0].site, QStringLiteral("account"));
    QCOMPARE(requests[0].path, QStringLiteral("/services/dyndns/good.test"));
    QCOMPARE(requests[0].header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=sess-alice"));
    QVERIFY(!requests[0].hasHeader(QStringLiteral("Authorization")));

    QCOMPARE(requests[1].site, QStringLiteral("plain"));
    QCOMPARE(requests[1].path,
        QStringLiteral("/nic/update?system=dyndns&hostname=%67%6F%6F%64%2E%74%65%73%74&myip=%31%2E%32%2E%33%2E%34"
                       "&wildcard=OFF&mx=%6D%61%69%6C%2E%65%78%61%6D%70%6C%65%2E%63%6F%6D&backmx=NO&offline=NO"));
    QCOMPARE(requests[1].header(QStringLiteral("Authorization")),
        QStringLiteral("Basic ") + modXMLHTTP::Base64Encode(QStringLiteral("alice:s3cret pw")));
    QCOMPARE(requests[1].header(QStringLiteral("Authorization")), QStringLiteral("Basic YWxpY2U6czNjcmV0IHB3"));
    QVERIFY(!requests[1].hasHeader(QStringLiteral("Cookie")));
    QVERIFY(requests[1].header(QStringLiteral("User-Agent")).startsWith(QLatin1String("Vistelle/")));

    QCOMPARE(requests[2].header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=sess-alice"));
    QCOMPARE(requests[3].header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=sess-alice"));
    QCOMPARE(address, QStringLiteral("1.2.3.4"));
}

void tst_clsDyndns::updateOfStaticHostUsesStatdns()
{
    auto client = loggedIn();
    QVERIFY(client);
    (void)client->HostList();
    (void)client->HostList();
    QString address = QStringLiteral("198.51.100.4");
    QVERIFY(client->UpdateHost(QStringLiteral("static.test"), address));
    const QStringList paths = m_fake->paths();
    QCOMPARE(paths[0], QStringLiteral("/services/statdns/static.test"));
    // An empty mail-exchanger value is sent empty.
    QVERIFY2(paths[1].startsWith(QLatin1String("/nic/update?system=statdns&hostname=")), qPrintable(paths[1]));
    QVERIFY2(paths[1].endsWith(QLatin1String("&wildcard=OFF&mx=&backmx=NO&offline=NO")), qPrintable(paths[1]));
}

void tst_clsDyndns::updateWithEmptyAddressUsesPublicAddress()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address;
    QVERIFY(client->UpdateHost(QStringLiteral("good.test"), address));
    QCOMPARE(address, QStringLiteral("203.0.113.7"));
    const QStringList paths = m_fake->paths();
    QCOMPARE(paths[0], QStringLiteral("/echo/html"));
    QVERIFY(paths[2].contains(
        QLatin1String("&myip=") + modXMLHTTP::URLEncode(QStringLiteral("203.0.113.7")) + QLatin1String("&wildcard=")));
}

void tst_clsDyndns::updateWithoutMailExchangerSendsNoUpdate()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QVERIFY(!client->UpdateHost(QStringLiteral("nomx.test"), address));
    QCOMPARE(m_fake->paths(), QStringList { QStringLiteral("/services/dyndns/nomx.test") });
    QVERIFY(!client->LastUpdate().sent);
}

void tst_clsDyndns::updateTimeOutFails()
{
    // The update host answers after 3 s; the limit is shortened to 1 s for the test.
    auto client = loggedIn(QStringLiteral("alice"), 1000);
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QElapsedTimer elapsed;
    elapsed.start();
    QVERIFY(!client->UpdateHost(QStringLiteral("slow.test"), address));
    QVERIFY(elapsed.elapsed() < 2900);
    QVERIFY(client->LastUpdate().sent);
    QVERIFY(client->LastUpdate().exchange.error.has_value());
    QCOMPARE(*client->LastUpdate().exchange.error, HttpErrorKind::Timeout);
    QCOMPARE(client->LastUpdate().exchange.httpStatus, 0);
}

void tst_clsDyndns::updateWithHugeAnswerFails()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("1.2.3.4");
    QVERIFY(!client->UpdateHost(QStringLiteral("huge.test"), address));
    QVERIFY(client->LastUpdate().exchange.error.has_value());
    QCOMPARE(*client->LastUpdate().exchange.error, HttpErrorKind::TooLarge);
    QCOMPARE(client->LastUpdate().body, QString());
}

void tst_clsDyndns::updateRefreshesTheLists()
{
    auto client = loggedIn();
    QVERIFY(client);
    QString address = QStringLiteral("198.51.100.77");
    QVERIFY(client->UpdateHost(QStringLiteral("good.test"), address));
    QCOMPARE(client->HostList().value(QStringLiteral("good.test")), QStringLiteral("198.51.100.77"));
    QVERIFY(client->GetCurrentURL().endsWith(QLatin1String("services/statdns/")));
    // The provider's answer stays readable after the refresh.
    QCOMPARE(client->LastUpdate().body, QStringLiteral("good 198.51.100.77"));
}

QTEST_GUILESS_MAIN(tst_clsDyndns)
#include "tst_clsDyndns.moc"
