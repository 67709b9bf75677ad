#include "tests/common/TestUtil.h"
#include "tests/mock/FakeConnectionState.h"
#include "tests/publish/FakeProvider.h"

#include "core/ConnectionState.h"
#include "publish/HttpRequest.h"
#include "publish/modXMLHTTP.h"

#include <QTcpServer>
#include <QtTest>

namespace {

// A loopback port on which nothing listens.
int closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class tst_modXMLHTTP : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void URLEncode_data();
    void URLEncode();
    void AscOrZero_data();
    void AscOrZero();
    void Base64Encode_data();
    void Base64Encode();
    void Base64EncodeMatchesStandardForEveryLength();
    void firstAddressRun_data();
    void firstAddressRun();

    void getPublicIP_data();
    void getPublicIP();
    void getPublicIPOfflineSendsNothing();
    void getPublicIPUnreachableGivesEmpty();
    void getPublicIPReportsConnectionName();

    void sendsUserAgentAndHeaders();
    void openForgetsPreviousHeaders();
    void httpErrorStatusIsNoFailure();
    void redirectIsNotFollowed();
    void timeLimitCoversTheWholeExchange();
    void oversizedBodyFails();
    void bodyAtTheCapPasses();
    void tlsWithTestAuthority();
    void tlsVerificationIsOn_data();
    void tlsVerificationIsOn();
    void refusesOtherSchemes_data();
    void refusesOtherSchemes();
    void refusesControlCharactersInHeaders();
    void joinsRepeatedSetCookie();

private:
    std::unique_ptr<FakeProvider> m_fake;
};

void tst_modXMLHTTP::initTestCase()
{
    m_fake = std::make_unique<FakeProvider>();
    QVERIFY2(m_fake->isReady(), "the fake provider did not start");
}

void tst_modXMLHTTP::URLEncode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("letters") << QStringLiteral("ab") << QStringLiteral("%61%62");
    QTest::newRow("space") << QStringLiteral(" ") << QStringLiteral("%20");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("digits and signs") << QStringLiteral("9&=/") << QStringLiteral("%39%26%3D%2F");
    QTest::newRow("upper-case hex") << QStringLiteral("\xff\n") << QStringLiteral("%FF%0A");
    // Only the low byte of a character above 255 is sent: U+20AC gives 0xAC.
    QTest::newRow("above 255") << QString(QChar(0x20AC)) << QStringLiteral("%AC");
}

void tst_modXMLHTTP::URLEncode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(modXMLHTTP::URLEncode(text), encoded);
}

void tst_modXMLHTTP::AscOrZero_data()
{
    QTest::addColumn<QString>("character");
    QTest::addColumn<int>("code");
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("A") << QStringLiteral("A") << 65;
    QTest::newRow("first of several") << QStringLiteral("bc") << 98;
    QTest::newRow("latin-1") << QString(QChar(0xE9)) << 0xE9;
    QTest::newRow("outside the set") << QString(QChar(0x20AC)) << int('?');
}

void tst_modXMLHTTP::AscOrZero()
{
    QFETCH(QString, character);
    QFETCH(int, code);
    QCOMPARE(modXMLHTTP::AscOrZero(character), code);
}

void tst_modXMLHTTP::Base64Encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");
    // RFC 4648 test vectors.
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("f") << QStringLiteral("f") << QStringLiteral("Zg==");
    QTest::newRow("fo") << QStringLiteral("fo") << QStringLiteral("Zm8=");
    QTest::newRow("foo") << QStringLiteral("foo") << QStringLiteral("Zm9v");
    QTest::newRow("foob") << QStringLiteral("foob") << QStringLiteral("Zm9vYg==");
    QTest::newRow("fooba") << QStringLiteral("fooba") << QStringLiteral("Zm9vYmE=");
    QTest::newRow("foobar") << QStringLiteral("foobar") << QStringLiteral("Zm9vYmFy");
    QTest::newRow("credentials") << QStringLiteral("user:pass word") << QStringLiteral("dXNlcjpwYXNzIHdvcmQ=");
    QTest::newRow("high bytes") << QStringLiteral("\xff\xfe\xfd") << QStringLiteral("//79");
}

void tst_modXMLHTTP::Base64Encode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(modXMLHTTP::Base64Encode(text), encoded);
}

void tst_modXMLHTTP::Base64EncodeMatchesStandardForEveryLength()
{
    QString text;
    for (int length = 0; length < 70; ++length) {
        QCOMPARE(modXMLHTTP::Base64Encode(text), QString::fromLatin1(text.toLatin1().toBase64()));
        text += QChar(char16_t((length * 37 + 11) % 256));
    }
}

