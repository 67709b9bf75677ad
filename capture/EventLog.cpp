#include "EventLog.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

EventLog::EventLog(QPlainTextEdit *view, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_clock(clock)
{
    m_view->setReadOnly(true);
    m_view->setUndoRedoEnabled(false);
    m_view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
}

void EventLog::PutLog(const QString &eventtxt)
{
    m_format = EventLogFormat::forEntry(eventtxt, m_format);
    const QString line = eventLogLine(m_clock.currentDateTime().time(), eventtxt);

    QTextCharFormat format;
    if (m_format.colour)
        format.setForeground(QColor::fromRgb(*m_format.colour));
    else
        format.setForeground(m_view->palette().text());
    format.setFontWeight(m_format.bold ? QFont::Bold : QFont::Normal);

    QScrollBar *bar = m_view->verticalScrollBar();
    const bool atBottom = bar->value() >= bar->maximum();

    QTextCursor cursor(m_view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (m_lines > 0)
        cursor.insertBlock();
    cursor.insertText(line, format);
    cursor.endEditBlock();
    ++m_lines;

    // Follow the newest line unless the user has scrolled back to read.
    if (atBottom)
        bar->setValue(bar->maximum());
    emit lineAdded(line);
}

void EventLog::clear()
{
    m_view->clear();
    m_lines = 0;
    m_format = EventLogFormat();
}
