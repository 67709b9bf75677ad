#include "capture/EventLog.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

EventLog::EventLog(QPlainTextEdit *view, const Clock &clock, QObject *parent, int maxLines)
    : QObject(parent)
    , m_view(view)
    , m_clock(clock)
    , m_maxLines(qMax(1, maxLines))
{
    m_view->setMaximumBlockCount(m_maxLines);
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_view->installEventFilter(this);
}

bool EventLog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Show && !m_pending.empty())
        scheduleFlush();
    return QObject::eventFilter(watched, event);
}

void EventLog::PutLog(const QString &eventtxt)
{
    m_format = EventLogFormat::forEntry(eventtxt, m_format);
    const QString line = eventLogLine(m_clock.currentDateTime().time(), eventtxt);
    m_pending.push_back({ line, m_format });
    if (qsizetype(m_pending.size()) > m_maxLines)
        m_pending.pop_front(); // would drop off the top at once
    ++m_lines;
    // While nobody can see the log (the window sits in the tray), lines wait and go into the
    // document when it is shown; a burst of lines costs one layout pass per turn of the event loop.
    if (m_view->isVisible())
        scheduleFlush();
    emit lineAdded(line);
}

void EventLog::scheduleFlush()
{
    if (m_flushPending)
        return;
    m_flushPending = true;
    QTimer::singleShot(0, this, [this] {
        m_flushPending = false;
        flush(MaxLinesPerTurn);
        if (!m_pending.empty() && m_view->isVisible())
            scheduleFlush();
    });
}

void EventLog::flush(qsizetype maxLines)
{
    if (m_pending.empty())
        return;
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    const qsizetype count
        = maxLines < 0 ? qsizetype(m_pending.size()) : qMin<qsizetype>(maxLines, qsizetype(m_pending.size()));
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (qsizetype i = 0; i < count; ++i) {
        const Pending &entry = m_pending.front();
        if (entry.format.colour)
            format.setForeground(QColor::fromRgb(*entry.format.colour));
        else
            format.setForeground(m_view->palette().text());
        format.setFontWeight(entry.format.bold ? QFont::Bold : QFont::Normal);
        if (m_inDocument > 0)
            cursor.insertBlock();
        cursor.insertText(entry.line, format);
        ++m_inDocument;
        m_pending.pop_front();
    }
    cursor.endEditBlock();
    // Follow the newest line unless the user has scrolled back to read.
    if (atBottom)
        bar->setValue(bar->maximum());
}

void EventLog::clear()
{
    m_view->clear();
    m_pending.clear();
    m_lines = 0;
    m_inDocument = 0;
    m_format = EventLogFormat();
}