void tst_modXMLHTTP::firstAddressRun_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("run");
    QTest::newRow("bare") << QStringLiteral("203.0.113.7") << QStringLiteral("203.0.113.7");
    QTest::newRow("in markup") << QStringLiteral("<body>Current IP Address: 1.2.3.4</body>")
                               << QStringLiteral("1.2.3.4");
    QTest::newRow("earlier digit wins") << QStringLiteral("<h1>IP</h1> 1.2.3.4") << QStringLiteral("1");
    QTest::newRow("earlier dot wins") << QStringLiteral("Hi. 1.2.3.4") << QStringLiteral(".");
    QTest::newRow("none") << QStringLiteral("no address") << QString();
}

void tst_modXMLHTTP::firstAddressRun()
{
    QFETCH(QString, text);
    QFETCH(QString, run);
    QCOMPARE(modXMLHTTP::firstAddressRun(text), run);
}

void tst_modXMLHTTP::getPublicIP_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain answer") << QStringLiteral("/echo/plain") << QStringLiteral("203.0.113.7");
    QTest::newRow("html answer") << QStringLiteral("/echo/html") << QStringLiteral("203.0.113.7");
    QTest::newRow("digit in markup first") << QStringLiteral("/echo/early") << QStringLiteral("1");
    QTest::newRow("no digits") << QStringLiteral("/echo/none") << QString();
    QTest::newRow("error page") << QStringLiteral("/missing") << QString();
}

void tst_modXMLHTTP::getPublicIP()
{
    QFETCH(QString, path);
    QFETCH(QString, address);
    m_fake->clearRequests();
    QCOMPARE(modXMLHTTP::GetPublicIP(m_fake->plainSite() + path, FakeConnectionState(true)), address);
    QCOMPARE(m_fake->paths(), QStringList { path });
}

void tst_modXMLHTTP::getPublicIPOfflineSendsNothing()
{
    m_fake->clearRequests();
    QCOMPARE(modXMLHTTP::GetPublicIP(m_fake->plainSite() + QStringLiteral("/echo/plain"), FakeConnectionState(false)),
        QString());
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_modXMLHTTP::getPublicIPUnreachableGivesEmpty()
{
    const QString url = QStringLiteral("http://127.0.0.1:%1/echo").arg(closedPort());
    QCOMPARE(modXMLHTTP::GetPublicIP(url, FakeConnectionState(true)), QString());
}

void tst_modXMLHTTP::getPublicIPReportsConnectionName()
{
    QString name;
    modXMLHTTP::GetPublicIP(m_fake->plainSite() + QStringLiteral("/echo/plain"), FakeConnectionState(false), {}, &name);
    QCOMPARE(name, QStringLiteral("eth-test"));
}

void tst_modXMLHTTP::sendsUserAgentAndHeaders()
{
    m_fake->clearRequests();
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?body=hello"));
    request.setRequestHeader(QStringLiteral("Cookie"), QStringLiteral("ACS_ID=abc"));
    request.setRequestHeader(QStringLiteral("X-Empty"), QString());
    QCOMPARE(modXMLHTTP::SendAndWait(request), QStringLiteral("hello"));
    QCOMPARE(request.status(), 200);
    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].header(QStringLiteral("User-Agent")), HttpRequest::defaultUserAgent());
    QVERIFY(HttpRequest::defaultUserAgent().startsWith(QLatin1String("Vistelle/")));
    QCOMPARE(requests[0].header(QStringLiteral("Cookie")), QStringLiteral("ACS_ID=abc"));
    QVERIFY(requests[0].hasHeader(QStringLiteral("X-Empty")));
}

void tst_modXMLHTTP::openForgetsPreviousHeaders()
{
    m_fake->clearRequests();
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?body=1"));
    request.setRequestHeader(QStringLiteral("Cookie"), QStringLiteral("ACS_ID=abc"));
    modXMLHTTP::SendAndWait(request);
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?body=2"));
    request.setRequestHeader(QStringLiteral("Authorization"), QStringLiteral("Basic eDp5"));
    QCOMPARE(modXMLHTTP::SendAndWait(request), QStringLiteral("2"));
    const auto requests = m_fake->requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(!requests[1].hasHeader(QStringLiteral("Cookie")));
    QCOMPARE(requests[1].header(QStringLiteral("Authorization")), QStringLiteral("Basic eDp5"));
}

void tst_modXMLHTTP::httpErrorStatusIsNoFailure()
{
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?status=500&body=oops"));
    QCOMPARE(modXMLHTTP::SendAndWait(request), QStringLiteral("oops"));
    QCOMPARE(request.status(), 500);
}

void tst_modXMLHTTP::redirectIsNotFollowed()
{
    m_fake->clearRequests();
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/redirect"));
    QCOMPARE(modXMLHTTP::SendAndWait(request), QStringLiteral("moved"));
    QCOMPARE(request.status(), 302);
    QCOMPARE(m_fake->paths(), QStringList { QStringLiteral("/redirect") });
}

