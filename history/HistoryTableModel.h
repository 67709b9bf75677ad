#pragma once

#include "history/HistoryQuery.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>

class HistoryReader;

// The visits of a scan for a table view, newest first, loaded lazily: the model holds the keys of
// all visits of the scan (8 bytes each) and the rows of at most MaxBlocks blocks of BlockRows
// rows; a row that is not loaded shows a placeholder while its block is fetched on the reader's
// rows thread. A million visits thus scroll without ever being in memory at once.
class HistoryTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        TimeColumn = 0,
        IpColumn,
        CountryColumn,
        PageColumn,
        TlsColumn,
        KindColumn,
        AgentColumn,
        ColumnCount
    };
    static constexpr int BlockRows = 256;
    static constexpr int MaxBlocks = 64;
    static constexpr int DisplayLimit = 1024; // characters of a cell the view shows
    static const QString Placeholder;

    explicit HistoryTableModel(HistoryReader &reader, QObject *parent = nullptr);

    // Empties the model and starts a scan of the filter.
    void startScan(const HistoryFilter &filter, const QDateTime &now);
    bool scanRunning() const { return m_running; }
    const QVector<qint64> &keys() const { return m_keys; }
    // The row if it is loaded, else null (and its block is requested).
    const HistoryRow *loadedRow(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    static QString timeText(const QDateTime &time);

signals:
    // More visits of the running scan are known.
    void scanProgress(qint64 visits);
    void scanFinished(const HistorySummary &summary);
    void scanFailed(const QString &reason, bool damaged);
    // Rows became visible with their data (tests wait for it).
    void rowsLoaded(int first, int last);

private:
    struct Block
    {
        QList<HistoryRow> rows;
        quint64 used = 0;
    };
    void onChunk(quint64 scan, const QVector<qint64> &keys, const QList<HistoryRow> &rows);
    void onFinished(quint64 scan, const HistorySummary &summary);
    void onFailed(quint64 scan, const QString &reason, bool damaged);
    void onRows(quint64 scan, qint64 firstRow, const QList<HistoryRow> &rows);
    void storeBlock(int block, QList<HistoryRow> rows);
    void request(int block) const;

    HistoryReader &m_reader;
    quint64 m_scan = 0;
    bool m_running = false;
    QVector<qint64> m_keys;
    mutable QHash<int, Block> m_blocks;
    mutable QSet<int> m_requested;
    mutable quint64 m_useCounter = 0;
};
