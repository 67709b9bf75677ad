#pragma once

#include "relay/RelayAddress.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <thread>

// One MQTT 5 connection to the relay's broker, through libmosquitto, on a thread of its own: the
// thread connects, reconnects after a loss (waiting 1 s, doubling up to MaxRetryDelayS), and runs
// the library's network loop. The owner's thread never waits on the network.
//
// Messages and acknowledgements are handed over on the connection's thread (the hooks below), so
// the owner can make a message durable before the library acknowledges it: libmosquitto sends a
// QoS 1 PUBACK only after the message hook has returned. State changes arrive as a signal on the
// owner's thread.
class MqttConnection final : public QObject
{
    Q_OBJECT
public:
    static constexpr int KeepAliveS = 30;
    static constexpr int MaxRetryDelayS = 10;
    static constexpr int StopWaitMs = 500;

    struct Options
    {
        RelayAddress address;
        QString password;
        QString clientId; // empty: the broker gives one
        bool cleanStart = true;
        quint32 sessionExpiryS = 0; // how long the broker keeps the session while disconnected
        QString caFile; // empty: the system's certificate authorities
        QString subscribeTo; // a topic filter subscribed at every connection (QoS 1); empty: none
    };

    enum class State { Connecting, Connected, Retrying, Refused };

    // Hooks, called on the connection's thread; set before start().
    // A message that arrived (QoS 1: acknowledged once this returns).
    std::function<void(const QByteArray &topic, const QByteArray &payload)> onMessage;
    // The broker acknowledged the message published as mid.
    std::function<void(int mid)> onPublished;
    // A connection was made (sessionPresent: the broker kept the session of an earlier one).
    std::function<void(bool sessionPresent)> onConnected;
    // The connection was lost or closed.
    std::function<void()> onDisconnected;

    explicit MqttConnection(Options options, QObject *parent = nullptr);
    // Disconnects and stops the thread. A thread still stuck in a connection attempt after
    // StopWaitMs is left to end on its own; the hooks are no longer called from then on.
    ~MqttConnection() override;

    void start();

    // From any thread. QoS 1; false when the library refused it (no connection, too large).
    bool publish(const QByteArray &topic, const QByteArray &payload, int *mid);

    State state() const { return m_state; }
    // Why the connection is not up (empty while connected).
    QString problem() const { return m_problem; }

    static QString describe(State state, const QString &problem);

signals:
    void stateChanged(MqttConnection::State state, const QString &problem);

private:
    struct Core;
    void onState(State state, const QString &problem);

    std::shared_ptr<Core> m_core;
    std::thread m_thread;
    State m_state = State::Connecting;
    QString m_problem;
};
