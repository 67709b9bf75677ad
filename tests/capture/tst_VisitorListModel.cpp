#include "capture/VisitorListModel.h"
#include "core/PlainText.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using Row = VisitorListModel::Row;

class tst_VisitorListModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void columns();
    void distinctLists_data();
    void distinctLists();
    void countIsIndependentOfRows();
    void newestRowsStayCountersExact();
    void newestRowOnly();
    void longPagesAreBoundedInText();
    void cellsArePlain_data();
    void cellsArePlain();
    void timeCellUsesShortLocaleFormat();
    void saveWritesHeaderAndRows();
    void saveReplacesExistingFile();
    void saveFailsOnMissingFolder();
    void readFile_data();
    void readFile();
    void readMissingFile();
    void roundTrip();
    void fileFields_data();
    void fileFields();
    void lineBreakCellsRoundTrip();
    void longLineStopsReading();
    void fileLimitStopsReading();
    void rowLimitStopsReading();
    void endlessInputIsBounded_data();
    void endlessInputIsBounded();
    void binaryGarbageIsSafe();
    void setAddressText();
    void clear();

private:
    QString write(const QByteArray &content);
    static QByteArray readAll(const QString &path);
    QTemporaryDir m_dir;
    int m_files = 0;
};

void tst_VisitorListModel::init()
{
    QVERIFY(m_dir.isValid());
}

QString tst_VisitorListModel::write(const QByteArray &content)
{
    const QString path = m_dir.filePath(QStringLiteral("list%1.csv").arg(++m_files));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.write(content);
    return path;
}

QByteArray tst_VisitorListModel::readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void tst_VisitorListModel::columns()
{
    VisitorListModel model;
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Time"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("IP"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("URL"));
    QCOMPARE(model.rowCount(), 0);
}

void tst_VisitorListModel::distinctLists_data()
{
    QTest::addColumn<QStringList>("ips");
    QTest::addColumn<QStringList>("pages");
    QTest::addColumn<QStringList>("list1");
    QTest::addColumn<QStringList>("list2");

    QTest::newRow("repeats keep first order")
        << QStringList { u"10.0.0.2"_qs, u"10.0.0.1"_qs, u"10.0.0.2"_qs, u"10.0.0.3"_qs, u"10.0.0.1"_qs }
        << QStringList { u"http://b/"_qs, u"http://a/"_qs, u"http://a/"_qs, u"http://b/"_qs, u"http://c/"_qs }
        << QStringList { u"10.0.0.2"_qs, u"10.0.0.1"_qs, u"10.0.0.3"_qs }
        << QStringList { u"http://b/"_qs, u"http://a/"_qs, u"http://c/"_qs };
    QTest::newRow("letter case matters") << QStringList { u"a"_qs, u"A"_qs }
                                         << QStringList { u"http://x/Page"_qs, u"http://x/page"_qs }
                                         << QStringList { u"a"_qs, u"A"_qs }
                                         << QStringList { u"http://x/Page"_qs, u"http://x/page"_qs };
    QTest::newRow("address with country is another address")
        << QStringList { u"1.2.3.4"_qs, u"1.2.3.4 Germany"_qs, u"1.2.3.4"_qs }
        << QStringList { u"Unknown"_qs, u"Unknown"_qs, u"Local Page"_qs }
        << QStringList { u"1.2.3.4"_qs, u"1.2.3.4 Germany"_qs } << QStringList { u"Unknown"_qs, u"Local Page"_qs };
    QTest::newRow("blanks matter") << QStringList { u"x"_qs, u"x "_qs } << QStringList { u"p"_qs, u" p"_qs }
                                   << QStringList { u"x"_qs, u"x "_qs } << QStringList { u"p"_qs, u" p"_qs };
    QTest::newRow("empty texts count once") << QStringList { QString(), QString() } << QStringList { QString(), u""_qs }
                                            << QStringList { QString() } << QStringList { QString() };
}

