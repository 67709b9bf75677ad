#pragma once

#include <QDateTime>

// Source of the current time. Every rule of the program that waits for a span of time (2 s,
// 3 s, 5 s, 60 s, midnight) asks a Clock, so tests can move time by hand.
class Clock
{
public:
    virtual ~Clock() = default;
    // Wall-clock local date and time.
    virtual QDateTime currentDateTime() const = 0;
    // The same instant in milliseconds since 1970 (UTC), without a conversion from local time.
    virtual qint64 currentMSecsSinceEpoch() const { return currentDateTime().toMSecsSinceEpoch(); }
    // The local time of day.
    virtual QTime currentTime() const { return currentDateTime().time(); }
    // Milliseconds on a monotonic scale (differences only).
    virtual qint64 monotonicMs() const = 0;

    // The clock of the running program; never null.
    static const Clock &system();

    // Called once at start, before any thread exists: with TZ unset, the C library looks at
    // /etc/localtime again at every conversion from local time (several times a visit); naming
    // it in TZ (":/etc/localtime", the same zone) makes it read the file once.
    static void settleTimeZone();
};

class SystemClock final : public Clock
{
public:
    QDateTime currentDateTime() const override;
    qint64 currentMSecsSinceEpoch() const override;
    // Converted from UTC once a second: local time moves by whole seconds against UTC.
    QTime currentTime() const override;
    qint64 monotonicMs() const override;
};
