#pragma once

#include "capture/EventLogFormat.h"
#include "core/Clock.h"

#include <QObject>

#include <deque>

// The event log's lines, without a view: PutLog time-stamps an entry, chooses its colour and
// weight by its words and keeps the line (made plain) until a view takes it. Like a terminal's
// scroll-back, at most maxLines lines and MaxChars characters wait; older ones drop off the top. A run without a view
// (headless) keeps none: every line is only announced by lineAdded.
class EventLogLines final : public QObject
{
    Q_OBJECT
public:
    // A terminal's scroll-back: the history keeps every visit; the log's lines cost memory.
    static constexpr int DefaultMaxLines = 25'000;
    // The text a log keeps at most (waiting here, and in a view's document): 16 MiB, so visits
    // with long pages cannot fill the memory through the log.
    static constexpr qsizetype MaxChars = 8 * 1024 * 1024;

    struct Line
    {
        QString text;
        EventLogFormat format;
    };

    explicit EventLogLines(
        const Clock &clock = Clock::system(), int maxLines = DefaultMaxLines, QObject *parent = nullptr);

    void PutLog(const QString &eventtxt);
    // Empties the log: the waiting lines go, the view empties its document.
    void clear();

    // false: lines are announced but not kept for a view.
    void setKeepLines(bool keep);
    bool keepsLines() const { return m_keep; }

    // The lines waiting for the view, oldest first; the view takes those it shows.
    const std::deque<Line> &waiting() const { return m_waiting; }
    Line takeFirst();

    // Lines logged since the last clear (also those that dropped off the top).
    int lineCount() const { return m_lines; }
    int maxLines() const { return m_maxLines; }
    EventLogFormat currentFormat() const { return m_format; }

signals:
    // Each line exactly as the log shows it.
    void lineAdded(const QString &line);
    void cleared();

private:
    const Clock &m_clock;
    const int m_maxLines;
    EventLogFormat m_format;
    int m_lines = 0;
    bool m_keep = true;
    std::deque<Line> m_waiting;
    qsizetype m_waitingChars = 0;
};
