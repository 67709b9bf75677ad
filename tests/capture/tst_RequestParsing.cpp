#include "capture/RequestParsing.h"

#include <QTest>

using RequestParsing::GetHeaderFromRequest;

class tst_RequestParsing : public QObject
{
    Q_OBJECT
private slots:
    void header_data();
    void header();
    void longRequest();
    void sepurl_data();
    void sepurl();
};

void tst_RequestParsing::header_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    const QString get = QStringLiteral("GET /t.gif HTTP/1.1\r\n");
    QTest::newRow("referer") << get + "Host: a.example\r\nReferer: http://site.example/page.html\r\n\r\n"
                             << "referer"
                             << "http://site.example/page.html";
    QTest::newRow("name in any case") << get + "REFERER: http://x/\r\n\r\n"
                                      << "referer"
                                      << "http://x/";
    QTest::newRow("asked in other case") << get + "referer: http://x/\r\n\r\n"
                                         << "Referer"
                                         << "http://x/";
    QTest::newRow("only in the request line") << "GET /referer: x HTTP/1.1\r\nHost: h\r\n\r\n"
                                              << "referer"
                                              << "";
    QTest::newRow("request line starts with name") << "referer: x\r\nHost: h\r\n\r\n"
                                                   << "referer"
                                                   << "";
    QTest::newRow("empty value") << get + "Referer: \r\nHost: h\r\n\r\n"
                                 << "referer"
                                 << "";
    QTest::newRow("last line without line end") << get + "Host: h\r\nReferer: http://end/"
                                                << "referer"
                                                << "http://end/";
    QTest::newRow("extra blanks kept") << get + "Referer:   spaced  \r\n\r\n"
                                       << "referer"
                                       << "  spaced  ";
    QTest::newRow("no blank after colon") << get + "Referer:http://x/\r\n\r\n"
                                          << "referer"
                                          << "";
    QTest::newRow("no blank, later proper line") << get + "Referer:x\r\nReferer: y\r\n\r\n"
                                                 << "referer"
                                                 << "y";
    QTest::newRow("longer name ending in host") << get + "X-Forwarded-Host: proxy\r\nHost: real\r\n\r\n"
                                                << "host"
                                                << "real";
    QTest::newRow("longer name only") << get + "X-Forwarded-Host: proxy\r\n\r\n"
                                      << "host"
                                      << "";
    QTest::newRow("name that starts longer") << get + "Hostname: n\r\nHost: h\r\n\r\n"
                                             << "host"
                                             << "h";
    QTest::newRow("first of two") << get + "Referer: one\r\nReferer: two\r\n\r\n"
                                  << "referer"
                                  << "one";
    QTest::newRow("bare line feed is not a line end") << get + "Referer: a\nb\r\n\r\n"
                                                      << "referer"
                                                      << "a\nb";
    QTest::newRow("absent") << get + "Host: h\r\n\r\n"
                            << "referer"
                            << "";
    QTest::newRow("empty request") << ""
                                   << "referer"
                                   << "";
    QTest::newRow("user agent, letters folding to its own") << get + "User-Agent: a\r\nUſer-Agent: b\r\n\r\n"
                                                            << "user-agent"
                                                            << "a";
    QTest::newRow("folded letter first") << get + "Uſer-Agent: b\r\nUser-Agent: a\r\n\r\n"
                                         << "user-agent"
                                         << "b";
}

void tst_RequestParsing::header()
{
    QFETCH(QString, request);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(GetHeaderFromRequest(request, name), expected);
    // The one-pass reading of a visit's headers finds the same.
    const RequestParsing::VisitHeaders headers = RequestParsing::visitHeaders(request);
    const QString lower = name.toLower();
    if (lower == u"referer")
        QCOMPARE(headers.referer, expected);
    else if (lower == u"host")
        QCOMPARE(headers.host, expected);
    else if (lower == u"user-agent")
        QCOMPARE(headers.userAgent, expected);
}

void tst_RequestParsing::longRequest()
{
    // Beyond 32767 characters the result is the same as for a short request.
    const QString filler = QStringLiteral("X-Pad: ") + QString(40000, u'a') + QStringLiteral("\r\n");
    const QString request
        = QStringLiteral("GET / HTTP/1.1\r\n") + filler + QStringLiteral("Referer: http://far/\r\n\r\n");
    QCOMPARE(GetHeaderFromRequest(request, QStringLiteral("referer")), QStringLiteral("http://far/"));
    QCOMPARE(GetHeaderFromRequest(request, QStringLiteral("x-pad")), QString(40000, u'a'));
}

void tst_RequestParsing::sepurl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("expected");
    QTest::newRow("path") << "http://www.site.example/dir/page.html"
                          << "http://www.site.example/  dir/page.html";
    QTest::newRow("ends with host slash") << "http://www.site.example/"
                                          << "http://www.site.example/  ";
    QTest::newRow("host only") << "http://www.site.example"
                               << "http://www.site.example";
    QTest::newRow("Unknown") << "Unknown"
                             << "Unknown";
    QTest::newRow("Local Page") << "Local Page"
                                << "Local Page";
    QTest::newRow("no scheme") << "site.example/page"
                               << "site.example/  page";
    QTest::newRow("slash first, no scheme") << "/a/b"
                                            << "/a/  b";
    QTest::newRow("query after host") << "https://h.example/?q=1"
                                      << "https://h.example/  ?q=1";
    QTest::newRow("only scheme") << "http://"
                                 << "http://";
    QTest::newRow("empty") << ""
                           << "";
}

void tst_RequestParsing::sepurl()
{
    QFETCH(QString, url);
    RequestParsing::sepurl(url);
    QTEST(url, "expected");
}

QTEST_GUILESS_MAIN(tst_RequestParsing)
#include "tst_RequestParsing.moc"
