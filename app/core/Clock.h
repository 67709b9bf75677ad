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
    // Milliseconds on a monotonic scale (differences only).
    virtual qint64 monotonicMs() const = 0;

    // The clock of the running program; never null.
    static const Clock &system();
};

class SystemClock final : public Clock
{
public:
    QDateTime currentDateTime() const override;
    qint64 monotonicMs() const override;
};

// A clock that only moves when told to; for tests.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(const QDateTime &start = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)))
        : m_now(start)
    {
    }
    QDateTime currentDateTime() const override { return m_now.addMSecs(m_elapsed); }
    qint64 monotonicMs() const override { return m_elapsed; }
    void advance(qint64 ms) { m_elapsed += ms; }
    void setDateTime(const QDateTime &now)
    {
        m_now = now.addMSecs(-m_elapsed);
    }

private:
    QDateTime m_now;
    qint64 m_elapsed = 0;
};
