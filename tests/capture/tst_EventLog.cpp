#include "capture/EventLog.h"
#include "capture/EventLogFormat.h"
#include "tests/mock/ManualClock.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

namespace {
constexpr QRgb Red = qRgb(255, 0, 0);
constexpr QRgb Blue = qRgb(0, 0, 255);
constexpr QRgb Green = qRgb(0, 128, 0);
} // namespace

Q_DECLARE_METATYPE(std::optional<QRgb>)

class tst_EventLog : public QObject
{
    Q_OBJECT
private slots:
    void format_data();
    void format();
    void lines();
    void plainTextAndControlCharacters();
    void clearAndTyping();
    void hiddenLogWaitsUntilShown();
    void burstArrivesInOrder();
    void keepsNewestLines_data();
    void keepsNewestLines();
    void longLinesAreBoundedInText_data();
    void longLinesAreBoundedInText();
};

void tst_EventLog::format_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("previousBold");
    QTest::addColumn<std::optional<QRgb>>("colour");
    QTest::addColumn<bool>("bold");

    const std::optional<QRgb> previousColour = Blue;
    QTest::newRow("visit") << "Visit: 1.2.3.4 -> Unknown" << true << std::optional<QRgb>(Blue) << false;
    QTest::newRow("listening") << "Listening for connections on port: 80" << false << std::optional<QRgb>(Green)
                               << true;
    QTest::newRow("bind error") << "Bind error: Address in use" << false << std::optional<QRgb>(Red) << true;
    QTest::newRow("updating is not updated") << "Error updating IP: x" << false << std::optional<QRgb>(Red) << true;
    QTest::newRow("updated keeps weight bold")
        << "IP Updated to: 1.2.3.4" << true << std::optional<QRgb>(Green) << true;
    QTest::newRow("updated keeps weight normal")
        << "IP Updated to: 1.2.3.4" << false << std::optional<QRgb>(Green) << false;
    QTest::newRow("no keyword keeps both") << "Software Started - 07-December-2026" << true << previousColour << true;
    QTest::newRow("visitor counts as visit") << "Visitor" << true << std::optional<QRgb>(Blue) << false;
    QTest::newRow("failed after visit") << "Visit failed" << true << std::optional<QRgb>(Red) << false;
    QTest::newRow("internet") << "Internet connection: eth0" << true << std::optional<QRgb>(Green) << true;
    QTest::newRow("no connection") << "No connection detected" << false << std::optional<QRgb>(Red) << false;
    QTest::newRow("aborted") << "Update aborted" << false << std::optional<QRgb>(Red) << true;
    QTest::newRow("error then listening") << "error; listening" << false << std::optional<QRgb>(Green) << true;
    QTest::newRow("updated after no connection")
        << "no connection, updated" << false << std::optional<QRgb>(Green) << false;
    QTest::newRow("upper case") << "LISTENING" << false << std::optional<QRgb>(Green) << true;
    QTest::newRow("empty keeps format") << "" << true << previousColour << true;
}

void tst_EventLog::format()
{
    QFETCH(QString, entry);
    QFETCH(bool, previousBold);
    EventLogFormat previous;
    previous.colour = Blue;
    previous.bold = previousBold;
    const EventLogFormat result = EventLogFormat::forEntry(entry, previous);
    QTEST(result.colour, "colour");
    QTEST(result.bold, "bold");
}

void tst_EventLog::lines()
{
    QPlainTextEdit view;
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(9, 5, 7)));
    EventLog log(&view, clock);
    QStringList emitted;
    connect(&log, &EventLog::lineAdded, this, [&](const QString &line) { emitted << line; });

    log.PutLog(QStringLiteral("Software Started - 07-December-2026"));
    clock.advance(61'000);
    log.PutLog(QStringLiteral("Bind error: in use"));
    log.PutLog(QString());
    log.PutLog(QStringLiteral("Visit: 10.0.0.1 -> Unknown"));

    log.flush();
    QCOMPARE(emitted,
        (QStringList { u"[09:05:07] Software Started - 07-December-2026"_qs, u"[09:06:08] Bind error: in use"_qs,
            u"[09:06:08] "_qs, u"[09:06:08] Visit: 10.0.0.1 -> Unknown"_qs }));
    QCOMPARE(view.document()->blockCount(), 4);
    QCOMPARE(view.document()->findBlockByNumber(2).text(), QStringLiteral("[09:06:08] "));

    // The empty entry took the red bold format of the line before it.
    const QTextCharFormat empty = view.document()->findBlockByNumber(2).begin().fragment().charFormat();
    QCOMPARE(empty.foreground().color().rgb(), Red);
    QCOMPARE(empty.fontWeight(), int(QFont::Bold));
    const QTextCharFormat visit = view.document()->findBlockByNumber(3).begin().fragment().charFormat();
    QCOMPARE(visit.foreground().color().rgb(), Blue);
    QCOMPARE(visit.fontWeight(), int(QFont::Normal));
    // A first line without keyword has the box's default look.
    const QTextCharFormat first = view.document()->findBlockByNumber(0).begin().fragment().charFormat();
    QCOMPARE(first.foreground().color(), view.palette().text().color());
    QCOMPARE(first.fontWeight(), int(QFont::Normal));
}

