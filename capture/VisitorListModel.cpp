#include "capture/VisitorListModel.h"

#include "capture/LineReader.h"
#include "core/PlainText.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

VisitorListModel::VisitorListModel(QObject *parent)
    : QAbstractTableModel(parent)
{ }

int VisitorListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int VisitorListModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VisitorListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() || index.column() >= ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return cellText(index.row(), index.column());
    return {};
}

QVariant VisitorListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case TimeColumn:
        return QStringLiteral("Time");
    case IpColumn:
        return QStringLiteral("IP");
    case UrlColumn:
        return QStringLiteral("URL");
    default:
        return {};
    }
}

Qt::ItemFlags VisitorListModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QString VisitorListModel::cellValue(const QString &text)
{
    return PlainText::page(text);
}

QString VisitorListModel::timeText(const QDateTime &when)
{
    return QLocale().toString(when, QLocale::ShortFormat);
}

QString VisitorListModel::cellText(int row, int column) const
{
    const Row &r = m_rows.at(row);
    switch (column) {
    case TimeColumn:
        return r.time.isValid() ? timeText(r.time) : r.timeText;
    case IpColumn:
        return r.ip;
    case UrlColumn:
        return r.page;
    default:
        return {};
    }
}

VisitorListModel::Counted VisitorListModel::addVisit(const QDateTime &when, const QString &ip, const QString &page)
{
    const int at = int(m_rows.size());
    beginInsertRows(QModelIndex(), at, at);
    m_rows.append(Row { when, QString(), cellValue(ip), cellValue(page) });
    endInsertRows();
    const Row &added = m_rows.constLast();
    return count(added.ip, added.page);
}

void VisitorListModel::appendRows(const QList<Row> &rows)
{
    if (rows.isEmpty())
        return;
    const int first = int(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + int(rows.size()) - 1);
    m_rows.reserve(m_rows.size() + rows.size());
    for (const Row &r : rows)
        m_rows.append(Row { r.time, cellValue(r.timeText), cellValue(r.ip), cellValue(r.page) });
    endInsertRows();
}

VisitorListModel::Counted VisitorListModel::count(const QString &ip, const QString &page)
{
    Counted counted;
    if (!m_set1.contains(ip)) {
        m_set1.insert(ip);
        m_list1.append(ip);
        counted.newAddress = true;
    }
    if (!m_set2.contains(page)) {
        m_set2.insert(page);
        m_list2.append(page);
        counted.newPage = true;
    }
    return counted;
}

void VisitorListModel::setAddressText(int row, const QString &text)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].ip = cellValue(text);
    const QModelIndex cell = index(row, IpColumn);
    emit dataChanged(cell, cell, { Qt::DisplayRole });
}

void VisitorListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    endResetModel();
    m_list1.clear();
    m_list2.clear();
    m_set1.clear();
    m_set2.clear();
}

bool VisitorListModel::saveToFile(const QString &fileName) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray chunk = QByteArrayLiteral("\"Date\",\"IP\",\"Page\"\r\n");
    for (int i = 0; i < m_rows.size(); ++i) {
        chunk += cellValue(cellText(i, TimeColumn)).toUtf8();
        chunk += ',';
        chunk += cellValue(cellText(i, IpColumn)).toUtf8();
        chunk += ',';
        chunk += cellValue(cellText(i, UrlColumn)).toUtf8();
        chunk += "\r\n";
        if (chunk.size() > (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    if (file.write(chunk) != chunk.size())
        return false;
    return file.commit();
}

VisitorListModel::ReadResult VisitorListModel::readFile(const QString &fileName, const VisitorListLimits &limits)
{
    ReadResult result;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    result.opened = true;
    LineReader reader(file, limits.maxLineBytes, limits.maxFileBytes, 256 * 1024);
    QByteArrayView line;
    LineReader::Status status = reader.next(line); // line 1, whatever it holds
    if (status != LineReader::Status::Line) {
        result.complete = status == LineReader::Status::End;
        return result;
    }
    for (;;) {
        status = reader.next(line);
        if (status != LineReader::Status::Line) {
            result.complete = status == LineReader::Status::End;
            return result;
        }
        const qsizetype first = line.indexOf(',');
        const qsizetype second = first < 0 ? -1 : line.indexOf(',', first + 1);
        if (second < 0)
            return result; // fewer than two commas: the reading stops here
        if (result.rows.size() >= limits.maxRows)
            return result;
        Row row;
        row.timeText = QString::fromUtf8(line.first(first));
        row.ip = QString::fromUtf8(line.sliced(first + 1, second - first - 1));
        row.page = QString::fromUtf8(line.sliced(second + 1));
        result.rows.append(std::move(row));
    }
}
