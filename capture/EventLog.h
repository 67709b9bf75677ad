#pragma once

#include "capture/EventLogFormat.h"
#include "core/Clock.h"

#include <QObject>

#include <deque>

class QPlainTextEdit;

// The running log of the main window: PutLog time-stamps an entry, colours it by its words and
// appends it as plain text (an entry such as "<b>x</b>" shows those characters). Appending stays
// cheap however long the log grows: each line is one new block at the end of the document, and
// lines reach the document in batches, once per turn of the event loop while the log is shown.
// Like a terminal's scroll-back, the log keeps its newest maxLines lines (those waiting for a
// hidden view included); older ones drop off the top.
class EventLog final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultMaxLines = 100'000;

    EventLog(QPlainTextEdit *view, const Clock &clock = Clock::system(), QObject *parent = nullptr,
        int maxLines = DefaultMaxLines);

    void PutLog(const QString &eventtxt);
    void clear();
    // Puts the lines still waiting into the document now (at most maxLines; -1: all).
    void flush(qsizetype maxLines = -1);

    // Lines logged since the last clear (also those that dropped off the top).
    int lineCount() const { return m_lines; }
    int maxLines() const { return m_maxLines; }
    static constexpr qsizetype MaxLinesPerTurn = 2000;
    EventLogFormat currentFormat() const { return m_format; }

signals:
    // Each line exactly as the log shows it.
    void lineAdded(const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Pending
    {
        QString line;
        EventLogFormat format;
    };
    void scheduleFlush();

    QPlainTextEdit *m_view;
    const Clock &m_clock;
    const int m_maxLines;
    EventLogFormat m_format;
    int m_lines = 0; // lines logged since the last clear
    qsizetype m_inDocument = 0; // of those, lines already in the document
    std::deque<Pending> m_pending;
    bool m_flushPending = false;
};
