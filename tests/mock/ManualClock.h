#pragma once

#include "core/Clock.h"

#include <atomic>

// A clock that only moves when told to; for tests. Its time may be read on other threads.
class ManualClock final : public Clock
{
public:
    explicit ManualClock(const QDateTime &start = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)))
        : m_now(start)
    { }
    QDateTime currentDateTime() const override { return m_now.addMSecs(m_elapsed); }
    qint64 monotonicMs() const override { return m_elapsed; }
    void advance(qint64 ms) { m_elapsed.fetch_add(ms); }
    void setDateTime(const QDateTime &now) { m_now = now.addMSecs(-m_elapsed); }

private:
    QDateTime m_now;
    std::atomic<qint64> m_elapsed { 0 };
};
