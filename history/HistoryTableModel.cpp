#include "history/HistoryTableModel.h"

#include "history/HistoryReader.h"

#include <QLocale>

const QString HistoryTableModel::Placeholder = QStringLiteral("\u2026");

HistoryTableModel::HistoryTableModel(HistoryReader &reader, QObject *parent)
    : QAbstractTableModel(parent)
    , m_reader(reader)
{
    connect(&reader, &HistoryReader::scanChunk, this, &HistoryTableModel::onChunk);
    connect(&reader, &HistoryReader::scanFinished, this, &HistoryTableModel::onFinished);
    connect(&reader, &HistoryReader::scanFailed, this, &HistoryTableModel::onFailed);
    connect(&reader, &HistoryReader::rowsFetched, this, &HistoryTableModel::onRows);
}

void HistoryTableModel::startScan(const HistoryFilter &filter, const QDateTime &now)
{
    beginResetModel();
    m_keys = QVector<qint64>();
    m_blocks.clear();
    m_requested.clear();
    m_running = true;
    m_scan = m_reader.startScan(filter, now);
    endResetModel();
}

void HistoryTableModel::onChunk(quint64 scan, const QVector<qint64> &keys, const QList<HistoryRow> &rows)
{
    if (scan != m_scan || keys.isEmpty())
        return;
    const int first = int(m_keys.size());
    beginInsertRows(QModelIndex(), first, first + int(keys.size()) - 1);
    m_keys.append(keys);
    endInsertRows();
    // The rows that came along (the newest ones) fill their blocks at once.
    for (qsizetype at = 0; at < rows.size();) {
        const int row = first + int(at);
        const int block = row / BlockRows;
        const qsizetype take = qMin<qsizetype>(rows.size() - at, (block + 1) * BlockRows - row);
        if (row % BlockRows == 0)
            storeBlock(block, rows.mid(at, take));
        at += take;
    }
    if (!rows.isEmpty())
        emit rowsLoaded(first, first + int(rows.size()) - 1);
    emit scanProgress(m_keys.size());
}

void HistoryTableModel::onFinished(quint64 scan, const HistorySummary &summary)
{
    if (scan != m_scan)
        return;
    m_running = false;
    emit scanFinished(summary);
}

void HistoryTableModel::onFailed(quint64 scan, const QString &reason, bool damaged)
{
    if (scan != m_scan)
        return;
    m_running = false;
    emit scanFailed(reason, damaged);
}

void HistoryTableModel::onRows(quint64 scan, qint64 firstRow, const QList<HistoryRow> &rows)
{
    if (scan != m_scan || firstRow % BlockRows != 0 || firstRow >= m_keys.size())
        return;
    const int block = int(firstRow / BlockRows);
    m_requested.remove(block);
    storeBlock(block, rows);
    const int last = int(qMin<qint64>(firstRow + rows.size(), m_keys.size())) - 1;
    if (last >= firstRow) {
        emit dataChanged(index(int(firstRow), 0), index(last, ColumnCount - 1), { Qt::DisplayRole });
        emit rowsLoaded(int(firstRow), last);
    }
}

void HistoryTableModel::storeBlock(int block, QList<HistoryRow> rows)
{
    if (m_blocks.size() >= MaxBlocks && !m_blocks.contains(block)) {
        // The block used longest ago makes room.
        auto oldest = m_blocks.begin();
        for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
            if (it->used < oldest->used)
                oldest = it;
        }
        m_blocks.erase(oldest);
    }
    m_blocks.insert(block, Block { std::move(rows), ++m_useCounter });
}

void HistoryTableModel::request(int block) const
{
    if (m_requested.contains(block))
        return;
    m_requested.insert(block);
    const qsizetype first = qsizetype(block) * BlockRows;
    m_reader.fetchRows(m_scan, first, m_keys.mid(first, BlockRows));
}

const HistoryRow *HistoryTableModel::loadedRow(int row) const
{
    if (row < 0 || row >= m_keys.size())
        return nullptr;
    const int block = row / BlockRows;
    const auto it = m_blocks.find(block);
    if (it != m_blocks.end() && row - block * BlockRows < it->rows.size()) {
        it->used = ++m_useCounter;
        return &it->rows[row - block * BlockRows];
    }
    request(block);
    return nullptr;
}

int HistoryTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_keys.size());
}

int HistoryTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString HistoryTableModel::timeText(const QDateTime &time)
{
    return QLocale().toString(time.date(), QLocale::ShortFormat) + u' ' + time.toString(QStringLiteral("HH:mm:ss"));
}

QVariant HistoryTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    const HistoryRow *row = loadedRow(index.row());
    if (!row)
        return index.column() == TimeColumn ? Placeholder : QString();
    QString text;
    switch (index.column()) {
    case TimeColumn:
        return row->time.isValid() ? timeText(row->time) : QString();
    case IpColumn:
        text = row->address;
        break;
    case CountryColumn:
        text = row->country;
        break;
    case PageColumn:
        text = row->page;
        break;
    case TlsColumn:
        return row->tls ? QStringLiteral("TLS") : QString();
    case KindColumn:
        return row->kind == VisitKind::Visit ? QString() : HistoryRow::kindText(row->kind);
    case AgentColumn:
        text = row->agent;
        break;
    default:
        return {};
    }
    return text.size() > DisplayLimit ? text.left(DisplayLimit) : text;
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case IpColumn:
        return QStringLiteral("IP");
    case CountryColumn:
        return QStringLiteral("Country");
    case PageColumn:
        return QStringLiteral("Page");
    case TlsColumn:
        return QStringLiteral("TLS");
    case KindColumn:
        return QStringLiteral("Kind");
    case AgentColumn:
        return QStringLiteral("User agent");
    default:
        return {};
    }
}
