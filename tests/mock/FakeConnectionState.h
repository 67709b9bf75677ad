#pragma once

#include "core/ConnectionState.h"

#include <atomic>

// A connection state the test switches by hand. Safe to query from worker threads (the web jobs
// ask it there). Online it reports a LAN default route; offline the offline flag; both with some
// interface up.
class FakeConnectionState final : public ConnectionState
{
public:
    explicit FakeConnectionState(bool isOnline = true, QString name = QStringLiteral("eth-test"))
        : online(isOnline)
        , m_name(std::move(name))
    { }

    Result query() const override
    {
        ++m_queries;
        Result result;
        result.online = online;
        result.connectionName = m_name;
        result.flags = online ? Lan | Configured : Offline | Configured;
        return result;
    }

    int queries() const { return m_queries; }

    std::atomic<bool> online;

private:
    QString m_name; // set once, before any query
    mutable std::atomic<int> m_queries { 0 };
};
