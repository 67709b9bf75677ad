#include "history/HistoryWriter.h"

#include "history/HistorySchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The texts a dictionary remembers the ids of: a site's pages and recent visitors, but never more
// than 4 MiB of text, whatever pages visitors send.
constexpr qsizetype MaxCachedTexts = 20000;
constexpr qsizetype MaxCachedChars = 2 * 1024 * 1024;
constexpr qsizetype GrowCacheAt = 1024;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Creates the folder (0700) and an empty file (0600) when they are missing, so the history is
// never readable by other users; SQLite gives its side files the same permissions. Returns the
// reason when that fails.
QString createPrivateFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        // Parents first, each private to the user.
        QString missing;
        for (const QString &part : folder.split(u'/', Qt::SkipEmptyParts)) {
            missing += u'/' + part;
            const QByteArray p = QFile::encodeName(missing);
            if (::mkdir(p.constData(), 0700) != 0 && errno != EEXIST)
                return QStringLiteral("cannot create the folder ") + folder + QStringLiteral(": ") + systemError(errno);
        }
        if (!QFileInfo(folder).isDir())
            return QStringLiteral("cannot create the folder ") + folder + QStringLiteral(": ") + systemError(ENOTDIR);
    }
    // The folder must be the user's own and private: another user's (or a link to one) would
    // receive the history and its journal files.
    struct stat dir = {};
    if (::lstat(QFile::encodeName(folder).constData(), &dir) != 0 || !S_ISDIR(dir.st_mode))
        return QStringLiteral("the folder ") + folder + QStringLiteral(" is not a folder of its own");
    if (dir.st_uid != ::geteuid())
        return QStringLiteral("the folder ") + folder + QStringLiteral(" belongs to another user");
    if ((dir.st_mode & 077) != 0)
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    if (info.exists())
        return {};
    const QByteArray path = QFile::encodeName(fileName);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno != EEXIST)
        return QStringLiteral("cannot create ") + fileName + QStringLiteral(": ") + systemError(errno);
    if (fd >= 0)
        ::close(fd);
    return {};
}

QString describe(const SqliteError &error, const QString &fileName)
{
    return error.message() + QStringLiteral(" (") + fileName + u')';
}

// A failure to create the file, reported in our own words.
class CreateError final : public std::runtime_error
{
public:
    explicit CreateError(const QString &reason)
        : std::runtime_error("create")
        , text(reason)
    { }
    QString text;
};
} // namespace

HistoryWriter::HistoryWriter(const QString &fileName)
    : m_fileName(fileName)
{ }

HistoryWriter::~HistoryWriter()
{
    close();
}

void HistoryWriter::close()
{
    for (SqliteStatement *statement : { &m_pages.find, &m_pages.insert, &m_pages.touch, &m_addresses.find,
             &m_addresses.insert, &m_addresses.touch, &m_insertVisit, &m_findCountry, &m_insertCountry, &m_lastKeyIn })
        *statement = SqliteStatement();
    forgetCaches();
    m_db.close();
}

void HistoryWriter::forgetCaches()
{
    m_pages.cache.clear();
    m_pages.cacheChars = 0;
    m_addresses.cache.clear();
    m_addresses.cacheChars = 0;
    m_agents.cache.clear();
    m_agents.cacheChars = 0;
    m_hosts.cache.clear();
    m_hosts.cacheChars = 0;
    m_countries.clear();
}

void HistoryWriter::setMaxPageCount(qint64 pages)
{
    m_maxPageCount = pages;
    close();
}

