#pragma once

#include "capture/EventLogLines.h"

#include <QObject>

#include <deque>
#include <memory>

class QPlainTextEdit;

// The event log's view: shows the lines of an EventLogLines in a QPlainTextEdit, each as plain
// text in its colour and weight (an entry such as "<b>x</b>" shows those characters). Appending
// stays cheap however long the log grows: each line is one new block at the end of the document,
// and lines reach the document in batches, once per turn of the event loop while the log is shown;
// while it is hidden they wait in the EventLogLines. The document keeps the newest maxLines lines.
class EventLog final : public QObject
{
    Q_OBJECT
public:
    static constexpr int DefaultMaxLines = EventLogLines::DefaultMaxLines;
    static constexpr qsizetype MaxLinesPerTurn = 2000;

    // A view of the engine's lines.
    EventLog(EventLogLines &lines, QPlainTextEdit *view, QObject *parent = nullptr);
    // A log of its own (a window without an engine, tests).
    EventLog(QPlainTextEdit *view, const Clock &clock = Clock::system(), QObject *parent = nullptr,
        int maxLines = DefaultMaxLines);
    ~EventLog() override;

    void PutLog(const QString &eventtxt) { m_lines.PutLog(eventtxt); }
    void clear() { m_lines.clear(); }
    // Puts the lines still waiting into the document now (at most maxLines; -1: all).
    void flush(qsizetype maxLines = -1);

    EventLogLines &lines() { return m_lines; }
    int lineCount() const { return m_lines.lineCount(); }
    int maxLines() const { return m_lines.maxLines(); }
    EventLogFormat currentFormat() const { return m_lines.currentFormat(); }

signals:
    // Each line exactly as the log shows it.
    void lineAdded(const QString &line);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void attach();
    void scheduleFlush();
    void onCleared();

    std::unique_ptr<EventLogLines> m_ownLines;
    EventLogLines &m_lines;
    QPlainTextEdit *m_view;
    qsizetype m_inDocument = 0; // lines already in the document
    std::deque<qsizetype> m_blockChars; // the length of each line in the document, oldest first
    qsizetype m_documentChars = 0;
    bool m_flushPending = false;
};
