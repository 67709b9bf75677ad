#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "history/HistoryQuery.h"
#include "history/HistorySchema.h"
#include "history/HistoryStore.h"
#include "history/Sqlite.h"
#include "tests/mock/ManualClock.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

class tst_HistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void visitsSurviveARestart();
    void visitsOfOneMillisecondKeepTheirOrder();
    void textsAreCleanedAndBounded();
    void keepHistoryOff();
    void unwritableFolder_data();
    void unwritableFolder();
    void fullDisk();
    void damagedFile_data();
    void damagedFile();
    void damageFoundByTheWindow();
    void linkInThePlaceOfTheFile();
    void retentionPrunes();
    void retentionZeroKeepsEverything();

private:
    static void corruptMiddle(const QString &file);
    std::unique_ptr<HistoryStore> makeStore(const QString &file);
    void record(HistoryStore &store, const QString &address, const QString &page, qint64 ageMs = 0);
    QList<HistoryRow> stored(const QString &file);
    QStringList faultLines() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    ManualClock m_clock { QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)) };
    QStringList m_log;
    QString m_file;
};

void tst_HistoryStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(QStringLiteral("settings.conf")));
    m_log.clear();
    m_file = m_dir->filePath(QStringLiteral("data/vistelle/history.sqlite3"));
}

std::unique_ptr<HistoryStore> tst_HistoryStore::makeStore(const QString &file)
{
    auto store = std::make_unique<HistoryStore>(file, *m_settings, m_clock);
    connect(&Logger::instance(), &Logger::messageAdded, store.get(), [this](const QString &line) { m_log << line; });
    return store;
}

void tst_HistoryStore::record(HistoryStore &store, const QString &address, const QString &page, qint64 ageMs)
{
    store.recordVisit({ m_clock.currentDateTime().addMSecs(-ageMs), address, QStringLiteral("Germany"), page, false });
}

QList<HistoryRow> tst_HistoryStore::stored(const QString &file)
{
    HistoryQuery query(file);
    QVector<qint64> keys;
    query.scan({}, m_clock.currentDateTime(), {}, [&](QVector<qint64> &&chunk) { keys += chunk; });
    return query.rows(keys);
}

void tst_HistoryStore::corruptMiddle(const QString &fileName)
{
    QFile file(fileName);
    QVERIFY(file.size() > 20 * 4096);
    QVERIFY(file.open(QIODevice::ReadWrite));
    file.seek(file.size() / 2 / 4096 * 4096);
    file.write(QByteArray(2 * 4096, '\x5a'));
}

QStringList tst_HistoryStore::faultLines() const
{
    QStringList lines;
    for (const QString &line : m_log) {
        if (line.startsWith(u"History not saved: "))
            lines << line;
    }
    return lines;
}

void tst_HistoryStore::linkInThePlaceOfTheFile()
{
    // history.sqlite3 links to another user's world-writable database.
    const QString theirs = m_dir->filePath(QStringLiteral("theirs/shared.sqlite3"));
    QVERIFY(QDir().mkpath(QFileInfo(theirs).path()));
    QVERIFY(QFile(theirs).open(QIODevice::WriteOnly));
    QFile::setPermissions(theirs, QFile::Permissions(0x6666));
    QVERIFY(QDir().mkpath(QFileInfo(m_file).path()));
    QVERIFY(QFile::link(theirs, m_file));
    auto store = makeStore(m_file);
    record(*store, QStringLiteral("1.2.3.4"), QStringLiteral("http://a.example/"), 0);
    QVERIFY(store->flush());
    QTRY_COMPARE(faultLines().size(), 1);
    // Nothing reached their file or their folder; the link was set aside, a file of our own took
    // its place and holds the visit.
    QCOMPARE(QFileInfo(theirs).size(), 0);
    QCOMPARE(QDir(QFileInfo(theirs).path()).entryList(QDir::Files), QStringList { u"shared.sqlite3"_qs });
    QVERIFY(!QFileInfo(m_file).isSymLink());
    QCOMPARE(stored(m_file).size(), 1);
    QVERIFY2(faultLines().at(0).contains(u"it is a link to another file"_qs), qPrintable(faultLines().at(0)));
}

void tst_HistoryStore::visitsSurviveARestart()
{
    {
        auto store = makeStore(m_file);
        record(*store, QStringLiteral("203.0.113.1"), QStringLiteral("http://site.example/a"));
        m_clock.advance(1000);
        store->recordVisit({ m_clock.currentDateTime(), QStringLiteral("203.0.113.2"), QString(),
            QStringLiteral("http://site.example/b"), true });
        // No flush: the store writes what waits when it ends, as at the program's exit.
    }
    QCOMPARE(QFileInfo(m_file).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
    auto store = makeStore(m_file);
    m_clock.advance(1000);
    record(*store, QStringLiteral("203.0.113.3"), QStringLiteral("http://site.example/a"));
    QVERIFY(store->flush());
    const QList<HistoryRow> rows = stored(m_file);
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[0].address, u"203.0.113.3");
    QCOMPARE(rows[1].address, u"203.0.113.2");
    QCOMPARE(rows[1].country, QString());
    QVERIFY(rows[1].tls);
    QCOMPARE(rows[2].page, u"http://site.example/a");
    QCOMPARE(rows[2].country, u"Germany");
    QVERIFY(!rows[2].tls);
    QCOMPARE(rows[2].time, m_clock.currentDateTime().addMSecs(-2000));
    QVERIFY(faultLines().isEmpty());
}