void tst_VisitorListModel::distinctLists()
{
    QFETCH(QStringList, ips);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, list1);
    QFETCH(QStringList, list2);
    VisitorListModel model;
    const QDateTime when(QDate(2026, 12, 7), QTime(10, 0));
    for (qsizetype i = 0; i < ips.size(); ++i) {
        const qsizetype before1 = model.uniqueAddressCount();
        const qsizetype before2 = model.uniquePageCount();
        const VisitorListModel::Counted counted = model.addVisit(when, ips[i], pages[i]);
        QCOMPARE(counted.newAddress, model.uniqueAddressCount() > before1);
        QCOMPARE(counted.newPage, model.uniquePageCount() > before2);
    }
    QCOMPARE(model.rowCount(), int(ips.size()));
    QCOMPARE(model.uniqueAddressCount(), list1.size());
    QCOMPARE(model.uniquePageCount(), list2.size());
    for (const QString &ip : list1)
        QVERIFY(model.hasAddress(ip));
    for (const QString &page : list2)
        QVERIFY(model.hasPage(page));
}

void tst_VisitorListModel::countIsIndependentOfRows()
{
    VisitorListModel model;
    QVERIFY(model.count(u"1.1.1.1"_qs, u"p"_qs).newAddress);
    QCOMPARE(model.rowCount(), 0);
    const VisitorListModel::Counted again = model.count(u"1.1.1.1"_qs, u"q"_qs);
    QVERIFY(!again.newAddress);
    QVERIFY(again.newPage);
    QCOMPARE(model.uniquePageCount(), 2);
    QVERIFY(model.hasPage(u"q"_qs));
}

void tst_VisitorListModel::newestRowsStayCountersExact()
{
    VisitorListModel model;
    const QDateTime when(QDate(2026, 12, 7), QTime(0, 0));
    // One step of the oldest rows left the list, the newest 500 since then wait for the next one.
    constexpr int Extra = VisitorListModel::TrimStep + 500;
    for (int i = 0; i < VisitorListModel::MaxRows + Extra; ++i)
        model.addVisit(when.addSecs(i), QStringLiteral("10.0.%1.%2").arg(i >> 8).arg(i & 255),
            QStringLiteral("http://site/%1").arg(i % 70000));
    QCOMPARE(model.rowCount(), VisitorListModel::MaxRows + 500);
    QCOMPARE(model.row(0).time, when.addSecs(VisitorListModel::TrimStep));
    QCOMPARE(model.row(model.rowCount() - 1).time, when.addSecs(VisitorListModel::MaxRows + Extra - 1));
    QCOMPARE(model.requestCount(), VisitorListModel::MaxRows + Extra);
    QCOMPARE(model.uniqueAddressCount(), VisitorListModel::MaxRows + Extra);
    QCOMPARE(model.uniquePageCount(), 70000);
    // Addresses that left the list are still known: they do not count again.
    QVERIFY(!model.addVisit(when, u"10.0.0.0"_qs, u"http://site/0"_qs).newAddress);

    // A loaded file larger than the list: its newest rows stay, every row counts.
    QList<Row> rows;
    for (int i = 0; i < VisitorListModel::MaxRows + 10; ++i)
        rows.append(Row { QDateTime(), QString::number(i), u"192.0.2.1"_qs, u"p"_qs });
    QVERIFY(model.appendAndCount(rows, 0, rows.size()).newAddress);
    QCOMPARE(model.rowCount(), VisitorListModel::MaxRows);
    QCOMPARE(model.cellText(0, VisitorListModel::TimeColumn), u"10"_qs);
    QCOMPARE(model.requestCount(), 2 * VisitorListModel::MaxRows + Extra + 11);
}

void tst_VisitorListModel::newestRowOnly()
{
    VisitorListModel model;
    const QDateTime when(QDate(2026, 12, 7), QTime(0, 0));
    model.addVisit(when, u"192.0.2.1"_qs, u"http://site/a"_qs);
    model.addVisit(when.addSecs(1), u"192.0.2.2"_qs, u"http://site/b"_qs);
    model.setNewestRowOnly(true);
    QCOMPARE(model.rowCount(), 1);
    model.addVisit(when.addSecs(2), u"192.0.2.1"_qs, u"http://site/c"_qs);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.row(0).time, when.addSecs(2));
    QCOMPARE(model.cellText(0, VisitorListModel::UrlColumn), u"http://site/c"_qs);
    QCOMPARE(model.requestCount(), 3);
    QCOMPARE(model.uniqueAddressCount(), 2);
    QCOMPARE(model.uniquePageCount(), 3);
    model.appendRows({ Row { QDateTime(), u"x"_qs, u"192.0.2.9"_qs, u"p"_qs },
        Row { QDateTime(), u"y"_qs, u"192.0.2.9"_qs, u"q"_qs } });
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.cellText(0, VisitorListModel::TimeColumn), u"y"_qs);
}