void tst_EventLog::plainTextAndControlCharacters()
{
    QPlainTextEdit view;
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)));
    EventLog log(&view, clock);
    log.PutLog(QStringLiteral("<b>x</b> &amp;"));
    log.PutLog(QStringLiteral("Referer: a\r\nb\x01"
                              "c\u2028d\u202e"));
    log.flush();
    QCOMPARE(view.document()->blockCount(), 2);
    QCOMPARE(view.document()->findBlockByNumber(0).text(), QStringLiteral("[00:00:00] <b>x</b> &amp;"));
    QCOMPARE(view.document()->findBlockByNumber(1).text(), QStringLiteral("[00:00:00] Referer: a b\ufffdc d\ufffd"));
    QCOMPARE(view.toPlainText().count(u'\n'), 1);
}

void tst_EventLog::clearAndTyping()
{
    QPlainTextEdit view;
    EventLog log(&view);
    log.PutLog(QStringLiteral("Listening for connections on port: 80"));
    log.flush();
    view.setFocus();
    QTest::keyClicks(&view, QStringLiteral("typed"));
    QVERIFY(!view.toPlainText().contains(QStringLiteral("typed")));
    QVERIFY(view.isReadOnly());

    log.PutLog(QStringLiteral("still waiting"));
    log.clear();
    QCOMPARE(view.toPlainText(), QString());
    log.PutLog(QStringLiteral("after"));
    log.flush();
    QCOMPARE(view.document()->blockCount(), 1);
    QCOMPARE(view.document()->firstBlock().text().mid(11), QStringLiteral("after"));
    QVERIFY(!log.currentFormat().bold);
}

void tst_EventLog::hiddenLogWaitsUntilShown()
{
    QPlainTextEdit view;
    EventLog log(&view);
    QStringList console;
    connect(&log, &EventLog::lineAdded, this, [&](const QString &line) { console << line; });
    log.PutLog(QStringLiteral("one"));
    log.PutLog(QStringLiteral("two"));
    QTest::qWait(20);
    // The console hears every line at once; the hidden view gets them when shown.
    QCOMPARE(console.size(), 2);
    QCOMPARE(log.lineCount(), 2);
    QCOMPARE(view.toPlainText(), QString());
    view.show();
    QTRY_COMPARE(view.document()->blockCount(), 2);
    QVERIFY(view.document()->lastBlock().text().endsWith(QStringLiteral("] two")));
    log.PutLog(QStringLiteral("three"));
    QTRY_COMPARE(view.document()->blockCount(), 3);
}

void tst_EventLog::burstArrivesInOrder()
{
    QPlainTextEdit view;
    view.show();
    EventLog log(&view);
    const int lines = int(EventLog::MaxLinesPerTurn) * 2 + 17;
    for (int i = 0; i < lines; ++i)
        log.PutLog(QString::number(i));
    // More than one turn's worth: the rest follows in later turns, in order.
    QTRY_COMPARE_WITH_TIMEOUT(view.document()->blockCount(), lines, 10000);
    for (int i : { 0, 1, int(EventLog::MaxLinesPerTurn), lines - 1 })
        QVERIFY(view.document()->findBlockByNumber(i).text().endsWith(u"] "_qs + QString::number(i)));
    QScrollBar *bar = view.verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
}

void tst_EventLog::keepsNewestLines_data()
{
    QTest::addColumn<bool>("shown");
    QTest::newRow("shown") << true;
    QTest::newRow("hidden, then shown") << false;
}

void tst_EventLog::keepsNewestLines()
{
    QFETCH(bool, shown);
    QPlainTextEdit view;
    QCOMPARE(EventLog(&view).maxLines(), 25'000);
    if (shown)
        view.show();
    EventLog log(&view, Clock::system(), nullptr, 5);
    for (int i = 0; i < 12; ++i)
        log.PutLog(QString::number(i));
    if (!shown)
        view.show();
    QTRY_VERIFY(view.document()->lastBlock().text().endsWith(u"] 11"_qs));
    QCOMPARE(view.document()->blockCount(), 5);
    QVERIFY(view.document()->firstBlock().text().endsWith(u"] 7"_qs));
    QCOMPARE(log.lineCount(), 12);
}

void tst_EventLog::longLinesAreBoundedInText_data()
{
    keepsNewestLines_data();
}

// Lines of 4,096 characters (a visitor's longest page): the log keeps their newest text up to its
// bound, waiting for a hidden view and in a shown one.
void tst_EventLog::longLinesAreBoundedInText()
{
    QFETCH(bool, shown);
    QPlainTextEdit view;
    if (shown)
        view.show();
    EventLog log(&view);
    const QString page(4096, u'p');
    const int count = int(EventLogLines::MaxChars / page.size()) + 300;
    for (int i = 0; i < count; ++i) {
        log.PutLog(QString::number(i) + u' ' + page);
        if (shown && i % 1000 == 0)
            QCoreApplication::processEvents();
    }
    if (!shown)
        view.show();
    QTRY_VERIFY(view.document()->lastBlock().text().contains(QString::number(count - 1) + u' '));
    QVERIFY(view.document()->characterCount() <= EventLogLines::MaxChars);
    QVERIFY(view.document()->blockCount() > count - 400);
    QCOMPARE(log.lineCount(), count);
}

QTEST_MAIN(tst_EventLog)
#include "tst_EventLog.moc"