void tst_modXMLHTTP::timeLimitCoversTheWholeExchange()
{
    HttpOptions options;
    options.timeoutMs = 500;
    HttpRequest request(options);
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?delay=3&body=late"));
    QElapsedTimer elapsed;
    elapsed.start();
    try {
        modXMLHTTP::SendAndWait(request);
        QFAIL("a late answer must fail");
    } catch (const HttpError &error) {
        QCOMPARE(error.kind(), HttpErrorKind::Timeout);
    }
    QVERIFY(elapsed.elapsed() < 2500);
}

void tst_modXMLHTTP::oversizedBodyFails()
{
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/big?bytes=%1").arg((1 << 20) + 1));
    try {
        modXMLHTTP::SendAndWait(request);
        QFAIL("an answer above 1 MiB must fail");
    } catch (const HttpError &error) {
        QCOMPARE(error.kind(), HttpErrorKind::TooLarge);
    }
    QVERIFY(request.responseBody().isEmpty());
}

void tst_modXMLHTTP::bodyAtTheCapPasses()
{
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/big?bytes=%1").arg(1 << 20));
    QCOMPARE(modXMLHTTP::SendAndWait(request).size(), qsizetype(1) << 20);
}

void tst_modXMLHTTP::tlsWithTestAuthority()
{
    HttpOptions options;
    options.caFile = m_fake->caFile();
    HttpRequest request(options);
    modXMLHTTP::OpenGet(request, m_fake->accountSite() + QStringLiteral("account/login.html?username=x"));
    QCOMPARE(modXMLHTTP::SendAndWait(request), QStringLiteral("<html><body>Welcome</body></html>"));
    QCOMPARE(request.status(), 200);
}

void tst_modXMLHTTP::tlsVerificationIsOn_data()
{
    QTest::addColumn<QString>("caFile");
    QTest::newRow("system authorities only") << QString();
    QTest::newRow("unrelated authority") << m_fake->otherCaFile();
    QTest::newRow("missing authority file") << QStringLiteral("/nonexistent/ca.pem");
}

void tst_modXMLHTTP::tlsVerificationIsOn()
{
    QFETCH(QString, caFile);
    m_fake->clearRequests();
    HttpOptions options;
    options.caFile = caFile;
    HttpRequest request(options);
    modXMLHTTP::OpenGet(request, m_fake->accountSite() + QStringLiteral("account/login.html?username=x"));
    try {
        modXMLHTTP::SendAndWait(request);
        QFAIL("a certificate of an unknown authority must be refused");
    } catch (const HttpError &error) {
        QCOMPARE(error.kind(), HttpErrorKind::Tls);
    }
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_modXMLHTTP::refusesOtherSchemes_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("file") << QStringLiteral("file:///etc/passwd");
    QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1/x");
    QTest::newRow("empty") << QString();
    QTest::newRow("line break") << QStringLiteral("http://127.0.0.1/\r\nX: y");
}

void tst_modXMLHTTP::refusesOtherSchemes()
{
    QFETCH(QString, url);
    HttpRequest request;
    modXMLHTTP::OpenGet(request, url);
    QVERIFY_THROWS_EXCEPTION(HttpError, modXMLHTTP::SendAndWait(request));
    QVERIFY(request.responseBody().isEmpty());
}

void tst_modXMLHTTP::refusesControlCharactersInHeaders()
{
    m_fake->clearRequests();
    HttpRequest request;
    modXMLHTTP::OpenGet(request, m_fake->plainSite() + QStringLiteral("/text?body=x"));
    request.setRequestHeader(QStringLiteral("Cookie"), QStringLiteral("a\r\nX-Injected: 1"));
    try {
        modXMLHTTP::SendAndWait(request);
        QFAIL("a header with a line break must be refused");
    } catch (const HttpError &error) {
        QCOMPARE(error.kind(), HttpErrorKind::InvalidRequest);
    }
    QVERIFY(m_fake->requests().isEmpty());
}

void tst_modXMLHTTP::joinsRepeatedSetCookie()
{
    HttpOptions options;
    options.caFile = m_fake->caFile();
    HttpRequest request(options);
    modXMLHTTP::OpenGet(request, m_fake->accountSite() + QStringLiteral("account/login.html?username=multicookie"));
    modXMLHTTP::SendAndWait(request);
    QCOMPARE(request.getResponseHeader(QStringLiteral("set-cookie")),
        QStringLiteral("lang=en; path=/; ACS_ID=sess-multicookie; theme=dark; path=/"));
    QCOMPARE(request.getResponseHeader(QStringLiteral("Content-Length")), QStringLiteral("33"));
    QCOMPARE(request.getResponseHeader(QStringLiteral("X-Absent")), QString());
}

QTEST_GUILESS_MAIN(tst_modXMLHTTP)
#include "tst_modXMLHTTP.moc"