// Visits with the longest pages a visitor can send: the list keeps their newest rows up to its
// text bound, while a page that comes again shares its text with its earlier rows.
void tst_VisitorListModel::longPagesAreBoundedInText()
{
    VisitorListModel model;
    const QDateTime when(QDate(2026, 12, 7), QTime(0, 0));
    model.addVisit(when, u"192.0.2.1"_qs, u"http://site/"_qs);
    model.addVisit(when, u"192.0.2.2"_qs, QStringLiteral("http://%1/").arg(u"site"_qs));
    QCOMPARE(model.row(1).page.constData(), model.row(0).page.constData());

    const QString filler(PlainText::MaxPageChars - 16, u'x');
    const int count = int(VisitorListModel::MaxChars / PlainText::MaxPageChars) + 500;
    for (int i = 0; i < count; ++i)
        model.addVisit(when.addSecs(i), u"198.51.100.7"_qs, QString::number(i).rightJustified(16, u'0') + filler);
    QVERIFY(model.rowCount() < int(VisitorListModel::MaxChars / PlainText::MaxPageChars));
    QVERIFY(model.rowCount() > count - 1000);
    QCOMPARE(model.row(model.rowCount() - 1).time, when.addSecs(count - 1));
    QCOMPARE(model.requestCount(), count + 2);
}

void tst_VisitorListModel::cellsArePlain_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cell");
    QTest::newRow("CR LF") << u"http://a/\r\nInjected: x"_qs << u"http://a/ Injected: x"_qs;
    QTest::newRow("LF") << u"a\nb"_qs << u"a b"_qs;
    QTest::newRow("CR") << u"a\rb"_qs << u"a b"_qs;
    QTest::newRow("LF CR is two breaks") << u"a\n\rb"_qs << u"a  b"_qs;
    QTest::newRow("line separator") << u"a\u2028b\u2029c\u0085d"_qs << u"a b c d"_qs;
    QTest::newRow("tab becomes a blank") << u"a\tb"_qs << u"a b"_qs;
    QTest::newRow("escape and bidi override") << u"a\x1b[2Jb\u202ec"_qs << u"a\ufffd[2Jb\ufffdc"_qs;
    QTest::newRow("first 4,096 characters") << QString(5000, u'x') << QString(4096, u'x');
}

void tst_VisitorListModel::cellsArePlain()
{
    QFETCH(QString, text);
    QFETCH(QString, cell);
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), text, text);
    QCOMPARE(model.cellText(0, VisitorListModel::IpColumn), cell);
    QCOMPARE(model.cellText(0, VisitorListModel::UrlColumn), cell);
    QCOMPARE(model.uniquePageCount(), 1);
    QVERIFY(model.hasPage(cell));
    model.setAddressText(0, text);
    QCOMPARE(model.cellText(0, VisitorListModel::IpColumn), cell);
    model.appendRows({ Row { QDateTime(), text, text, text } });
    for (int column = 0; column < 3; ++column)
        QCOMPARE(model.cellText(1, column), cell);
}

void tst_VisitorListModel::timeCellUsesShortLocaleFormat()
{
    VisitorListModel model;
    const QDateTime when(QDate(2026, 3, 4), QTime(17, 5, 9));
    model.addVisit(when, u"1.2.3.4"_qs, u"Unknown"_qs);
    const QString expected = QLocale().toString(when, QLocale::ShortFormat);
    QCOMPARE(model.cellText(0, VisitorListModel::TimeColumn), expected);
    QCOMPARE(model.data(model.index(0, 0)).toString(), expected);
    QVERIFY(!expected.contains(u'\n'));
}

