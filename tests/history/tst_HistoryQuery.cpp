#include "history/HistoryQuery.h"
#include "history/HistoryWriter.h"
#include "history/Sqlite.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <numeric>

#include <ctime>

using Preset = HistoryRange::Preset;

class tst_HistoryQuery : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void presets_data();
    void presets();
    void buckets_data();
    void buckets();
    void scanCountsChartAndTopLists();
    void filter_data();
    void filter();
    void kindsAfterAnOlderFile();
    void chunksComeNewestFirst();
    void cancelledScanStops();
    void csvField_data();
    void csvField();
    void exportWritesTheShownVisits();
    void missingFileIsAnEmptyHistory();
    void damagedFileIsReported();

private:
    void store(const std::vector<HistoryVisit> &visits);
    QVector<qint64> scanKeys(const HistoryFilter &filter, HistorySummary *summary = nullptr);
    static qint64 at(int day, int hour, int minute = 0);

    QTemporaryDir m_dir;
    QString m_file;
    const QDateTime m_now { QDate(2026, 10, 25), QTime(18, 0) };
};

void tst_HistoryQuery::initTestCase()
{
    // A zone with summer time: 25 October 2026 has 25 hours there.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QVERIFY(m_dir.isValid());
    m_file = m_dir.filePath(QStringLiteral("history.sqlite3"));
}

qint64 tst_HistoryQuery::at(int day, int hour, int minute)
{
    return QDateTime(QDate(2026, 10, day), QTime(hour, minute)).toMSecsSinceEpoch();
}

void tst_HistoryQuery::store(const std::vector<HistoryVisit> &visits)
{
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(m_file + suffix);
    HistoryWriter writer(m_file);
    QVERIFY(writer.write(visits, m_now.date()).ok);
}

QVector<qint64> tst_HistoryQuery::scanKeys(const HistoryFilter &filter, HistorySummary *summary)
{
    HistoryQuery query(m_file);
    QVector<qint64> keys;
    const HistorySummary result = query.scan(filter, m_now, {}, [&](QVector<qint64> &&chunk) { keys += chunk; });
    if (summary)
        *summary = result;
    return keys;
}

void tst_HistoryQuery::presets_data()
{
    QTest::addColumn<Preset>("preset");
    QTest::addColumn<QDate>("first");
    QTest::addColumn<QDate>("last");
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<QDateTime>("to");
    const QDateTime day25(QDate(2026, 10, 25), QTime(0, 0));
    const QDateTime day26(QDate(2026, 10, 26), QTime(0, 0));
    QTest::newRow("today") << Preset::Today << QDate() << QDate() << day25 << day26;
    QTest::newRow("yesterday") << Preset::Yesterday << QDate() << QDate() << day25.addDays(-1) << day25;
    QTest::newRow("last 7 days") << Preset::Last7Days << QDate() << QDate() << day25.addDays(-6) << day26;
    QTest::newRow("last 30 days") << Preset::Last30Days << QDate() << QDate() << day25.addDays(-29) << day26;
    QTest::newRow("two dates, both included")
        << Preset::Dates << QDate(2026, 3, 1) << QDate(2026, 3, 31) << QDateTime(QDate(2026, 3, 1), QTime(0, 0))
        << QDateTime(QDate(2026, 4, 1), QTime(0, 0));
    QTest::newRow("two dates in the wrong order")
        << Preset::Dates << QDate(2026, 3, 31) << QDate(2026, 3, 1) << QDateTime(QDate(2026, 3, 1), QTime(0, 0))
        << QDateTime(QDate(2026, 4, 1), QTime(0, 0));
}

void tst_HistoryQuery::presets()
{
    QFETCH(Preset, preset);
    QFETCH(QDate, first);
    QFETCH(QDate, last);
    QFETCH(QDateTime, from);
    QFETCH(QDateTime, to);
    const HistoryRange range = HistoryRange::forPreset(preset, m_now, first, last);
    QCOMPARE(QDateTime::fromMSecsSinceEpoch(range.fromMs), from);
    QCOMPARE(QDateTime::fromMSecsSinceEpoch(range.toMs), to);
}

void tst_HistoryQuery::buckets_data()
{
    QTest::addColumn<Preset>("preset");
    QTest::addColumn<bool>("hourly");
    QTest::addColumn<int>("count");
    QTest::newRow("today: per hour, 25 on the day the clocks go back") << Preset::Today << true << 25;
    QTest::newRow("yesterday: 24 hours") << Preset::Yesterday << true << 24;
    QTest::newRow("7 days: per day") << Preset::Last7Days << false << 7;
    QTest::newRow("30 days") << Preset::Last30Days << false << 30;
}