void tst_HistoryStore::visitsOfOneMillisecondKeepTheirOrder()
{
    auto store = makeStore(m_file);
    for (int i = 0; i < 5; ++i)
        record(*store, QStringLiteral("198.51.100.%1").arg(i), QStringLiteral("p"));
    QVERIFY(store->flush());
    // The clock went back a second: those visits sort by their own time.
    record(*store, QStringLiteral("198.51.100.9"), QStringLiteral("p"), 1000);
    QVERIFY(store->flush());
    // More visits in one millisecond than it has keys.
    for (int i = 0; i < 1100; ++i)
        record(*store, QStringLiteral("192.0.2.%1").arg(i), QStringLiteral("p"), 1000);
    QVERIFY(store->flush());
    const QList<HistoryRow> rows = stored(m_file);
    QCOMPARE(rows.size(), 1106);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(rows[i].address, QStringLiteral("198.51.100.%1").arg(4 - i));
    QCOMPARE(rows[5].address, u"192.0.2.1099");
    QCOMPARE(rows[1104].address, u"192.0.2.0");
    QCOMPARE(rows[1105].address, u"198.51.100.9");
    QVERIFY(faultLines().isEmpty());
}

void tst_HistoryStore::textsAreCleanedAndBounded()
{
    auto store = makeStore(m_file);
    const QString hostile
        = QStringLiteral("http://x.example/\x1b]0;owned\x07\r\nline\u202Eevil") + QString(10000, u'a');
    record(*store, QStringLiteral("203.0.113.7"), hostile);
    QVERIFY(store->flush());
    const QString page = stored(m_file).value(0).page;
    // Cut to 4,096 characters first, then CR LF became one blank.
    QCOMPARE(page.size(), HistorySchema::MaxTextLength - 1);
    QVERIFY2(page.startsWith(QStringLiteral("http://x.example/\uFFFD]0;owned\uFFFD line\uFFFDevil")),
        qPrintable(page.left(40)));
}

void tst_HistoryStore::keepHistoryOff()
{
    auto store = makeStore(m_file);
    m_settings->SaveSetting(QStringLiteral("KeepHistory"), QStringLiteral("0"));
    record(*store, QStringLiteral("203.0.113.1"), QStringLiteral("a"));
    m_settings->SaveSetting(QStringLiteral("KeepHistory"), QStringLiteral("1"));
    record(*store, QStringLiteral("203.0.113.2"), QStringLiteral("b"));
    QVERIFY(store->flush());
    const QList<HistoryRow> rows = stored(m_file);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].page, u"b");
}

void tst_HistoryStore::unwritableFolder_data()
{
    QTest::addColumn<bool>("readOnlyFolder");
    QTest::newRow("a file where the folder should be") << false;
    QTest::newRow("read-only folder") << true;
}