void tst_VisitorListModel::saveWritesHeaderAndRows()
{
    VisitorListModel model;
    const QDateTime t1(QDate(2026, 12, 7), QTime(9, 0));
    const QDateTime t3(QDate(2026, 12, 7), QTime(9, 2));
    model.addVisit(t1, u"10.0.0.1"_qs, u"http://site/a.htm"_qs);
    model.appendRows({ Row { QDateTime(), u"loaded time"_qs, u"10.0.0.2 France"_qs, u"http://site/b,c.htm"_qs } });
    model.addVisit(t3, u"10.0.0.3"_qs, u"Local Page"_qs);
    const QString path = m_dir.filePath(u"saved.csv"_qs);
    QVERIFY(model.saveToFile(path));
    const QByteArray expected = "\"Date\",\"IP\",\"Page\"\r\n" + VisitorListModel::timeText(t1).toUtf8()
        + ",10.0.0.1,http://site/a.htm\r\n" + "loaded time,10.0.0.2 France,\"http://site/b,c.htm\"\r\n"
        + VisitorListModel::timeText(t3).toUtf8() + ",10.0.0.3,Local Page\r\n";
    QCOMPARE(readAll(path), expected);
    QCOMPARE(readAll(path).count("\r\n"), 4);
}

void tst_VisitorListModel::saveReplacesExistingFile()
{
    const QString path = write(QByteArray(10000, 'x'));
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"p"_qs);
    QFile::setPermissions(path, QFile::Permissions(0x6644));
    QVERIFY(model.saveToFile(path));
    QVERIFY(readAll(path).startsWith("\"Date\",\"IP\",\"Page\"\r\n"));
    QVERIFY(readAll(path).size() < 200);
    // The replaced file was readable by all; the list is its owner's alone.
    QCOMPARE(
        QFileInfo(path).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
        QFile::Permissions());
}

void tst_VisitorListModel::saveFailsOnMissingFolder()
{
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"p"_qs);
    QVERIFY(!model.saveToFile(m_dir.filePath(u"no/such/folder/list.csv"_qs)));
}

void tst_VisitorListModel::readFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("cells"); // time|ip|page per row
    QTest::addColumn<bool>("complete");

    QTest::newRow("saved file") << QByteArray(
        "\"Date\",\"IP\",\"Page\"\r\nt1,1.1.1.1,http://a/\r\nt2,2.2.2.2 Spain,Unknown\r\n")
                                << QStringList { u"t1|1.1.1.1|http://a/"_qs, u"t2|2.2.2.2 Spain|Unknown"_qs } << true;
    QTest::newRow("line 1 skipped whatever it holds")
        << QByteArray("a,b,c\nt,ip,page\n") << QStringList { u"t|ip|page"_qs } << true;
    QTest::newRow("header only") << QByteArray("\"Date\",\"IP\",\"Page\"\r\n") << QStringList {} << true;
    QTest::newRow("empty file") << QByteArray() << QStringList {} << true;
    QTest::newRow("commas belong to the page")
        << QByteArray("h\nt,ip,http://a/?x=1,2,3\n") << QStringList { u"t|ip|http://a/?x=1,2,3"_qs } << true;
    QTest::newRow("empty fields") << QByteArray("h\n,,\n") << QStringList { u"||"_qs } << true;
    QTest::newRow("LF, CR and no final line end")
        << QByteArray("h\na,b,c\rd,e,f\ng,h,i") << QStringList { u"a|b|c"_qs, u"d|e|f"_qs, u"g|h|i"_qs } << true;
    QTest::newRow("one comma stops, rows before stay")
        << QByteArray("h\na,b,c\nbroken,line\nd,e,f\n") << QStringList { u"a|b|c"_qs } << false;
    QTest::newRow("empty line stops") << QByteArray("h\na,b,c\n\nd,e,f\n") << QStringList { u"a|b|c"_qs } << false;
    QTest::newRow("UTF-8") << QByteArray("h\nt,ip,http://b\xc3\xbc"
                                         "cher.de/\n")
                           << QStringList { u"t|ip|http://b\u00fccher.de/"_qs } << true;
    QTest::newRow("quoted fields") << QByteArray("h\n\"t,1\",\"1.1.1.1\",\"http://a/?q=\"\"x\"\",2\"\n")
                                   << QStringList { u"t,1|1.1.1.1|http://a/?q=\"x\",2"_qs } << true;
    QTest::newRow("earlier unquoted file: address trimmed, commas in the page")
        << QByteArray("h\nt,127.0.0.1 ,http://a/,b\n") << QStringList { u"t|127.0.0.1|http://a/,b"_qs } << true;
    QTest::newRow("formula mark dropped")
        << QByteArray("h\n'-t,ip,'=1+2\n") << QStringList { u"-t|ip|=1+2"_qs } << true;
    QTest::newRow("unclosed quote is read as it stands")
        << QByteArray("h\n\"t,ip,\"abc\n") << QStringList { u"\"t|ip|\"abc"_qs } << true;
}