void tst_HistoryQuery::buckets()
{
    QFETCH(Preset, preset);
    QFETCH(bool, hourly);
    QFETCH(int, count);
    const HistoryBuckets buckets = HistoryBuckets::forRange(HistoryRange::forPreset(preset, m_now), 0, m_now);
    QCOMPARE(buckets.hourly, hourly);
    QCOMPARE(buckets.startsMs.size(), count);
    if (!hourly) {
        for (qint64 start : buckets.startsMs)
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(start).time(), QTime(0, 0));
    }
}

void tst_HistoryQuery::scanCountsChartAndTopLists()
{
    std::vector<HistoryVisit> visits;
    const auto add = [&](qint64 ms, const char *address, const char *country, const char *page) {
        visits.push_back(
            { ms, QString::fromLatin1(address), QString::fromLatin1(country), QString::fromLatin1(page), false });
    };
    add(at(20, 9), "192.0.2.1", "France", "/a");
    add(at(24, 23, 59), "192.0.2.1", "France", "/b");
    add(at(25, 1), "192.0.2.2", "Germany", "/a");
    add(at(25, 3, 30), "192.0.2.3", "Germany", "/a");
    add(at(25, 17), "192.0.2.4", "", "/c");
    add(at(25, 17, 30), "192.0.2.4", "", "/c");
    store(visits);

    HistorySummary summary;
    const QVector<qint64> today = scanKeys({ HistoryRange::forPreset(Preset::Today, m_now), {} }, &summary);
    QCOMPARE(summary.total, 4);
    QCOMPARE(today.size(), 4);
    QCOMPARE(summary.perBucket.size(), 25);
    QCOMPARE(summary.perBucket[1], 1);
    QCOMPARE(summary.perBucket[4], 1); // 03:30 comes 4.5 hours after midnight on this day
    QCOMPARE(summary.perBucket[18], 2); // and 17:00 18 hours after it
    QCOMPARE(std::accumulate(summary.perBucket.cbegin(), summary.perBucket.cend(), qint64(0)), 4);
    QCOMPARE(summary.topPages.size(), 2);
    QCOMPARE(summary.topPages[0].text, u"/a"); // a tie of two: the page seen first leads
    QCOMPARE(summary.topPages[0].count, 2);
    QCOMPARE(summary.topPages[1].text, u"/c");
    QCOMPARE(summary.topCountries[0].text, u"Germany");
    QCOMPARE(summary.topCountries[1].text, QString());

    scanKeys({ HistoryRange::forPreset(Preset::Last7Days, m_now), {} }, &summary);
    QCOMPARE(summary.total, 6);
    QCOMPARE(summary.perBucket, (QList<qint64> { 0, 1, 0, 0, 0, 1, 4 }));
    QCOMPARE(summary.topPages[0].count, 3);

    scanKeys({ HistoryRange::forPreset(Preset::Everything, m_now), {} }, &summary);
    QCOMPARE(summary.total, 6);
    QCOMPARE(summary.buckets.startsMs.size(), 6); // from the oldest visit's day to today
    QCOMPARE(summary.topPages[0], (HistoryCount { QStringLiteral("/a"), 3 }));
}

void tst_HistoryQuery::filter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("matches");
    QTest::newRow("page") << QStringLiteral("shop") << 2;
    QTest::newRow("letter case ignored") << QStringLiteral("SHOP") << 2;
    QTest::newRow("address") << QStringLiteral("198.51.100.") << 1;
    QTest::newRow("country") << QStringLiteral("zealand") << 1;
    QTest::newRow("percent sign is no wildcard") << QStringLiteral("100%") << 1;
    QTest::newRow("underscore is no wildcard") << QStringLiteral("a_b") << 1;
    QTest::newRow("nothing") << QStringLiteral("nowhere") << 0;
}

