#include "core/Clock.h"

#include <QElapsedTimer>

#include <limits>

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

QTime SystemClock::currentTime() const
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    thread_local qint64 convertedSecond = std::numeric_limits<qint64>::min();
    thread_local QTime secondStart;
    if (second != convertedSecond) {
        secondStart = QDateTime::fromMSecsSinceEpoch(second * 1000).time();
        convertedSecond = second;
    }
    return secondStart.addMSecs(int(ms - second * 1000));
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
