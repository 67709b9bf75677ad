#pragma once

#include "capture/VisitKind.h"
#include "history/Sqlite.h"

#include <QDate>
#include <QHash>
#include <QString>

#include <vector>

// A visit as the history file receives it.
struct HistoryVisit
{
    qint64 timeMs = 0; // milliseconds since the epoch (UTC)
    QString address;
    QString country;
    QString page;
    bool tls = false;
    VisitKind kind = VisitKind::Visit;
    QString agent;
    QString relayId;
    QString host; // the Host header of the request
};

// Writes visits into the history file and prunes old ones. Runs on one thread at a time (the
// history's writing thread; tests call it directly). Opens the file at its first use and again
// after a failure. A damaged file is moved aside as "<name>.damaged-<date>" and a new one is
// started, so the visits still get written.
class HistoryWriter final
{
public:
    struct Outcome
    {
        bool ok = true;
        QString failure; // why nothing was written (for "History not saved: ")
        QString movedAside; // the name a damaged file was given, if that happened
    };

    explicit HistoryWriter(const QString &fileName);
    ~HistoryWriter();

    QString fileName() const { return m_fileName; }

    // Writes the visits in one transaction; all or nothing. `today` dates a damaged file.
    Outcome write(const std::vector<HistoryVisit> &visits, const QDate &today);
    // Sets a number of the meta table (the relay's published key).
    Outcome writeMeta(const char *name, qint64 value, const QDate &today);

    // Deletes up to maxRows visits older than cutoffMs in one transaction. When none are left,
    // removes the pages and addresses no visit refers to any more and notes nowMs as the time of
    // the last pruning. *finished tells whether the pruning is complete.
    Outcome prune(qint64 cutoffMs, qint64 nowMs, int maxRows, const QDate &today, bool *finished);
    // The time of the last complete pruning (0: never); -1 when the file cannot be read.
    qint64 lastPruneMs(const QDate &today);

    // Reads the whole file looking for damage (PRAGMA quick_check); a damaged file is moved
    // aside and a new one started.
    Outcome checkIntegrity(const QDate &today);

    // Test hook: the file may grow to at most this many pages (SQLite then reports a full disk).
    void setMaxPageCount(qint64 pages);
    // Closes the file (it is opened again at the next use).
    void close();

private:
    struct Entry
    {
        qint64 id = 0;
        qint64 last = 0;
    };
    struct Dictionary
    {
        const char *table;
        SqliteStatement find, insert, touch;
        QHash<QString, Entry> cache;
        qsizetype cacheChars = 0; // of the cached texts
    };

    // Runs `work` in a transaction; a damaged file is moved aside and `work` runs once more on a
    // new file.
    template <typename Work> Outcome transaction(Work work, const QDate &today);
    void openFile();
    void quickCheck();
    QString moveAside(const QDate &today);
    qint64 idFor(Dictionary &dictionary, const QString &text, qint64 timeMs);
    qint64 countryId(const QString &name);
    qint64 nextKey(qint64 timeMs);
    void forgetCaches();

    QString m_fileName;
    SqliteDatabase m_db;
    Dictionary m_pages { "pages", {}, {}, {}, {} };
    Dictionary m_addresses { "addresses", {}, {}, {}, {} };
    Dictionary m_agents { "agents", {}, {}, {}, {} };
    Dictionary m_hosts { "hosts", {}, {}, {}, {} };
    QHash<QString, qint64> m_countries;
    SqliteStatement m_insertVisit, m_findCountry, m_insertCountry, m_lastKeyIn;
    qint64 m_lastKey = 0;
    qint64 m_maxPageCount = 0;
    bool m_checked = false; // the file was checked for damage in this run
};
