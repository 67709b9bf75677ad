#include "core/LogSink.h"

#include <QMetaMethod>

Logger &Logger::instance()
{
    static Logger logger;
    return logger;
}

void Logger::addMessage(const QString &text)
{
    if (isSignalConnected(QMetaMethod::fromSignal(&Logger::messageAdded))) {
        emit messageAdded(text);
        return;
    }
    const std::lock_guard lock(m_mutex);
    m_waiting << text;
    if (m_waiting.size() > MaxWaiting)
        m_waiting.removeFirst();
}

QStringList Logger::takeWaiting()
{
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_waiting, {});
}

void LogMsg(const QString &text)
{
    Logger::instance().addMessage(text);
}