void tst_HistoryStore::unwritableFolder()
{
    QFETCH(bool, readOnlyFolder);
    const QString folder = m_dir->filePath(QStringLiteral("data"));
    if (readOnlyFolder) {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders (the end-to-end test mounts one read-only)");
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
    } else {
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    auto store = makeStore(m_file);
    for (int i = 0; i < 3; ++i)
        record(*store, QStringLiteral("203.0.113.%1").arg(i), QStringLiteral("p"));
    QVERIFY(!store->flush());
    store->retryNow();
    record(*store, QStringLiteral("203.0.113.3"), QStringLiteral("p"));
    QVERIFY(!store->flush());
    QTRY_COMPARE(faultLines().size(), 1);
    QVERIFY2(faultLines().constFirst().contains(u"cannot create"), qPrintable(faultLines().constFirst()));

    // The owner mends the folder: every visit that waited is written.
    if (readOnlyFolder)
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    else
        QVERIFY(QFile::remove(folder));
    store->retryNow();
    QVERIFY(store->flush());
    QCOMPARE(stored(m_file).size(), 4);
    QCOMPARE(store->droppedCount(), 0u);
    QTest::qWait(20); // a late report would show here
    QCOMPARE(faultLines().size(), 1);
}

void tst_HistoryStore::fullDisk()
{
    auto store = makeStore(m_file);
    record(*store, QStringLiteral("203.0.113.1"), QStringLiteral("first"));
    QVERIFY(store->flush());
    store->setMaxPageCount(12);
    for (int i = 0; i < 200; ++i)
        record(*store, QStringLiteral("203.0.113.%1").arg(i),
            QStringLiteral("http://big.example/%1/").arg(i) + QString(3000, u'x'));
    QVERIFY(!store->flush());
    QTRY_COMPARE(faultLines().size(), 1);
    QVERIFY2(faultLines().constFirst().contains(u"full"), qPrintable(faultLines().constFirst()));
    // Room again: the visits that waited are written, nothing is lost.
    store->setMaxPageCount(1000000);
    store->retryNow();
    QVERIFY(store->flush());
    QCOMPARE(stored(m_file).size(), 201);
}

void tst_HistoryStore::damagedFile_data()
{
    QTest::addColumn<bool>("whole");
    QTest::newRow("not a database at all") << true;
    QTest::newRow("pages in the middle overwritten") << false;
}

void tst_HistoryStore::damagedFile()
{
    QFETCH(bool, whole);
    if (whole) {
        QVERIFY(QDir().mkpath(QFileInfo(m_file).path()));
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, '\x5a'));
    } else {
        {
            auto store = makeStore(m_file);
            for (int i = 0; i < 3000; ++i)
                record(*store, QStringLiteral("203.0.113.%1").arg(i % 250),
                    QStringLiteral("http://site.example/%1").arg(i));
        }
        corruptMiddle(m_file);
    }
    const QByteArray damaged = [&] {
        QFile f(m_file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();

    auto store = makeStore(m_file);
    record(*store, QStringLiteral("192.0.2.1"), QStringLiteral("after"));
    QVERIFY(store->flush());
    QTRY_COMPARE(faultLines().size(), 1);
    const QString aside = m_file + QStringLiteral(".damaged-2026-12-07");
    QVERIFY2(faultLines().constFirst().contains(u"history.sqlite3.damaged-2026-12-07"),
        qPrintable(faultLines().constFirst()));
    QFile kept(aside);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), damaged);
    const QList<HistoryRow> rows = stored(m_file);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].page, u"after");
}

void tst_HistoryStore::damageFoundByTheWindow()
{
    {
        auto store = makeStore(m_file);
        for (int i = 0; i < 3000; ++i)
            record(
                *store, QStringLiteral("203.0.113.%1").arg(i % 250), QStringLiteral("http://site.example/%1").arg(i));
    }
    auto store = makeStore(m_file);
    record(*store, QStringLiteral("192.0.2.1"), QStringLiteral("before"));
    QVERIFY(store->flush());
    QSignalSpy replaced(store.get(), &HistoryStore::fileReplaced);
    // Damage appears while the program runs, where the store's writes do not reach.
    corruptMiddle(m_file);
    store->reportDamage();
    QVERIFY(store->flush());
    QTRY_COMPARE(replaced.size(), 1);
    QCOMPARE(faultLines().size(), 1);
    record(*store, QStringLiteral("192.0.2.2"), QStringLiteral("after"));
    QVERIFY(store->flush());
    QCOMPARE(stored(m_file).size(), 1);
}

void tst_HistoryStore::retentionPrunes()
{
    m_settings->SaveSetting(QStringLiteral("HistoryDays"), QStringLiteral("10"));
    auto store = makeStore(m_file);
    const qint64 day = 86400LL * 1000;
    record(*store, QStringLiteral("203.0.113.1"), QStringLiteral("old"), 20 * day);
    record(*store, QStringLiteral("203.0.113.2"), QStringLiteral("recent"), 5 * day);
    QVERIFY(store->flush());
    store->pruneIfDue();
    QVERIFY(store->flush());
    QList<HistoryRow> rows = stored(m_file);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].page, u"recent");

    // At most once a day, also across a restart.
    store.reset();
    store = makeStore(m_file);
    record(*store, QStringLiteral("203.0.113.3"), QStringLiteral("old again"), 20 * day);
    m_clock.advance(23 * 3600 * 1000);
    store->pruneIfDue();
    QVERIFY(store->flush());
    QCOMPARE(stored(m_file).size(), 2);
    m_clock.advance(2 * 3600 * 1000);
    store->pruneIfDue();
    QVERIFY(store->flush());
    rows = stored(m_file);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].page, u"recent");

    // The page and address texts no visit refers to went with them.
    SqliteDatabase db;
    db.open(m_file, SqliteDatabase::Mode::ReadWrite);
    QCOMPARE(db.scalar("SELECT count(*) FROM pages WHERE text LIKE 'old%'"), 0);
    QCOMPARE(db.scalar("SELECT count(*) FROM addresses"), 1);
}

void tst_HistoryStore::retentionZeroKeepsEverything()
{
    m_settings->SaveSetting(QStringLiteral("HistoryDays"), QStringLiteral("0"));
    auto store = makeStore(m_file);
    record(*store, QStringLiteral("203.0.113.1"), QStringLiteral("ancient"), 4000LL * 86400 * 1000);
    QVERIFY(store->flush());
    store->pruneIfDue();
    QVERIFY(store->flush());
    QCOMPARE(stored(m_file).size(), 1);
}

QTEST_GUILESS_MAIN(tst_HistoryStore)
#include "tst_HistoryStore.moc"
