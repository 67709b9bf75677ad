#include "capture/EventLogLines.h"

EventLogLines::EventLogLines(const Clock &clock, int maxLines, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_maxLines(qMax(1, maxLines))
{ }

void EventLogLines::PutLog(const QString &eventtxt)
{
    const QString line = eventLogLine(m_clock.currentTime(), eventtxt);
    if (m_keep) {
        // The look of a line matters only to a view of it.
        m_format = EventLogFormat::forEntry(eventtxt, m_format);
        m_waiting.push_back({ line, m_format });
        m_waitingChars += line.size() + 1; // and its line end
        // What would drop off the top of the view at once.
        while (qsizetype(m_waiting.size()) > m_maxLines || (m_waitingChars > MaxChars && m_waiting.size() > 1))
            (void)takeFirst();
    }
    ++m_lines;
    emit lineAdded(line);
}

EventLogLines::Line EventLogLines::takeFirst()
{
    Line first = std::move(m_waiting.front());
    m_waiting.pop_front();
    m_waitingChars -= first.text.size() + 1;
    return first;
}

void EventLogLines::clear()
{
    m_waiting.clear();
    m_waitingChars = 0;
    m_lines = 0;
    m_format = EventLogFormat();
    emit cleared();
}

void EventLogLines::setKeepLines(bool keep)
{
    m_keep = keep;
    if (!keep) {
        m_waiting.clear();
        m_waitingChars = 0;
    }
}