void tst_HistoryQuery::filter()
{
    QFETCH(QString, text);
    QFETCH(int, matches);
    store({
        { at(25, 10), QStringLiteral("192.0.2.1"), QStringLiteral("Germany"), QStringLiteral("http://x.example/shop"),
            false },
        { at(25, 11), QStringLiteral("192.0.2.2"), QStringLiteral("France"),
            QStringLiteral("http://x.example/Shop/cart"), false },
        { at(25, 12), QStringLiteral("198.51.100.7"), QStringLiteral("France"), QStringLiteral("http://x.example/"),
            false },
        { at(25, 13), QStringLiteral("192.0.2.3"), QStringLiteral("New Zealand"), QStringLiteral("/100%"), false },
        { at(25, 14), QStringLiteral("192.0.2.4"), QStringLiteral("Chile"), QStringLiteral("/a_b"), false },
        { at(25, 15), QStringLiteral("192.0.2.5"), QStringLiteral("Chile"), QStringLiteral("/axb"), false },
    });
    HistorySummary summary;
    QCOMPARE(scanKeys({ {}, text }, &summary).size(), matches);
    QCOMPARE(summary.total, matches);
}

void tst_HistoryQuery::kindsAfterAnOlderFile()
{
    // A file as the history of version 1 wrote it: visits without kind and User-Agent.
    for (const QString &suffix : { QString(), QStringLiteral("-wal"), QStringLiteral("-shm") })
        QFile::remove(m_file + suffix);
    {
        SqliteDatabase old;
        old.open(m_file, SqliteDatabase::Mode::ReadWriteCreate);
        old.exec("CREATE TABLE meta(name TEXT PRIMARY KEY, value INTEGER) WITHOUT ROWID;"
                 "CREATE TABLE pages(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE, last INTEGER NOT NULL);"
                 "CREATE TABLE addresses(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE, last INTEGER NOT NULL);"
                 "CREATE TABLE countries(id INTEGER PRIMARY KEY, text TEXT NOT NULL UNIQUE);"
                 "CREATE TABLE visits(key INTEGER PRIMARY KEY, address INTEGER NOT NULL, country INTEGER NOT NULL,"
                 " page INTEGER NOT NULL, tls INTEGER NOT NULL);"
                 "INSERT INTO pages VALUES(1, '/old', 0); INSERT INTO addresses VALUES(1, '192.0.2.1', 0);"
                 "INSERT INTO countries VALUES(1, 'France');"
                 "PRAGMA user_version=1;");
        SqliteStatement insert = old.prepare("INSERT INTO visits VALUES(?1, 1, 1, 1, 0)");
        insert.bind(1, at(24, 9) * 1024).run();
    }
    {
        HistoryWriter writer(m_file);
        QVERIFY(writer
                    .write({ { at(24, 10), u"192.0.2.2"_qs, {}, u"/own"_qs, false, VisitKind::Own, {} },
                               { at(24, 11), u"66.249.66.1"_qs, {}, u"/"_qs, false, VisitKind::Crawler,
                                   u"Googlebot/2.1"_qs } },
                        m_now.date())
                    .ok);
    }
    HistoryQuery query(m_file);
    const QList<HistoryRow> all = query.rows(scanKeys({}));
    QCOMPARE(all.size(), 3);
    QCOMPARE(all[2].page, u"/old"_qs);
    QCOMPARE(all[2].kind, VisitKind::Visit);
    QCOMPARE(all[0].agent, u"Googlebot/2.1"_qs);
    for (VisitKind kind : { VisitKind::Visit, VisitKind::Own, VisitKind::Crawler }) {
        const QList<HistoryRow> shown = query.rows(scanKeys({ {}, {}, kind }));
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].kind, kind);
    }
}

void tst_HistoryQuery::chunksComeNewestFirst()
{
    std::vector<HistoryVisit> visits;
    for (int i = 0; i < 1000; ++i)
        visits.push_back({ at(25, 0) + i * 1000, QStringLiteral("192.0.2.1"), {}, QStringLiteral("/p"), false });
    store(visits);
    HistoryQuery query(m_file);
    QList<QVector<qint64>> chunks;
    query.scan({}, m_now, {}, [&](QVector<qint64> &&chunk) { chunks << chunk; });
    QVERIFY(!chunks.isEmpty());
    QCOMPARE(chunks.first().size(), HistoryQuery::FirstChunk);
    QVector<qint64> all;
    for (const auto &chunk : chunks)
        all += chunk;
    QCOMPARE(all.size(), 1000);
    QVERIFY(std::is_sorted(all.crbegin(), all.crend()));
    const QList<HistoryRow> rows = query.rows(all.mid(0, 2));
    QCOMPARE(rows[0].time, QDateTime::fromMSecsSinceEpoch(at(25, 0) + 999 * 1000));
}

