#pragma once

#include "history/HistoryQuery.h"

#include <QObject>

#include <atomic>
#include <memory>

class QThread;

// Runs the history window's queries off the user-interface thread. Scans (the visits of a range,
// the chart and the top lists) run on one thread, row fetches on a second one, so the table fills
// while a long scan is still running; each thread reads through a connection of its own. A new
// scan cancels the one running. Exports run on the thread pool with a connection of their own.
//
// Results come back as signals on the user-interface thread, tagged with the scan's number;
// results of an earlier scan may still arrive after a new one started, and the receiver drops
// them by that number.
class HistoryReader final : public QObject
{
    Q_OBJECT
public:
    explicit HistoryReader(const QString &fileName, QObject *parent = nullptr);
    // Cancels what runs and waits for the threads.
    ~HistoryReader() override;

    QString fileName() const { return m_fileName; }

    // Starts a scan and returns its number; now: the local moment the range is measured at.
    quint64 startScan(const HistoryFilter &filter, const QDateTime &now);
    quint64 currentScan() const { return m_scan.load(); }
    // Fetches the rows of keys (starting at row firstRow of scan) on the rows thread.
    void fetchRows(quint64 scan, qint64 firstRow, const QVector<qint64> &keys);
    // Writes the rows of keys to a CSV file on the thread pool.
    void exportCsv(const QVector<qint64> &keys, const QString &fileName);
    // The file was replaced (moved aside after damage): both connections open it afresh.
    void reopen();

signals:
    // The next keys of a scan, newest first (the first chunk comes with its rows).
    void scanChunk(quint64 scan, const QVector<qint64> &keys, const QList<HistoryRow> &rows);
    void scanFinished(quint64 scan, const HistorySummary &summary);
    // damaged: the file is not a usable database.
    void scanFailed(quint64 scan, const QString &reason, bool damaged);
    void rowsFetched(quint64 scan, qint64 firstRow, const QList<HistoryRow> &rows);
    // error: empty on success.
    void exportFinished(const QString &fileName, const QString &error);

private:
    QString m_fileName;
    std::atomic<quint64> m_scan { 0 };
    QThread *m_scanThread;
    QThread *m_rowsThread;
    QObject *m_scanContext; // lives on m_scanThread
    QObject *m_rowsContext; // lives on m_rowsThread
    std::shared_ptr<HistoryQuery> m_scanQuery; // used on m_scanThread only
    std::shared_ptr<HistoryQuery> m_rowsQuery; // used on m_rowsThread only
    std::shared_ptr<std::atomic<bool>> m_alive;
};
