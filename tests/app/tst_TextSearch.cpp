// The quick case-insensitive search gives what QString's own gives, for ASCII and other text.
#include "core/TextSearch.h"

#include <QTest>

class tst_TextSearch final : public QObject
{
    Q_OBJECT
private slots:
    void sameAsQString_data();
    void sameAsQString();
};

void tst_TextSearch::sameAsQString_data()
{
    QTest::addColumn<QString>("haystack");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<int>("from");
    const QString request = QStringLiteral("GET /t.gif HTTP/1.1\r\nHost: me\r\nREFERER: http://a.example/\r\n\r\n");
    QTest::newRow("header, other case") << request << QStringLiteral("\r\nreferer: ") << 0;
    QTest::newRow("header missing") << request << QStringLiteral("\r\nuser-agent: ") << 0;
    QTest::newRow("letters only") << request << QStringLiteral("example") << 0;
    QTest::newRow("anchor inside") << QStringLiteral("x SendIP.ASP?ip=1") << QStringLiteral("sendip.asp") << 0;
    QTest::newRow("anchor found, word not") << QStringLiteral("a.asp sendipXasp") << QStringLiteral("sendip.asp") << 0;
    QTest::newRow("at the very end") << QStringLiteral("abc:") << QStringLiteral("C:") << 0;
    QTest::newRow("longer than haystack") << QStringLiteral("ab") << QStringLiteral("abc") << 0;
    QTest::newRow("from past the match") << QStringLiteral("Visit visit") << QStringLiteral("VISIT") << 1;
    QTest::newRow("empty needle") << QStringLiteral("abc") << QString() << 1;
    // Outside ASCII Qt's folding applies: the long s and the Kelvin sign.
    QTest::newRow("not ASCII") << QStringLiteral("x \u017Fendip.asp") << QStringLiteral("SENDIP.ASP") << 0;
    QTest::newRow("Kelvin") << QStringLiteral("\u212Aey: v") << QStringLiteral("key:") << 0;
    QTest::newRow("dots before, across steps")
        << QStringLiteral("Host: 10.0.0.1\r\nX: a.b.c.d.e.f.g /SENDIP.asp?x") << QStringLiteral("sendip.asp") << 0;
}

void tst_TextSearch::sameAsQString()
{
    QFETCH(QString, haystack);
    QFETCH(QString, needle);
    QFETCH(int, from);
    QCOMPARE(
        TextSearch::indexOfIgnoringCase(haystack, needle, from), haystack.indexOf(needle, from, Qt::CaseInsensitive));
}

QTEST_GUILESS_MAIN(tst_TextSearch)
#include "tst_TextSearch.moc"