void HistoryWriter::openFile()
{
    if (m_db.isOpen())
        return;
    const QString reason = createPrivateFile(m_fileName);
    if (!reason.isEmpty())
        throw CreateError(reason);
    // A link (or anything but a file) in the history's place is set aside like a damaged file.
    struct stat file = {};
    if (::lstat(QFile::encodeName(m_fileName).constData(), &file) == 0 && !S_ISREG(file.st_mode))
        throw SqliteError::damagedFile(S_ISLNK(file.st_mode) ? QStringLiteral("it is a link to another file")
                                                             : QStringLiteral("it is not a file"));
    try {
        m_db.open(m_fileName, SqliteDatabase::Mode::ReadWrite);
        HistorySchema::prepareForWriting(m_db);
        if (!m_checked) {
            // Once a run, before anything is written: damage in the middle of the file would
            // otherwise only show when the history window reads there.
            quickCheck();
            m_checked = true;
        }
        HistorySchema::createTables(m_db);
        if (m_maxPageCount > 0)
            m_db.exec(QByteArray("PRAGMA max_page_count=" + QByteArray::number(m_maxPageCount)).constData());
        for (Dictionary *d : { &m_pages, &m_addresses, &m_agents, &m_hosts }) {
            const QByteArray table(d->table);
            d->find = m_db.prepare(QByteArray("SELECT id, last FROM " + table + " WHERE text=?1").constData());
            d->insert = m_db.prepare(
                QByteArray("INSERT OR IGNORE INTO " + table + "(text, last) VALUES(?1, ?2)").constData());
            d->touch = m_db.prepare(QByteArray("UPDATE " + table + " SET last=?2 WHERE id=?1").constData());
        }
        m_insertVisit = m_db.prepare("INSERT INTO visits(key, address, country, page, tls, kind, agent, relay, host) "
                                     "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
        m_findCountry = m_db.prepare("SELECT id FROM countries WHERE text=?1");
        m_insertCountry = m_db.prepare("INSERT INTO countries(text) VALUES(?1)");
        m_lastKeyIn = m_db.prepare("SELECT max(key) FROM visits WHERE key BETWEEN ?1 AND ?2");
        m_lastKey = m_db.scalar("SELECT ifnull(max(key), 0) FROM visits");
    } catch (...) {
        close();
        throw;
    }
}

QString HistoryWriter::moveAside(const QDate &today)
{
    close();
    const QString base = m_fileName + QStringLiteral(".damaged-") + today.toString(Qt::ISODate);
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + u'-' + QString::number(n);
    if (!QFile::rename(m_fileName, target))
        return {};
    // The write-ahead log belongs to the damaged file; the shared-memory index is rebuilt.
    if (QFileInfo::exists(m_fileName + QStringLiteral("-wal")))
        QFile::rename(m_fileName + QStringLiteral("-wal"), target + QStringLiteral("-wal"));
    QFile::remove(m_fileName + QStringLiteral("-shm"));
    return target;
}

template <typename Work> HistoryWriter::Outcome HistoryWriter::transaction(Work work, const QDate &today)
{
    Outcome outcome;
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            openFile();
            m_db.exec("BEGIN IMMEDIATE");
            try {
                work();
                m_db.exec("COMMIT");
            } catch (...) {
                try {
                    m_db.exec("ROLLBACK");
                } catch (const SqliteError &) { }
                // Texts cached during the failed transaction may name rows that never came to be.
                forgetCaches();
                m_lastKey = 0;
                throw;
            }
            outcome.ok = true; // a note about a damaged file moved aside stays in `failure`
            return outcome;
        } catch (const CreateError &error) {
            outcome.ok = false;
            outcome.failure = error.text;
            return outcome;
        } catch (const SqliteError &error) {
            outcome.ok = false;
            outcome.failure = describe(error, m_fileName);
            if (!error.damaged() || attempt > 0) {
                if (attempt > 0)
                    outcome.failure = describe(error, m_fileName);
                close();
                return outcome;
            }
            const QString target = moveAside(today);
            if (target.isEmpty())
                return outcome;
            outcome.movedAside = target;
            outcome.failure = QStringLiteral("the file was damaged (") + error.message()
                + QStringLiteral("); it was kept as ") + QFileInfo(target).fileName()
                + QStringLiteral(" and a new history was started");
            // ...and the work runs once more on the new file.
        }
    }
    return outcome;
}

