#pragma once

#include "capture/UniqueTexts.h"
#include "capture/VisitKind.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

// Bounds for reading a visitor list file, which may come from anywhere.
struct VisitorListLimits
{
    qint64 maxFileBytes = qint64(256) << 20; // reading stops after this many bytes
    qsizetype maxLineBytes = 1 << 20; // a longer line ends the reading
    qsizetype maxRows = 2'000'000; // rows read from one file at most
};

// The rows of the visitor list (columns "Time", "IP", "URL") with the three counters behind the
// status panels: the page requests, the distinct visitor addresses (List1) and the distinct pages
// (List2), compared exactly. QtCore/QtGui only; the view and the status panels belong to
// VisitorList.
//
// Memory stays bounded however long the program runs and whatever visitors send: the list keeps
// the newest MaxRows rows holding at most MaxChars characters of text (older ones leave it; the
// history keeps every visit), a page that comes again shares the text of its earlier rows, and
// the distinct addresses and pages are
// remembered as 64-bit hashes (UniqueTexts), not as texts. The counters stay exact over the whole
// run.
//
// A cell holds at most 4,096 characters (PlainText::MaxPageChars) on one line without control
// characters: every text entering the list passes PlainText::page, so a row stays one line on
// screen and in a saved file, every saved file loads back, and no cell carries a visitor's escape
// sequences.
class VisitorListModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { TimeColumn = 0, IpColumn = 1, UrlColumn = 2, ColumnCount = 3 };

    struct Row
    {
        QDateTime time; // rows of visits: shown in the locale's short date-and-time format
        QString timeText; // loaded rows: the text as read (used when time is not valid)
        QString ip;
        QString page;
        VisitKind kind = VisitKind::Visit; // shown after the address: "(own visit)", "(crawler)"
    };

    // What counting a row changed.
    struct Counted
    {
        bool newAddress = false;
        bool newPage = false;
    };

    // A visitor list file as read: the rows of the lines after line 1, and whether the whole file
    // was read (false when a line with fewer than two commas, an over-long line or a limit
    // stopped the reading; the rows before that point are kept).
    struct ReadResult
    {
        bool opened = false;
        bool complete = false;
        QList<Row> rows;
    };

    static constexpr int MaxRows = 100'000;
    // Visits push the oldest rows out in steps of this many (1 % of MaxRows): a view of the list
    // repositions all its rows when the first ones leave, so doing it for every visit would cost a
    // burst thousands of such passes. The list holds at most MaxRows + TrimStep - 1 rows.
    static constexpr int TrimStep = 1'000;
    // 32 MiB of text: 100,000 rows of ordinary visits stay far below it; rows with pages of
    // thousands of characters leave earlier.
    static constexpr qsizetype MaxChars = 16 * 1024 * 1024;

    explicit VisitorListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // A visit: appends its row at the bottom and counts its address and page; the owner's own visit
    // counts as an own visit only. The new row is the last one (rowCount() - 1).
    Counted addVisit(const QDateTime &when, const QString &ip, const QString &page, VisitKind kind = VisitKind::Visit);
    // Without a view (headless) the list keeps its newest row only, for the console's line of it;
    // the counters count every visit as ever.
    void setNewestRowOnly(bool only);
    // Counts an own visit that is not listed.
    void countOwnVisit() { ++m_ownVisits; }
    // Appends rows (loaded rows) without counting their address and page: all, or count rows from
    // index from. They count as page requests.
    void appendRows(const QList<Row> &rows);
    void appendRows(const QList<Row> &rows, qsizetype from, qsizetype count);
    // The same, and counts each row's address and page as stored.
    Counted appendAndCount(const QList<Row> &rows, qsizetype from, qsizetype count);
    // Adds the address to List1 and the page to List2 when they are not in them yet.
    Counted count(const QString &ip, const QString &page);
    // Replaces the address cell of a row (the visit processing appends the country to it).
    void setAddressText(int row, const QString &text);

    // The text of a cell as the view shows it and a saved file holds it.
    QString cellText(int row, int column) const;
    const Row &row(int row) const { return m_rows.at(row); }

    // Rows added since the list was last cleared (visits and loaded rows), including those that
    // have left the list since.
    qint64 requestCount() const { return m_requests; }
    // The owner's own visits, counted apart from the page requests.
    qint64 ownVisitCount() const { return m_ownVisits; }
    // The sizes of List1 and List2, and whether a text is in them.
    qsizetype uniqueAddressCount() const { return m_list1.size(); }
    qsizetype uniquePageCount() const { return m_list2.size(); }
    bool hasAddress(const QString &ip) const { return m_list1.contains(ip); }
    bool hasPage(const QString &page) const { return m_list2.contains(page); }

    // Removes all rows, empties both lists and sets the counters to 0.
    void clear();

    // Writes the list file: line 1 "Date","IP","Page", then one line per row, the three cells
    // (fileField) joined by commas, lines ending with CR LF, UTF-8. The address cell is written
    // without blanks around it. The file is replaced only when it was written completely.
    // Returns false on failure.
    bool saveToFile(const QString &fileName) const;

    // Reads a list file (any thread): line 1 is skipped, every other line gives three cells. A
    // field in double quotes is read as RFC 4180 says (a doubled quote is one quote, commas
    // inside belong to it); otherwise a field ends at the next comma, and the third is the rest
    // of the line, commas and all (files written before fields were quoted). A cell's leading
    // "'" is dropped (see fileField), the address cell is trimmed, and each cell is cut to
    // PlainText::MaxPageChars characters.
    static ReadResult readFile(const QString &fileName, const VisitorListLimits &limits = VisitorListLimits());

    // A cell as a list file holds it. A text that a spreadsheet would take for a formula (one
    // starting with "=", "+", "-", "@", a tab or a carriage return), or one starting with "'",
    // gets a leading "'", which reading drops again. A field holding a comma or a double quote
    // is put in double quotes, its quotes doubled.
    static QByteArray fileField(const QString &cell);

    // A text as a cell keeps it (PlainText::page).
    static QString cellValue(const QString &text);
    // A date and time in the locale's short date-and-time format.
    static QString timeText(const QDateTime &when);

private:
    // The oldest rows leave, down to MaxRows, when there are more than MaxRows + slack; and down
    // to 99 % of MaxChars when the rows' text is over it.
    void dropOldest(qsizetype slack = 0);
    static qsizetype charsOf(const Row &row) { return row.timeText.size() + row.ip.size() + row.page.size(); }
    // The earlier copy of a page when there is one, so that its rows share one text.
    QString sharedPage(const QString &page);

    QList<Row> m_rows;
    qsizetype m_chars = 0; // of all rows
    bool m_newestRowOnly = false;
    QSet<QString> m_recentPages; // the pages of recent rows (at most MaxSharedPages)
    static constexpr qsizetype MaxSharedPages = 4096;
    static constexpr qsizetype MaxSharedPageChars = 1024;
    qint64 m_requests = 0;
    qint64 m_ownVisits = 0;
    UniqueTexts m_list1;
    UniqueTexts m_list2;
};
