#include "core/PlainText.h"

#include <QTest>

class tst_PlainText : public QObject
{
    Q_OBJECT
private slots:
    void sanitized_data();
    void sanitized();
    void cut_data();
    void cut();
    void printableRunsAndUtf8();
};

void tst_PlainText::sanitized_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    const QString p(QChar(PlainText::Placeholder));
    QTest::newRow("ordinary text stays") << u"http://b\u00fccher.example/\u0710\u0712 \U0001F600 <b>"_qs
                                         << u"http://b\u00fccher.example/\u0710\u0712 \U0001F600 <b>"_qs;
    QTest::newRow("title change and bell") << u"a\x1b]0;owned\x07z"_qs << (u"a"_qs + p + u"]0;owned"_qs + p + u"z"_qs);
    QTest::newRow("NUL and DEL") << QStringLiteral("a%1b\x7f").arg(QChar(0)) << (u"a"_qs + p + u"b"_qs + p);
    QTest::newRow("C1: CSI and NEL") << u"a\u009b2J\u0085b"_qs << (u"a"_qs + p + u"2J b"_qs);
    QTest::newRow("line breaks and tab are blanks") << u"a\r\nb\rc\nd\u2028e\u2029f\tg"_qs << u"a b c d e f g"_qs;
    QTest::newRow("LF CR is two breaks") << u"a\n\rb"_qs << u"a  b"_qs;
    QTest::newRow("bidi overrides and isolates") << u"\u202ax\u202b\u202c\u202d\u202ey\u2066\u2067\u2068\u2069"_qs
                                                 << (p + u"x"_qs + p + p + p + p + u"y"_qs + p + p + p + p);
    QTest::newRow("marks stay") << u"a\u200eb\u200fc"_qs << u"a\u200eb\u200fc"_qs;
}

void tst_PlainText::sanitized()
{
    QFETCH(QString, text);
    QTEST(PlainText::sanitized(text), "shown");
}

void tst_PlainText::cut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("max");
    QTest::addColumn<QString>("kept");
    QTest::newRow("short") << u"abc"_qs << 5 << u"abc"_qs;
    QTest::newRow("long") << u"abcdef"_qs << 4 << u"abcd"_qs;
    QTest::newRow("never half a pair") << u"ab\U0001F600c"_qs << 3 << u"ab"_qs;
    QTest::newRow("a whole pair") << u"ab\U0001F600c"_qs << 4 << u"ab\U0001F600"_qs;
}

void tst_PlainText::cut()
{
    QFETCH(QString, text);
    QFETCH(int, max);
    QTEST(PlainText::cut(text, max), "kept");
    const QString page = QString(PlainText::MaxPageChars + 10, u'x');
    QCOMPARE(PlainText::page(page).size(), PlainText::MaxPageChars);
}

// The printable-ASCII scan takes sixteen characters a step: one character to be made plain, at
// every place before, in and after the steps, is found where the character-wise rule finds it, and
// the UTF-8 written for the console is that of sanitized().
void tst_PlainText::printableRunsAndUtf8()
{
    const char16_t others[] = { 0x1f, 0x7f, u'\n', u'\t', 0xe9, 0x202e, 0xfffd, 0xffff };
    for (int size = 0; size <= 40; ++size) {
        const QString plain(size, u'a');
        QCOMPARE(PlainText::printableAsciiLength(plain), size);
        for (int at = 0; at < size; ++at) {
            for (const char16_t other : others) {
                QString text = plain;
                text[at] = QChar(other);
                QCOMPARE(PlainText::printableAsciiLength(text), at);
                QByteArray bytes("> ");
                PlainText::appendSanitizedUtf8(bytes, text);
                QCOMPARE(bytes, "> " + PlainText::sanitized(text).toUtf8());
            }
        }
    }
    QCOMPARE(PlainText::printableAsciiLength(u" ~"), 2);
}

QTEST_APPLESS_MAIN(tst_PlainText)
#include "tst_PlainText.moc"
