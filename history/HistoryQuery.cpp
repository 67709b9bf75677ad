#include "history/HistoryQuery.h"

#include "history/HistorySchema.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <vector>

namespace {
constexpr qsizetype MaxCachedTexts = 50000;
constexpr qint64 ChunkIntervalMs = 100;

QString likePattern(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 2);
    escaped += u'%';
    for (QChar c : text) {
        if (c == u'%' || c == u'_' || c == u'\\')
            escaped += u'\\';
        escaped += c;
    }
    escaped += u'%';
    return escaped;
}

// The ids of a text table whose text contains the filter, as a bit per id.
std::vector<bool> matchingIds(SqliteDatabase &db, const char *table, const QString &pattern)
{
    std::vector<bool> bits;
    SqliteStatement query
        = db.prepare(QByteArray(QByteArray("SELECT id FROM ") + table + " WHERE text LIKE ?1 ESCAPE '\\'").constData());
    query.bind(1, pattern);
    while (query.step()) {
        const qint64 id = query.int64(0);
        if (id < 0 || id > (qint64(1) << 32))
            continue;
        if (std::size_t(id) >= bits.size())
            bits.resize(std::size_t(id) + 1 + bits.size() / 2);
        bits[std::size_t(id)] = true;
    }
    return bits;
}

bool has(const std::vector<bool> &bits, qint64 id)
{
    return id >= 0 && std::size_t(id) < bits.size() && bits[std::size_t(id)];
}

// The most counted ids, most first (ties: the smaller id first).
QList<std::pair<qint64, qint64>> top(const std::vector<quint32> &counts, int n)
{
    QList<std::pair<qint64, qint64>> best; // count, id
    for (std::size_t id = 0; id < counts.size(); ++id) {
        if (counts[id] == 0)
            continue;
        if (best.size() == n && counts[id] <= best.back().first)
            continue;
        const std::pair<qint64, qint64> entry { counts[id], qint64(id) };
        const auto at = std::lower_bound(best.begin(), best.end(), entry, [](const auto &a, const auto &b) {
            return a.first > b.first || (a.first == b.first && a.second < b.second);
        });
        best.insert(at, entry);
        if (best.size() > n)
            best.removeLast();
    }
    return best;
}

std::size_t tableSize(SqliteDatabase &db, const char *sql)
{
    const qint64 max = db.scalar(sql);
    return std::size_t(qBound<qint64>(0, max, qint64(1) << 31)) + 1;
}
} // namespace

QString HistoryRow::kindText(VisitKind kind)
{
    switch (kind) {
    case VisitKind::Own:
        return QStringLiteral("own visit");
    case VisitKind::Crawler:
        return QStringLiteral("crawler");
    case VisitKind::Relayed:
        return QStringLiteral("relayed");
    case VisitKind::Visit:
        break;
    }
    return QStringLiteral("visit");
}

HistoryQuery::HistoryQuery(const QString &fileName)
    : m_fileName(fileName)
{ }

void HistoryQuery::close()
{
    for (SqliteStatement *statement : { &m_rowByKey, &m_pageText, &m_addressText, &m_countryText, &m_agentText })
        *statement = SqliteStatement();
    m_pages.clear();
    m_agents.clear();
    m_addresses.clear();
    m_countries.clear();
    m_db.close();
}

void HistoryQuery::open()
{
    if (m_db.isOpen())
        return;
    try {
        m_db.open(m_fileName, SqliteDatabase::Mode::ReadWrite);
        HistorySchema::prepareForReading(m_db);
        // A file the store has not yet brought to version 2 has no kinds and User-Agents.
        m_hasKinds = m_db.scalar("PRAGMA user_version") >= 2;
        m_rowByKey
            = m_db.prepare(m_hasKinds ? "SELECT address, country, page, tls, kind, agent FROM visits WHERE key=?1"
                                      : "SELECT address, country, page, tls, 0, 0 FROM visits WHERE key=?1");
        if (m_hasKinds)
            m_agentText = m_db.prepare("SELECT text FROM agents WHERE id=?1");
        m_pageText = m_db.prepare("SELECT text FROM pages WHERE id=?1");
        m_addressText = m_db.prepare("SELECT text FROM addresses WHERE id=?1");
        m_countryText = m_db.prepare("SELECT text FROM countries WHERE id=?1");
    } catch (...) {
        close();
        throw;
    }
}

