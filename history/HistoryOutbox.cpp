#include "history/HistoryOutbox.h"

#include "capture/VisitKind.h"
#include "history/HistorySchema.h"

#include <QFileInfo>

HistoryOutbox::HistoryOutbox(QString fileName)
    : m_fileName(std::move(fileName))
{ }

bool HistoryOutbox::open()
{
    if (m_db.isOpen())
        return true;
    if (!QFileInfo(m_fileName).isFile())
        return false;
    try {
        m_db.open(m_fileName, SqliteDatabase::Mode::ReadWrite);
        HistorySchema::prepareForReading(m_db);
        if (m_db.scalar("PRAGMA user_version") < 3) {
            m_db.close();
            return false;
        }
        m_after = m_db.prepare("SELECT v.key, a.text, ifnull(c.text, ''), p.text, v.tls, ifnull(h.text, '')"
                               " FROM visits v JOIN addresses a ON a.id=v.address JOIN pages p ON p.id=v.page"
                               " LEFT JOIN countries c ON c.id=v.country LEFT JOIN hosts h ON h.id=v.host"
                               " WHERE v.key>?1 AND v.kind=?2 ORDER BY v.key LIMIT ?3");
        return true;
    } catch (const SqliteError &) {
        m_after = {};
        m_db.close();
        return false;
    }
}

qint64 HistoryOutbox::publishedKey()
{
    if (!open())
        return QFileInfo::exists(m_fileName) ? -1 : 0;
    try {
        return m_db.scalar("SELECT ifnull(max(value), 0) FROM meta WHERE name='relayPublished'");
    } catch (const SqliteError &) {
        m_after = {};
        m_db.close();
        return -1;
    }
}

std::vector<HistoryOutbox::Visit> HistoryOutbox::visitsAfter(qint64 key, int limit)
{
    std::vector<Visit> visits;
    if (!open())
        return visits;
    try {
        m_after.bind(1, key).bind(2, qint64(VisitKind::Visit)).bind(3, qint64(limit));
        while (m_after.step()) {
            Visit visit;
            visit.key = m_after.int64(0);
            visit.timeMs = HistorySchema::timeOfKey(visit.key);
            visit.address = m_after.text(1);
            visit.country = m_after.text(2);
            visit.page = m_after.text(3);
            visit.tls = m_after.int64(4) != 0;
            visit.host = m_after.text(5);
            visits.push_back(std::move(visit));
        }
        m_after.reset();
    } catch (const SqliteError &) {
        m_after = {};
        m_db.close();
    }
    return visits;
}

QStringList HistoryOutbox::relayIdsSince(qint64 sinceMs)
{
    QStringList ids;
    if (!open())
        return ids;
    try {
        SqliteStatement select = m_db.prepare("SELECT relay FROM visits WHERE key>=?1 AND relay IS NOT NULL");
        select.bind(1, HistorySchema::firstKeyAt(sinceMs));
        while (select.step())
            ids.append(select.text(0));
    } catch (const SqliteError &) {
        m_after = {};
        m_db.close();
    }
    return ids;
}