HistoryWriter::Outcome HistoryWriter::write(const std::vector<HistoryVisit> &visits, const QDate &today)
{
    if (visits.empty())
        return {};
    return transaction(
        [&] {
            for (const HistoryVisit &visit : visits) {
                const qint64 page = idFor(m_pages, HistorySchema::cleanText(visit.page), visit.timeMs);
                const qint64 address = idFor(m_addresses, HistorySchema::cleanText(visit.address), visit.timeMs);
                const qint64 country = countryId(HistorySchema::cleanText(visit.country));
                const qint64 agent
                    = visit.agent.isEmpty() ? 0 : idFor(m_agents, HistorySchema::cleanText(visit.agent), visit.timeMs);
                const qint64 host
                    = visit.host.isEmpty() ? 0 : idFor(m_hosts, HistorySchema::cleanText(visit.host), visit.timeMs);
                m_insertVisit.bind(1, nextKey(visit.timeMs))
                    .bind(2, address)
                    .bind(3, country)
                    .bind(4, page)
                    .bind(5, visit.tls ? 1 : 0)
                    .bind(6, qint64(visit.kind))
                    .bind(7, agent)
                    .bind(9, host);
                if (visit.relayId.isEmpty())
                    m_insertVisit.bindNull(8);
                else
                    m_insertVisit.bind(8, visit.relayId);
                m_insertVisit.run();
                m_insertVisit.reset();
            }
        },
        today);
}

HistoryWriter::Outcome HistoryWriter::writeMeta(const char *name, qint64 value, const QDate &today)
{
    return transaction(
        [&] {
            SqliteStatement set = m_db.prepare("INSERT OR REPLACE INTO meta(name, value) VALUES(?1, ?2)");
            set.bind(1, QString::fromLatin1(name)).bind(2, value).run();
        },
        today);
}

qint64 HistoryWriter::idFor(Dictionary &d, const QString &text, qint64 timeMs)
{
    if (d.cache.size() >= MaxCachedTexts || d.cacheChars >= MaxCachedChars) {
        d.cache.clear();
        d.cacheChars = 0;
    }
    // A dictionary that fills (a busy site's pages) gets its whole room at once: growing step by
    // step would hash every long text again at each step.
    if (d.cache.size() == GrowCacheAt)
        d.cache.reserve(MaxCachedTexts);
    // One look into the cache: a text not in it gets its entry now (id 0), filled in below. Should
    // the transaction fail, the caches are forgotten (transaction()).
    Entry &entry = d.cache[text];
    if (entry.id != 0) {
        if (timeMs - entry.last > HistorySchema::LastSlackMs) {
            d.touch.bind(1, entry.id).bind(2, timeMs).run();
            d.touch.reset();
            entry.last = timeMs;
        }
        return entry.id;
    }
    d.cacheChars += text.size();
    // Most texts not in the cache are new (a page's first visit): inserting first costs one look
    // into the text index instead of two; a text the file already holds is then looked up.
    d.insert.bind(1, text).bind(2, timeMs).run();
    d.insert.reset();
    if (m_db.changes() == 1) {
        entry = { qint64(m_db.lastInsertRowId()), timeMs };
        return entry.id;
    }
    d.find.bind(1, text);
    const bool found = d.find.step();
    if (found)
        entry = { d.find.int64(0), d.find.int64(1) };
    d.find.reset();
    if (!found) {
        d.cache.remove(text);
        d.cacheChars -= text.size();
        return 0;
    }
    if (timeMs > entry.last) {
        d.touch.bind(1, entry.id).bind(2, timeMs).run();
        d.touch.reset();
        entry.last = timeMs;
    }
    return entry.id;
}

