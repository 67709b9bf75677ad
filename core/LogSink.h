#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <mutex>

// The event log as every class below the windows sees it: LogMsg(text) from any thread. The
// program's engine is the one receiver: it time-stamps, colours and keeps the line (and the
// headless console prints it). Lines logged on the user-interface thread reach the receiver at
// once, in order; lines from other threads are queued to it. Lines logged while nobody receives
// (the settings file read before the engine exists) wait for the first receiver, the newest
// MaxWaiting of them.
class Logger final : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype MaxWaiting = 100;

    static Logger &instance();

    void addMessage(const QString &text);
    // The lines that waited for a receiver, oldest first; the receiver takes them once it listens.
    QStringList takeWaiting();

signals:
    void messageAdded(const QString &text);

private:
    Logger() = default;

    std::mutex m_mutex;
    QStringList m_waiting;
};

// One line for the event log.
void LogMsg(const QString &text);
