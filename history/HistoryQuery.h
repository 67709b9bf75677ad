#pragma once

#include "capture/VisitKind.h"
#include "history/HistoryRange.h"
#include "history/Sqlite.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

// One stored visit as the history window shows it.
struct HistoryRow
{
    qint64 key = 0;
    QDateTime time;
    QString address;
    QString country;
    QString page;
    bool tls = false;
    VisitKind kind = VisitKind::Visit;
    QString agent; // the User-Agent (empty: none sent)

    // "visit", "own visit", "crawler"
    static QString kindText(VisitKind kind);
};

// A text of the top lists and its number of visits.
struct HistoryCount
{
    QString text;
    qint64 count = 0;
    bool operator==(const HistoryCount &) const = default;
};

// What the history window asks for: a span of time, a filter text (the page, the address or the
// country contains it, letter case of A to Z ignored) and a kind of visit (none: every kind).
struct HistoryFilter
{
    HistoryRange range;
    QString text;
    std::optional<VisitKind> kind;
};

// The totals of a scan.
struct HistorySummary
{
    qint64 total = 0;
    HistoryBuckets buckets;
    QList<qint64> perBucket; // visits per bucket
    QList<HistoryCount> topPages; // most visited first, at most TopCount
    QList<HistoryCount> topCountries;
};

// Reads the history file on one thread (each reading thread has its own HistoryQuery and thus its
// own connection; SQLite's write-ahead log lets them read while the store writes). The file is
// opened at the first use and again after a failure; it is never created here.
class HistoryQuery final
{
public:
    static constexpr int TopCount = 10;
    static constexpr int FirstChunk = 200;

    explicit HistoryQuery(const QString &fileName);

    // The visits of the filter, newest first: their keys arrive in chunks through onChunk (the
    // first after FirstChunk keys, then about every 100 ms), then the totals are returned.
    // `cancelled` is asked as the scan goes; a cancelled scan throws SqliteError (interrupted).
    // Throws SqliteError when the file cannot be read; a missing file is an empty history.
    HistorySummary scan(const HistoryFilter &filter, const QDateTime &now, const std::function<bool()> &cancelled,
        const std::function<void(QVector<qint64> &&)> &onChunk);

    // The rows of these keys, in the same order (a key no longer stored gives an empty row with
    // that key). Throws SqliteError.
    QList<HistoryRow> rows(const QVector<qint64> &keys);

    // Writes the rows of these keys to a CSV file (RFC 4180, UTF-8): a header line, then one line
    // per visit. The file is replaced only when it was written completely. Returns the error
    // text, empty on success.
    QString exportCsv(const QVector<qint64> &keys, const QString &fileName, const std::function<bool()> &cancelled);

    // Closes the file (it is opened again at the next use).
    void close();

private:
    void open();
    // The text of an id of a text table (query: its look-up by id), remembered in cache.
    QString textOf(SqliteStatement &query, qint64 id, QHash<qint64, QString> &cache);

    QString m_fileName;
    SqliteDatabase m_db;
    SqliteStatement m_rowByKey;
    SqliteStatement m_pageText, m_addressText, m_countryText, m_agentText;
    QHash<qint64, QString> m_pages, m_addresses, m_countries, m_agents;
    bool m_hasKinds = false; // a file of version 2 or later
};

namespace HistoryCsv {
// A field as RFC 4180 wants it: quoted when it holds a comma, a double quote, CR or LF (quotes
// doubled). A text that a spreadsheet would take for a formula (starting with =, +, -, @, tab or
// CR) gets a leading apostrophe first.
QString field(const QString &text);
// The fields joined by commas, ended by CR LF.
QString line(const QStringList &fields);
} // namespace HistoryCsv