qint64 HistoryWriter::countryId(const QString &name)
{
    const auto cached = m_countries.constFind(name);
    if (cached != m_countries.constEnd())
        return *cached;
    qint64 id = 0;
    m_findCountry.bind(1, name);
    if (m_findCountry.step()) {
        id = m_findCountry.int64(0);
        m_findCountry.reset();
    } else {
        m_findCountry.reset();
        m_insertCountry.bind(1, name).run();
        m_insertCountry.reset();
        id = m_db.lastInsertRowId();
    }
    if (m_countries.size() >= MaxCachedTexts)
        m_countries.clear();
    m_countries.insert(name, id);
    return id;
}

qint64 HistoryWriter::nextKey(qint64 timeMs)
{
    qint64 key = HistorySchema::firstKeyAt(timeMs);
    if (HistorySchema::timeOfKey(m_lastKey) <= timeMs) {
        // Time goes forward (the usual case): after the last key. A burst of more than 1024 visits
        // in one millisecond spills into the next one and still sorts in its order.
        key = qMax(key, m_lastKey + 1);
    } else {
        // The clock went back: the first free key from that moment on.
        for (;;) {
            m_lastKeyIn.bind(1, key).bind(2, key + HistorySchema::KeysPerMs - 1);
            const bool taken = m_lastKeyIn.step() && !m_lastKeyIn.isNull(0);
            const qint64 last = taken ? m_lastKeyIn.int64(0) : 0;
            m_lastKeyIn.reset();
            if (!taken)
                break;
            key = last + 1;
        }
    }
    m_lastKey = qMax(m_lastKey, key);
    return key;
}

HistoryWriter::Outcome HistoryWriter::prune(
    qint64 cutoffMs, qint64 nowMs, int maxRows, const QDate &today, bool *finished)
{
    *finished = false;
    Outcome outcome = transaction(
        [&] {
            SqliteStatement remove = m_db.prepare(
                "DELETE FROM visits WHERE key IN (SELECT key FROM visits WHERE key < ?1 ORDER BY key LIMIT ?2)");
            remove.bind(1, HistorySchema::firstKeyAt(cutoffMs)).bind(2, maxRows).run();
            if (m_db.changes() >= maxRows)
                return;
            // No visit before the cutoff is left: texts that no visit can refer to go too.
            const qint64 before = cutoffMs - 2 * HistorySchema::LastSlackMs;
            for (const char *sql : { "DELETE FROM pages WHERE last < ?1", "DELETE FROM addresses WHERE last < ?1",
                     "DELETE FROM agents WHERE last < ?1", "DELETE FROM hosts WHERE last < ?1" }) {
                SqliteStatement statement = m_db.prepare(sql);
                statement.bind(1, before).run();
            }
            SqliteStatement note = m_db.prepare("INSERT OR REPLACE INTO meta(name, value) VALUES('lastPrune', ?1)");
            note.bind(1, nowMs).run();
            *finished = true;
        },
        today);
    if (*finished)
        forgetCaches();
    if (!outcome.ok)
        *finished = false;
    return outcome;
}

void HistoryWriter::quickCheck()
{
    SqliteStatement check = m_db.prepare("PRAGMA quick_check(1)");
    const QString verdict = check.step() ? check.text(0) : QString();
    if (verdict != u"ok")
        throw SqliteError::damagedFile(verdict);
}

HistoryWriter::Outcome HistoryWriter::checkIntegrity(const QDate &today)
{
    // A fresh connection: the pages this one has in its cache are not read from the file again.
    close();
    return transaction([this] { quickCheck(); }, today);
}

qint64 HistoryWriter::lastPruneMs(const QDate &today)
{
    qint64 value = -1;
    const Outcome outcome = transaction(
        [&] {
            SqliteStatement query = m_db.prepare("SELECT value FROM meta WHERE name='lastPrune'");
            value = query.step() ? query.int64(0) : 0;
        },
        today);
    return outcome.ok ? value : -1;
}