HistorySummary HistoryQuery::scan(const HistoryFilter &filter, const QDateTime &now,
    const std::function<bool()> &cancelled, const std::function<void(QVector<qint64> &&)> &onChunk)
{
    if (!m_db.isOpen() && !QFileInfo::exists(m_fileName)) {
        // Nothing stored yet: an empty history (the file is the store's to create).
        HistorySummary empty;
        empty.buckets = HistoryBuckets::forRange(filter.range, now.toMSecsSinceEpoch(), now);
        empty.perBucket.fill(0, empty.buckets.startsMs.size());
        onChunk({});
        return empty;
    }
    open();
    m_db.setCancelTest(cancelled);
    struct ClearCancelTest
    {
        SqliteDatabase &db;
        ~ClearCancelTest() { db.setCancelTest({}); }
    } clearCancelTest { m_db };

    HistorySummary summary;
    qint64 firstMs = filter.range.fromMs;
    if (firstMs <= 0) {
        SqliteStatement oldest = m_db.prepare("SELECT min(key) FROM visits");
        firstMs
            = oldest.step() && !oldest.isNull(0) ? HistorySchema::timeOfKey(oldest.int64(0)) : now.toMSecsSinceEpoch();
    }
    summary.buckets = HistoryBuckets::forRange(filter.range, firstMs, now);
    const QList<qint64> &starts = summary.buckets.startsMs;
    summary.perBucket.fill(0, starts.size());

    const bool filtered = !filter.text.isEmpty();
    std::vector<bool> pageMatch, addressMatch, countryMatch;
    if (filtered) {
        const QString pattern = likePattern(filter.text);
        pageMatch = matchingIds(m_db, "pages", pattern);
        addressMatch = matchingIds(m_db, "addresses", pattern);
        countryMatch = matchingIds(m_db, "countries", pattern);
    }
    std::vector<quint32> pageCounts(tableSize(m_db, "SELECT max(id) FROM pages"));
    std::vector<quint32> countryCounts(tableSize(m_db, "SELECT max(id) FROM countries"));

    SqliteStatement visits = m_db.prepare(m_hasKinds
            ? "SELECT key, address, country, page, kind FROM visits WHERE key >= ?1 AND key < ?2 ORDER BY key DESC"
            : "SELECT key, address, country, page, 0 FROM visits WHERE key >= ?1 AND key < ?2 ORDER BY key DESC");
    const qint64 kind = filter.kind ? qint64(*filter.kind) : -1;
    visits.bind(1, HistorySchema::firstKeyAt(filter.range.fromMs))
        .bind(2, HistorySchema::firstKeyAt(filter.range.toMs));
    QVector<qint64> chunk;
    chunk.reserve(FirstChunk);
    bool firstSent = false;
    QElapsedTimer sinceChunk;
    sinceChunk.start();
    qsizetype bucket = starts.size() - 1;
    qint64 steps = 0;
    while (visits.step()) {
        ++steps;
        const qint64 key = visits.int64(0);
        const qint64 page = visits.int64(3);
        const qint64 country = visits.int64(2);
        if (filtered && !has(pageMatch, page) && !has(countryMatch, country) && !has(addressMatch, visits.int64(1)))
            continue;
        if (kind >= 0 && visits.int64(4) != kind)
            continue;
        ++summary.total;
        chunk.append(key);
        const qint64 ms = HistorySchema::timeOfKey(key);
        while (bucket > 0 && ms < starts[bucket])
            --bucket;
        if (bucket >= 0 && ms >= starts[bucket])
            ++summary.perBucket[bucket];
        if (page >= 0 && std::size_t(page) < pageCounts.size())
            ++pageCounts[std::size_t(page)];
        if (country >= 0 && std::size_t(country) < countryCounts.size())
            ++countryCounts[std::size_t(country)];
        if (!firstSent ? chunk.size() >= FirstChunk : (steps % 4096 == 0 && sinceChunk.elapsed() >= ChunkIntervalMs)) {
            onChunk(std::move(chunk));
            chunk = QVector<qint64>();
            firstSent = true;
            sinceChunk.restart();
        }
    }
    if (!chunk.isEmpty() || !firstSent)
        onChunk(std::move(chunk));

    for (const auto &[count, id] : top(pageCounts, TopCount))
        summary.topPages.append({ textOf(m_pageText, id, m_pages), count });
    for (const auto &[count, id] : top(countryCounts, TopCount))
        summary.topCountries.append({ textOf(m_countryText, id, m_countries), count });
    return summary;
}

