#pragma once

#include "Clock.h"
#include "EventLogFormat.h"

#include <QObject>

class QPlainTextEdit;

// The running log of the main window: PutLog time-stamps an entry, colours it by its words and
// appends it as plain text (an entry such as "<b>x</b>" shows those characters). Appending stays
// cheap however long the log grows: each line is one new block at the end of the document.
class EventLog final : public QObject
{
    Q_OBJECT
public:
    EventLog(QPlainTextEdit *view, const Clock &clock = Clock::system(), QObject *parent = nullptr);

    void PutLog(const QString &eventtxt);
    void clear();

    int lineCount() const { return m_lines; }
    EventLogFormat currentFormat() const { return m_format; }

signals:
    // Each line exactly as the log shows it.
    void lineAdded(const QString &line);

private:
    QPlainTextEdit *m_view;
    const Clock &m_clock;
    EventLogFormat m_format;
    int m_lines = 0;
};
