#include "capture/VisitorListModel.h"

#include "capture/LineReader.h"
#include "core/PlainText.h"

#include <QFile>
#include <QLocale>
#include <QSaveFile>

#include <limits>
#include <optional>
#include <utility>

namespace {

bool looksLikeFormula(const QString &cell)
{
    if (cell.isEmpty())
        return false;
    const QChar c = cell.front();
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r' || c == u'\'';
}

// A field in double quotes from position at: its text, and the position after the closing
// quote; none when the quotes do not close.
std::optional<std::pair<QByteArray, qsizetype>> quotedField(QByteArrayView line, qsizetype at)
{
    QByteArray text;
    qsizetype i = at + 1;
    for (;;) {
        const qsizetype quote = line.indexOf('"', i);
        if (quote < 0)
            return std::nullopt;
        text += line.sliced(i, quote - i);
        if (quote + 1 < line.size() && line.at(quote + 1) == '"') {
            text += '"';
            i = quote + 2;
            continue;
        }
        return std::make_pair(std::move(text), quote + 1);
    }
}

// Splits one line of a list file into its three fields; false when it holds fewer than three.
bool splitFileLine(QByteArrayView line, QByteArray (&fields)[3])
{
    qsizetype at = 0;
    for (int f = 0; f < 2; ++f) {
        if (at < line.size() && line.at(at) == '"') {
            const auto quoted = quotedField(line, at);
            if (quoted && quoted->second < line.size() && line.at(quoted->second) == ',') {
                fields[f] = quoted->first;
                at = quoted->second + 1;
                continue;
            }
        }
        const qsizetype comma = line.indexOf(',', at);
        if (comma < 0)
            return false;
        fields[f] = line.sliced(at, comma - at).toByteArray();
        at = comma + 1;
    }
    const QByteArrayView rest = line.sliced(at);
    if (rest.startsWith('"')) {
        const auto quoted = quotedField(rest, 0);
        if (quoted && quoted->second == rest.size()) {
            fields[2] = quoted->first;
            return true;
        }
    }
    fields[2] = rest.toByteArray(); // unquoted: the rest of the line, commas and all
    return true;
}

QString cellFromFile(const QByteArray &field)
{
    QString text = QString::fromUtf8(field);
    if (text.startsWith(u'\''))
        text.remove(0, 1);
    return PlainText::cut(text, PlainText::MaxPageChars);
}

} // namespace

QByteArray VisitorListModel::fileField(const QString &cell)
{
    QByteArray field = ((looksLikeFormula(cell) ? QStringLiteral("'") : QString()) + cell).toUtf8();
    if (field.contains(',') || field.contains('"'))
        field = '"' + field.replace("\"", "\"\"") + '"';
    return field;
}

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
    // Formatting by the locale is slow, and a burst of visits shares its second: the text of the
    // last second is kept (for the locale it was made in).
    struct Last
    {
        qint64 second = std::numeric_limits<qint64>::min();
        QLocale locale;
        QString text;
    };
    thread_local Last last;
    // The second as the text shows it (its date and time of day, which is all the short format
    // shows), found without time-zone rules.
    const qint64 second = when.date().toJulianDay() * 86400 + when.time().msecsSinceStartOfDay() / 1000;
    const QLocale locale;
    if (second != last.second || locale != last.locale) {
        last.second = second;
        last.locale = locale;
        last.text = locale.toString(when, QLocale::ShortFormat);
    }
    return last.text;
}

QString VisitorListModel::cellText(int row, int column) const
{
    const Row &r = m_rows.at(row);
    switch (column) {
    case TimeColumn:
        return r.time.isValid() ? timeText(r.time) : r.timeText;
    case IpColumn:
        switch (r.kind) {
        case VisitKind::Own:
            return r.ip + QStringLiteral(" (own visit)");
        case VisitKind::Crawler:
            return r.ip + QStringLiteral(" (crawler)");
        case VisitKind::Relayed:
            return r.ip + QStringLiteral(" (relayed)");
        case VisitKind::Visit:
            break;
        }
        return r.ip;
    case UrlColumn:
        return r.page;
    default:
        return {};
    }
}

VisitorListModel::Counted VisitorListModel::addVisit(
    const QDateTime &when, const QString &ip, const QString &page, VisitKind kind)
{
    if (m_newestRowOnly && !m_rows.isEmpty()) {
        m_rows.first() = Row { when, QString(), cellValue(ip), cellValue(page), kind };
        m_chars = charsOf(m_rows.constFirst());
        emit dataChanged(index(0, 0), index(0, ColumnCount - 1));
    } else {
        const int at = int(m_rows.size());
        beginInsertRows(QModelIndex(), at, at);
        m_rows.append(Row { when, QString(), cellValue(ip), sharedPage(cellValue(page)), kind });
        m_chars += charsOf(m_rows.constLast());
        endInsertRows();
    }
    Counted counted;
    if (kind == VisitKind::Own) {
        ++m_ownVisits;
    } else {
        ++m_requests;
        counted = count(m_rows.constLast().ip, m_rows.constLast().page);
    }
    dropOldest(TrimStep - 1);
    return counted;
}

