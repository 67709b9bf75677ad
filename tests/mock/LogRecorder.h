#pragma once

#include "core/LogSink.h"

#include <QObject>
#include <QStringList>

// Records every line written to the event log (LogMsg) while it lives, as the engine receives them.
class LogRecorder final : public QObject
{
public:
    LogRecorder()
    {
        Logger::instance().takeWaiting();
        connect(&Logger::instance(), &Logger::messageAdded, this, [this](const QString &line) { lines << line; });
    }

    QStringList lines;
};