QString HistoryQuery::textOf(SqliteStatement &query, qint64 id, QHash<qint64, QString> &cache)
{
    const auto cached = cache.constFind(id);
    if (cached != cache.constEnd())
        return *cached;
    query.bind(1, id);
    const QString text = query.step() ? query.text(0) : QString();
    query.reset();
    if (cache.size() >= MaxCachedTexts)
        cache.clear();
    cache.insert(id, text);
    return text;
}

QList<HistoryRow> HistoryQuery::rows(const QVector<qint64> &keys)
{
    if (keys.isEmpty())
        return {};
    open();
    QList<HistoryRow> result;
    result.reserve(keys.size());
    for (qint64 key : keys) {
        HistoryRow row;
        row.key = key;
        m_rowByKey.bind(1, key);
        if (m_rowByKey.step()) {
            const qint64 address = m_rowByKey.int64(0);
            const qint64 country = m_rowByKey.int64(1);
            const qint64 page = m_rowByKey.int64(2);
            row.tls = m_rowByKey.int64(3) != 0;
            const qint64 kind = m_rowByKey.int64(4);
            row.kind = kind == qint64(VisitKind::Own) ? VisitKind::Own
                : kind == qint64(VisitKind::Crawler)  ? VisitKind::Crawler
                : kind == qint64(VisitKind::Relayed)  ? VisitKind::Relayed
                                                      : VisitKind::Visit;
            const qint64 agent = m_rowByKey.int64(5);
            m_rowByKey.reset();
            row.time = QDateTime::fromMSecsSinceEpoch(HistorySchema::timeOfKey(key));
            row.address = textOf(m_addressText, address, m_addresses);
            row.country = textOf(m_countryText, country, m_countries);
            row.page = textOf(m_pageText, page, m_pages);
            if (agent > 0)
                row.agent = textOf(m_agentText, agent, m_agents);
        } else {
            m_rowByKey.reset();
        }
        result.append(std::move(row));
    }
    return result;
}

QString HistoryQuery::exportCsv(
    const QVector<qint64> &keys, const QString &fileName, const std::function<bool()> &cancelled)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Visitor addresses are personal data: the file is its owner's alone, also when it replaces
    // one that others could read.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QString text = HistoryCsv::line({ QStringLiteral("Time"), QStringLiteral("IP"), QStringLiteral("Country"),
        QStringLiteral("Page"), QStringLiteral("TLS"), QStringLiteral("Kind"), QStringLiteral("User agent") });
    constexpr qsizetype Block = 1000;
    try {
        for (qsizetype first = 0; first < keys.size(); first += Block) {
            if (cancelled && cancelled())
                return QStringLiteral("cancelled");
            const QList<HistoryRow> block = rows(keys.mid(first, Block));
            for (const HistoryRow &row : block) {
                if (!row.time.isValid())
                    continue; // pruned meanwhile
                text += HistoryCsv::line({ row.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), row.address,
                    row.country, row.page, row.tls ? QStringLiteral("yes") : QStringLiteral("no"),
                    HistoryRow::kindText(row.kind), row.agent });
            }
            const QByteArray utf8 = text.toUtf8();
            if (file.write(utf8) != utf8.size())
                return file.errorString();
            text.clear();
        }
    } catch (const SqliteError &error) {
        return error.message();
    }
    const QByteArray utf8 = text.toUtf8();
    if (file.write(utf8) != utf8.size() || !file.commit())
        return file.errorString();
    return {};
}

namespace HistoryCsv {

QString field(const QString &text)
{
    QString value = text;
    if (!value.isEmpty()) {
        const QChar c = value.front();
        if (c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r')
            value.prepend(u'\'');
    }
    if (!value.contains(u',') && !value.contains(u'"') && !value.contains(u'\r') && !value.contains(u'\n'))
        return value;
    value.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return u'"' + value + u'"';
}

QString line(const QStringList &fields)
{
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out += u',';
        out += field(fields[i]);
    }
    out += QStringLiteral("\r\n");
    return out;
}

} // namespace HistoryCsv