void VisitorListModel::setNewestRowOnly(bool only)
{
    m_newestRowOnly = only;
    if (!only || m_rows.size() <= 1)
        return;
    beginRemoveRows(QModelIndex(), 0, int(m_rows.size()) - 2);
    m_rows.remove(0, m_rows.size() - 1);
    m_chars = charsOf(m_rows.constFirst());
    m_recentPages.clear();
    endRemoveRows();
}

QString VisitorListModel::sharedPage(const QString &page)
{
    // Long pages are rarely seen twice; keeping them here would hold their text after their rows.
    if (page.size() > MaxSharedPageChars)
        return page;
    if (m_recentPages.size() >= MaxSharedPages)
        m_recentPages.clear();
    // Its whole room at once: growing step by step would hash every page again at each step.
    if (m_recentPages.capacity() < MaxSharedPages)
        m_recentPages.reserve(MaxSharedPages);
    // The text already kept when there is one (an insert keeps it), else this one.
    return *m_recentPages.insert(page);
}

void VisitorListModel::dropOldest(qsizetype slack)
{
    qsizetype excess = m_rows.size() - MaxRows;
    if (excess <= slack)
        excess = 0;
    if (m_chars > MaxChars) {
        qsizetype chars = m_chars;
        qsizetype oldest = 0;
        while (oldest < m_rows.size() - 1 && chars > MaxChars - MaxChars / 100)
            chars -= charsOf(m_rows.at(oldest++));
        excess = qMax(excess, oldest);
    }
    if (excess <= 0)
        return;
    beginRemoveRows(QModelIndex(), 0, int(excess) - 1);
    for (qsizetype i = 0; i < excess; ++i)
        m_chars -= charsOf(m_rows.at(i));
    m_rows.remove(0, excess);
    endRemoveRows();
}

void VisitorListModel::appendRows(const QList<Row> &rows)
{
    appendRows(rows, 0, rows.size());
}

void VisitorListModel::appendRows(const QList<Row> &rows, qsizetype from, qsizetype count)
{
    from = qBound<qsizetype>(0, from, rows.size());
    count = qBound<qsizetype>(0, count, rows.size() - from);
    if (count == 0)
        return;
    // Rows that would leave the list at once are only counted.
    const qsizetype skipped = qMax<qsizetype>(0, count - MaxRows);
    m_requests += skipped;
    from += skipped;
    count -= skipped;
    const int first = int(m_rows.size());
    beginInsertRows(QModelIndex(), first, first + int(count) - 1);
    for (qsizetype i = from; i < from + count; ++i) {
        const Row &r = rows.at(i);
        m_rows.append(Row { r.time, cellValue(r.timeText), cellValue(r.ip), sharedPage(cellValue(r.page)) });
        m_chars += charsOf(m_rows.constLast());
    }
    endInsertRows();
    m_requests += count;
    dropOldest();
    if (m_newestRowOnly)
        setNewestRowOnly(true);
}

VisitorListModel::Counted VisitorListModel::appendAndCount(const QList<Row> &rows, qsizetype from, qsizetype count)
{
    from = qBound<qsizetype>(0, from, rows.size());
    count = qBound<qsizetype>(0, count, rows.size() - from);
    Counted any;
    for (qsizetype i = from; i < from + count; ++i) {
        const Counted counted = this->count(cellValue(rows.at(i).ip), cellValue(rows.at(i).page));
        any.newAddress = any.newAddress || counted.newAddress;
        any.newPage = any.newPage || counted.newPage;
    }
    appendRows(rows, from, count);
    return any;
}

VisitorListModel::Counted VisitorListModel::count(const QString &ip, const QString &page)
{
    Counted counted;
    counted.newAddress = m_list1.insert(ip);
    counted.newPage = m_list2.insert(page);
    return counted;
}

void VisitorListModel::setAddressText(int row, const QString &text)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_chars -= m_rows.at(row).ip.size();
    m_rows[row].ip = cellValue(text);
    m_chars += m_rows.at(row).ip.size();
    const QModelIndex cell = index(row, IpColumn);
    emit dataChanged(cell, cell, { Qt::DisplayRole });
}

void VisitorListModel::clear()
{
    beginResetModel();
    m_rows.clear();
    m_chars = 0;
    m_recentPages.clear();
    endResetModel();
    m_requests = 0;
    m_ownVisits = 0;
    m_list1.clear();
    m_list2.clear();
}

bool VisitorListModel::saveToFile(const QString &fileName) const
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Visitor addresses are personal data: the file is its owner's alone, also when it replaces
    // one that others could read.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QByteArray chunk = QByteArrayLiteral("\"Date\",\"IP\",\"Page\"\r\n");
    for (int i = 0; i < m_rows.size(); ++i) {
        chunk += fileField(cellText(i, TimeColumn));
        chunk += ',';
        chunk += fileField(cellText(i, IpColumn).trimmed());
        chunk += ',';
        chunk += fileField(cellText(i, UrlColumn));
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
        QByteArray fields[3];
        if (!splitFileLine(line, fields))
            return result; // fewer than two commas: the reading stops here
        if (result.rows.size() >= limits.maxRows)
            return result;
        Row row;
        row.timeText = cellFromFile(fields[0]);
        row.ip = cellFromFile(fields[1]).trimmed();
        row.page = cellFromFile(fields[2]);
        result.rows.append(std::move(row));
    }
}