void tst_VisitorListModel::readFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, cells);
    QFETCH(bool, complete);
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(write(content));
    QVERIFY(result.opened);
    QCOMPARE(result.complete, complete);
    QStringList actual;
    for (const Row &row : result.rows) {
        QVERIFY(!row.time.isValid());
        actual << row.timeText + u'|' + row.ip + u'|' + row.page;
    }
    QCOMPARE(actual, cells);
}

void tst_VisitorListModel::readMissingFile()
{
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(m_dir.filePath(u"absent.csv"_qs));
    QVERIFY(!result.opened);
    QVERIFY(!result.complete);
    QVERIFY(result.rows.isEmpty());
}

void tst_VisitorListModel::roundTrip()
{
    VisitorListModel model;
    QDateTime when(QDate(2026, 1, 1), QTime(0, 0));
    for (int i = 0; i < 1000; ++i)
        model.addVisit(when.addSecs(i * 61), QStringLiteral("10.0.%1.%2").arg(i / 256).arg(i % 256),
            QStringLiteral("http://site/p%1.htm,x").arg(i % 37));
    const QString path = m_dir.filePath(u"round.csv"_qs);
    QVERIFY(model.saveToFile(path));

    VisitorListModel loaded;
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(path);
    QVERIFY(result.complete);
    loaded.appendRows(result.rows);
    QCOMPARE(loaded.rowCount(), 1000);
    for (int i = 0; i < 1000; i += 97) {
        for (int c = 0; c < 3; ++c)
            QCOMPARE(loaded.cellText(i, c), model.cellText(i, c));
    }
    // Saving the loaded list gives the same file again.
    const QString again = m_dir.filePath(u"again.csv"_qs);
    QVERIFY(loaded.saveToFile(again));
    QCOMPARE(readAll(again), readAll(path));
}

void tst_VisitorListModel::fileFields_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QByteArray>("field");
    QTest::newRow("plain") << u"http://a/b.htm"_qs << QByteArray("http://a/b.htm");
    QTest::newRow("comma") << u"http://a/?x=1,2"_qs << QByteArray("\"http://a/?x=1,2\"");
    QTest::newRow("double quote") << u"say \"hi\""_qs << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("formula with quotes and comma")
        << u"=HYPERLINK(\"http://e/\",\"x\")"_qs << QByteArray("\"'=HYPERLINK(\"\"http://e/\"\",\"\"x\"\")\"");
    QTest::newRow("plus") << u"+cmd|' /C calc'!A0"_qs << QByteArray("'+cmd|' /C calc'!A0");
    QTest::newRow("minus") << u"-2+3"_qs << QByteArray("'-2+3");
    QTest::newRow("at") << u"@SUM(1)"_qs << QByteArray("'@SUM(1)");
    QTest::newRow("leading apostrophe") << u"'x"_qs << QByteArray("''x");
    QTest::newRow("apostrophe inside") << u"a'b"_qs << QByteArray("a'b");
}

void tst_VisitorListModel::fileFields()
{
    QFETCH(QString, cell);
    QTEST(VisitorListModel::fileField(cell), "field");
    // Every cell loads back as it was, in every column.
    VisitorListModel model;
    model.appendRows({ Row { QDateTime(), cell, cell, cell } });
    const QString path = m_dir.filePath(u"fields.csv"_qs);
    QVERIFY(model.saveToFile(path));
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(path);
    QVERIFY(result.complete);
    QCOMPARE(result.rows.size(), 1);
    QCOMPARE(result.rows[0].timeText, cell);
    QCOMPARE(result.rows[0].ip, cell);
    QCOMPARE(result.rows[0].page, cell);
}

void tst_VisitorListModel::lineBreakCellsRoundTrip()
{
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"http://a/\r\n2.2.2.2,evil"_qs);
    model.addVisit(QDateTime::currentDateTime(), u"3.3.3.3\n"_qs, u"http://b/\rx"_qs);
    const QString path = m_dir.filePath(u"breaks.csv"_qs);
    QVERIFY(model.saveToFile(path));
    QCOMPARE(readAll(path).count('\n'), 3);
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(path);
    QVERIFY(result.complete);
    QCOMPARE(result.rows.size(), 2);
    QCOMPARE(result.rows[0].page, u"http://a/ 2.2.2.2,evil"_qs);
    QCOMPARE(result.rows[1].ip, u"3.3.3.3"_qs); // no trailing blank
    QCOMPARE(result.rows[1].page, u"http://b/ x"_qs);
}