void tst_HistoryQuery::cancelledScanStops()
{
    std::vector<HistoryVisit> visits;
    for (int i = 0; i < 20000; ++i)
        visits.push_back({ at(25, 0) + i, QStringLiteral("192.0.2.1"), {}, QStringLiteral("/p"), false });
    store(visits);
    HistoryQuery query(m_file);
    bool cancel = false;
    qsizetype seen = 0;
    try {
        query.scan(
            {}, m_now, [&] { return cancel; },
            [&](QVector<qint64> &&chunk) {
                seen += chunk.size();
                cancel = true;
            });
        QFAIL("the scan ran to its end");
    } catch (const SqliteError &error) {
        QVERIFY(error.interrupted());
    }
    QVERIFY(seen < 20000);
    // The connection is still good for the next scan.
    QCOMPARE(scanKeys({}).size(), 20000);
}

void tst_HistoryQuery::csvField_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("plain") << QStringLiteral("http://x.example/a") << QStringLiteral("http://x.example/a");
    QTest::newRow("comma") << QStringLiteral("/a?x=1,2") << QStringLiteral("\"/a?x=1,2\"");
    QTest::newRow("quotes doubled") << QStringLiteral("say \"hi\"") << QStringLiteral("\"say \"\"hi\"\"\"");
    QTest::newRow("line break") << QStringLiteral("a\r\nb") << QStringLiteral("\"a\r\nb\"");
    QTest::newRow("formula") << QStringLiteral("=HYPERLINK(\"x\")") << QStringLiteral("\"'=HYPERLINK(\"\"x\"\")\"");
    QTest::newRow("at sign") << QStringLiteral("@cmd") << QStringLiteral("'@cmd");
    QTest::newRow("non-ASCII") << QStringLiteral("http://bücher.example/ü")
                               << QStringLiteral("http://bücher.example/ü");
    QTest::newRow("empty") << QString() << QString();
}

void tst_HistoryQuery::csvField()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(HistoryCsv::field(text), field);
}

void tst_HistoryQuery::exportWritesTheShownVisits()
{
    store({
        { at(24, 10), QStringLiteral("192.0.2.1"), QStringLiteral("Korea, Republic of"), QStringLiteral("/a,b"), true },
        { at(25, 10, 5), QStringLiteral("192.0.2.2"), QStringLiteral("Côte d'Ivoire"), QStringLiteral("/say\"x\""),
            false, VisitKind::Crawler, QStringLiteral("bot, v1") },
        { at(25, 11), QStringLiteral("192.0.2.3"), QStringLiteral("France"), QStringLiteral("/hidden"), false },
    });
    const QVector<qint64> shown = scanKeys({ {}, QStringLiteral("192.0.2.") }).mid(1); // the two older ones
    HistoryQuery query(m_file);
    const QString out = m_dir.filePath(QStringLiteral("export.csv"));
    QCOMPARE(query.exportCsv(shown, out, {}), QString());
    QCOMPARE(
        QFileInfo(out).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
        QFile::Permissions());
    QFile file(out);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
        QStringLiteral("Time,IP,Country,Page,TLS,Kind,User agent\r\n"
                       "2026-10-25 10:05:00,192.0.2.2,Côte d'Ivoire,\"/say\"\"x\"\"\",no,crawler,\"bot, v1\"\r\n"
                       "2026-10-24 10:00:00,192.0.2.1,\"Korea, Republic of\",\"/a,b\",yes,visit,\r\n"));
}

void tst_HistoryQuery::missingFileIsAnEmptyHistory()
{
    HistoryQuery query(m_dir.filePath(QStringLiteral("nowhere/history.sqlite3")));
    int chunks = 0;
    const HistorySummary summary = query.scan({}, m_now, {}, [&](QVector<qint64> &&keys) {
        QVERIFY(keys.isEmpty());
        ++chunks;
    });
    QCOMPARE(chunks, 1);
    QCOMPARE(summary.total, 0);
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("nowhere"))));
}

void tst_HistoryQuery::damagedFileIsReported()
{
    const QString name = m_dir.filePath(QStringLiteral("garbage.sqlite3"));
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    HistoryQuery query(name);
    try {
        query.scan({}, m_now, {}, [](QVector<qint64> &&) {});
        QFAIL("a file of garbage was read");
    } catch (const SqliteError &error) {
        QVERIFY(error.damaged());
    }
}

QTEST_GUILESS_MAIN(tst_HistoryQuery)
#include "tst_HistoryQuery.moc"
