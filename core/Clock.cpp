#include "core/Clock.h"

#include <QElapsedTimer>

void Clock::settleTimeZone()
{
    if (qEnvironmentVariableIsSet("TZ"))
        return;
    qputenv("TZ", ":/etc/localtime");
}

const Clock &Clock::system()
{
    static const SystemClock clock;
    return clock;
}

QDateTime SystemClock::currentDateTime() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::currentMSecsSinceEpoch() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 SystemClock::monotonicMs() const
{
    static QElapsedTimer timer = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}
