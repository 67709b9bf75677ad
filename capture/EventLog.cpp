#include "capture/EventLog.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

EventLog::EventLog(EventLogLines &lines, QPlainTextEdit *view, QObject *parent)
    : QObject(parent)
    , m_lines(lines)
    , m_view(view)
{
    attach();
}

EventLog::EventLog(QPlainTextEdit *view, const Clock &clock, QObject *parent, int maxLines)
    : QObject(parent)
    , m_ownLines(std::make_unique<EventLogLines>(clock, maxLines))
    , m_lines(*m_ownLines)
    , m_view(view)
{
    attach();
}

EventLog::~EventLog() = default;

void EventLog::attach()
{
    m_view->setMaximumBlockCount(m_lines.maxLines());
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_view->installEventFilter(this);
    m_lines.setKeepLines(true);
    connect(&m_lines, &EventLogLines::lineAdded, this, [this](const QString &line) {
        // While nobody can see the log (the window sits in the tray), lines wait and go into the
        // document when it is shown; a burst of lines costs one layout pass per turn of the event
        // loop.
        if (m_view->isVisible())
            scheduleFlush();
        emit lineAdded(line);
    });
    connect(&m_lines, &EventLogLines::cleared, this, &EventLog::onCleared);
    if (!m_lines.waiting().empty())
        scheduleFlush();
}

bool EventLog::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && event->type() == QEvent::Show && !m_lines.waiting().empty())
        scheduleFlush();
    return QObject::eventFilter(watched, event);
}

void EventLog::scheduleFlush()
{
    if (m_flushPending)
        return;
    m_flushPending = true;
    QTimer::singleShot(0, this, [this] {
        m_flushPending = false;
        flush(MaxLinesPerTurn);
        if (!m_lines.waiting().empty() && m_view->isVisible())
            scheduleFlush();
    });
}

void EventLog::flush(qsizetype maxLines)
{
    const std::deque<EventLogLines::Line> &pending = m_lines.waiting();
    if (pending.empty())
        return;
    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    const qsizetype count
        = maxLines < 0 ? qsizetype(pending.size()) : qMin<qsizetype>(maxLines, qsizetype(pending.size()));
    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    QTextCharFormat format;
    for (qsizetype i = 0; i < count; ++i) {
        const EventLogLines::Line entry = m_lines.takeFirst();
        if (entry.format.colour)
            format.setForeground(QColor::fromRgb(*entry.format.colour));
        else
            format.setForeground(m_view->palette().text());
        format.setFontWeight(entry.format.bold ? QFont::Bold : QFont::Normal);
        if (m_inDocument > 0)
            cursor.insertBlock();
        cursor.insertText(entry.text, format);
        ++m_inDocument;
        // The text and its block's end.
        m_blockChars.push_back(entry.text.size() + 1);
        m_documentChars += entry.text.size() + 1;
    }
    cursor.endEditBlock();
    // The document drops its first blocks itself beyond its block count; beyond the text bound
    // they go here, a hundredth of the bound at a time, so not every line costs a removal.
    while (qsizetype(m_blockChars.size()) > m_view->maximumBlockCount()) {
        m_documentChars -= m_blockChars.front();
        m_blockChars.pop_front();
    }
    if (m_documentChars > EventLogLines::MaxChars && m_blockChars.size() > 1) {
        int blocks = 0;
        while (m_documentChars > EventLogLines::MaxChars - EventLogLines::MaxChars / 100
            && qsizetype(m_blockChars.size()) > 1) {
            m_documentChars -= m_blockChars.front();
            m_blockChars.pop_front();
            ++blocks;
        }
        QTextCursor top(m_view->document());
        top.movePosition(QTextCursor::Start);
        top.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, blocks);
        top.removeSelectedText();
        m_inDocument -= blocks;
    }
    // Follow the newest line unless the user has scrolled back to read.
    if (atBottom)
        bar->setValue(bar->maximum());
}

void EventLog::onCleared()
{
    m_view->clear();
    m_inDocument = 0;
    m_blockChars.clear();
    m_documentChars = 0;
}
