#pragma once

#include "ConnectionState.h"
#include "LogSink.h"
#include "StartupState.h"

#include <QObject>

#include <functional>
#include <memory>

// The main window's connection monitor (Timer1, every 5 s): watches whether the machine is online,
// shows it, switches the address updater on and off and runs the start-up again when the
// connection comes back after an outage. The window's parts it touches are callbacks.
class ConnectionMonitor final : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 5000;

    struct View
    {
        PutLogFn putLog;
        std::function<void()> clearLog;
        // Connectionon visible (tool tip "Connected") or Connectionoff (tool tip "Disconnected").
        std::function<void(bool online)> showConnection;
        std::function<void(const QString &)> setAddressLabel;
        std::function<void(const QString &)> setListenToolTip;
        std::function<void(bool)> enableAddressUpdater;
        std::function<void()> runStartup;
        // The listening socket is not closed.
        std::function<bool()> isListening;
        // This machine's own address (the empty host name resolved).
        std::function<QString()> localAddress;
        // The stored usedyndns text, trimmed, equals "0".
        std::function<bool()> dynamicDnsOff;
        // The numeric value of ListenPort (default "80").
        std::function<QString()> listenPortText;
        std::function<QDateTime()> now;
    };

    ConnectionMonitor(std::shared_ptr<ConnectionState> connection, StartupState &startup, View view,
                      QObject *parent = nullptr);

    // The connection part of the main window's loading; returns whether the machine is online.
    bool onWindowLoad();
    // One tick of the monitor.
    void Timer1_Timer();

    bool FirstConnectedTick() const { return m_firstConnectedTick; }
    void setFirstConnectedTick() { m_firstConnectedTick = true; }
    int ConnectedTicks() const { return m_connectedTicks; }

private:
    ConnectionState::Result query();

    std::shared_ptr<ConnectionState> m_connection;
    StartupState &m_startup;
    View m_view;
    bool m_firstConnectedTick = false;
    int m_connectedTicks = 0;
};