void tst_VisitorListModel::longLineStopsReading()
{
    VisitorListLimits limits;
    limits.maxLineBytes = 1000;
    const QByteArray content = "h\na,b,c\nd,e," + QByteArray(5000, 'f') + "\ng,h,i\n";
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(write(content), limits);
    QVERIFY(!result.complete);
    QCOMPARE(result.rows.size(), 1);
}

void tst_VisitorListModel::fileLimitStopsReading()
{
    VisitorListLimits limits;
    limits.maxFileBytes = 1000;
    QByteArray content = "h\n";
    for (int i = 0; i < 200; ++i)
        content += "t,ip" + QByteArray::number(i) + ",page\n";
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(write(content), limits);
    QVERIFY(!result.complete);
    QVERIFY(result.rows.size() > 50);
    QVERIFY(result.rows.size() < 100);
    // The rows read are whole lines.
    QCOMPARE(result.rows.constLast().page, u"page"_qs);
}

void tst_VisitorListModel::rowLimitStopsReading()
{
    VisitorListLimits limits;
    limits.maxRows = 10;
    QByteArray content = "h\n";
    for (int i = 0; i < 50; ++i)
        content += "t,ip,page" + QByteArray::number(i) + '\n';
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(write(content), limits);
    QVERIFY(!result.complete);
    QCOMPARE(result.rows.size(), 10);
}

void tst_VisitorListModel::endlessInputIsBounded_data()
{
    QTest::addColumn<QString>("device");
    QTest::newRow("zeros") << u"/dev/zero"_qs;
    QTest::newRow("random") << u"/dev/urandom"_qs;
}

void tst_VisitorListModel::endlessInputIsBounded()
{
    QFETCH(QString, device);
    if (!QFile::exists(device))
        QSKIP("device not present");
    VisitorListLimits limits;
    limits.maxFileBytes = 8 << 20;
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(device, limits);
    QVERIFY(result.opened);
    QVERIFY(!result.complete);
}

void tst_VisitorListModel::binaryGarbageIsSafe()
{
    QByteArray garbage = "h\nx,y,";
    for (int i = 0; i < 4096; ++i) {
        const char c = char((i * 7919) % 251);
        garbage += (c == '\n' || c == '\r') ? ' ' : c;
    }
    const char tail[] = "\nt,\0\xff\xfe,\x80page\n";
    garbage += QByteArray(tail, sizeof tail - 1);
    const VisitorListModel::ReadResult result = VisitorListModel::readFile(write(garbage));
    VisitorListModel model;
    model.appendRows(result.rows);
    for (int i = 0; i < model.rowCount(); ++i) {
        for (int c = 0; c < 3; ++c)
            QVERIFY(!model.cellText(i, c).contains(u'\n'));
    }
    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.cellText(model.rowCount() - 1, 1).size(), 3); // NUL and two replacement characters
    QVERIFY(model.saveToFile(m_dir.filePath(u"garbage.csv"_qs)));
}

void tst_VisitorListModel::setAddressText()
{
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"p"_qs);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.setAddressText(0, u"1.1.1.1 Italy"_qs);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), model.index(0, 1));
    QCOMPARE(model.cellText(0, 1), u"1.1.1.1 Italy"_qs);
    // The counted address stays as it was.
    QCOMPARE(model.uniqueAddressCount(), 1);
    QVERIFY(model.hasAddress(u"1.1.1.1"_qs));
    model.setAddressText(5, u"x"_qs); // no such row: ignored
}

void tst_VisitorListModel::clear()
{
    VisitorListModel model;
    model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"p"_qs);
    model.clear();
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.uniqueAddressCount(), 0);
    QCOMPARE(model.uniquePageCount(), 0);
    QCOMPARE(model.requestCount(), 0);
    QVERIFY(model.addVisit(QDateTime::currentDateTime(), u"1.1.1.1"_qs, u"p"_qs).newAddress);
}

QTEST_GUILESS_MAIN(tst_VisitorListModel)
#include "tst_VisitorListModel.moc"
