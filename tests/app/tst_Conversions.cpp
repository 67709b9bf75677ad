#include "core/Conversions.h"

#include <QTest>

class tst_Conversions : public QObject
{
    Q_OBJECT
private slots:
    void leadingNumber_data();
    void leadingNumber();
    void truthValue_data();
    void truthValue();
    void toInt16_data();
    void toInt16();
    void trimmedEquals();
};

void tst_Conversions::leadingNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::newRow("plain") << "80" << 80.0;
    QTest::newRow("leading blanks and trailing letter") << " 8080x" << 8080.0;
    QTest::newRow("blanks between digits") << "8 0 8 0" << 8080.0;
    QTest::newRow("tab and newline skipped") << "\t1\n2" << 12.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("no digits") << "abc" << 0.0;
    QTest::newRow("sign only") << "-" << 0.0;
    QTest::newRow("point only") << "." << 0.0;
    QTest::newRow("negative") << "-12" << -12.0;
    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("blank after sign") << "- 3" << -3.0;
    QTest::newRow("decimal") << "2.5kg" << 2.5;
    QTest::newRow("second point stops") << "1.5.3" << 1.5;
    QTest::newRow("leading point") << ".5" << 0.5;
    QTest::newRow("exponent") << "1e3" << 1000.0;
    QTest::newRow("exponent with sign") << "25E-1" << 2.5;
    QTest::newRow("exponent without digits") << "7e" << 7.0;
    QTest::newRow("exponent sign without digits") << "7e+" << 7.0;
    QTest::newRow("blanks in exponent") << "1 e 2" << 100.0;
    QTest::newRow("hex") << "&HFF" << 255.0;
    QTest::newRow("hex lower case") << "&hff" << 255.0;
    QTest::newRow("hex stops at non digit") << "&H1G" << 1.0;
    QTest::newRow("hex without digits") << "&H" << 0.0;
    QTest::newRow("octal") << "&O17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O78" << 7.0;
    QTest::newRow("ampersand alone") << "&X12" << 0.0;
    QTest::newRow("blank before hex") << "  &H10" << 16.0;
    QTest::newRow("letter first") << "x80" << 0.0;
    QTest::newRow("non-ascii digit stops") << QString::fromUtf8("4\xd9\xa3") << 4.0;
    QTest::newRow("huge") << "1e999" << std::numeric_limits<double>::max();
}

void tst_Conversions::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QCOMPARE(Conversions::leadingNumber(text), expected);
}

void tst_Conversions::truthValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("expected");
    QTest::newRow("0") << "0" << true << false;
    QTest::newRow("1") << "1" << true << true;
    QTest::newRow("-1") << "-1" << true << true;
    QTest::newRow("0.0") << "0.0" << true << false;
    QTest::newRow("0.5") << "0.5" << true << true;
    QTest::newRow("blank around") << " 1 " << true << true;
    QTest::newRow("hex zero") << "&H0" << true << false;
    QTest::newRow("True") << "True" << true << true;
    QTest::newRow("false any case") << "fAlSe" << true << false;
    QTest::newRow("TRUE with blanks") << " TRUE " << true << true;
    QTest::newRow("empty") << "" << false << false;
    QTest::newRow("word") << "yes" << false << false;
    QTest::newRow("number then letters") << "1x" << false << false;
}

void tst_Conversions::truthValue()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, expected);
    const std::optional<bool> value = Conversions::truthValue(text);
    QCOMPARE(value.has_value(), valid);
    if (valid)
        QCOMPARE(*value, expected);
}

void tst_Conversions::toInt16_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << "8080" << true << 8080;
    QTest::newRow("blanks around") << " 80 " << true << 80;
    QTest::newRow("half down to even") << "2.5" << true << 2;
    QTest::newRow("half up to even") << "3.5" << true << 4;
    QTest::newRow("negative half") << "-2.5" << true << -2;
    QTest::newRow("nearest") << "2.6" << true << 3;
    QTest::newRow("max") << "32767" << true << 32767;
    QTest::newRow("min") << "-32768" << true << -32768;
    QTest::newRow("rounds into range") << "32767.4" << true << 32767;
    QTest::newRow("rounds out of range") << "32767.5" << false << 0;
    QTest::newRow("too large") << "40000" << false << 0;
    QTest::newRow("too small") << "-32769" << false << 0;
    QTest::newRow("hex") << "&H7FFF" << true << 32767;
    QTest::newRow("not a number") << "abc" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("trailing letter") << "80x" << false << 0;
}

void tst_Conversions::toInt16()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, expected);
    const std::optional<qint16> value = Conversions::toInt16(text);
    QCOMPARE(value.has_value(), valid);
    if (valid)
        QCOMPARE(int(*value), expected);

    // The port reading combines both rules: the leading number, then the integer rule.
    QCOMPARE(Conversions::toInt16(Conversions::leadingNumber(QStringLiteral(" 8080a"))).value(), qint16(8080));
    QCOMPARE(Conversions::toInt16(Conversions::leadingNumber(QStringLiteral("abc"))).value(), qint16(0));
    QVERIFY(!Conversions::toInt16(Conversions::leadingNumber(QStringLiteral("40000"))).has_value());
}

void tst_Conversions::trimmedEquals()
{
    QVERIFY(Conversions::trimmedEquals(QStringLiteral(" 0 "), QStringLiteral("0")));
    QVERIFY(Conversions::trimmedEquals(QString(), QStringLiteral("  ")));
    QVERIFY(!Conversions::trimmedEquals(QString(), QStringLiteral("0")));
    QVERIFY(!Conversions::trimmedEquals(QStringLiteral("a b"), QStringLiteral("ab")));
    QVERIFY(!Conversions::trimmedEquals(QStringLiteral("A"), QStringLiteral("a")));
}

QTEST_GUILESS_MAIN(tst_Conversions)
#include "tst_Conversions.moc"
