#pragma once

#include "core/Clock.h"
#include "core/ConnectionState.h"
#include "core/StartupState.h"

#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>

class SettingsStore;

// What the connection monitor shows and sets off. The engine implements it and passes the
// display on to its window.
class IConnectionMonitorView
{
public:
    virtual ~IConnectionMonitorView() = default;
    virtual void clearLog() = 0;
    // Connectionon visible (tool tip "Connected") or Connectionoff (tool tip "Disconnected").
    virtual void showConnection(bool online) = 0;
    virtual void setAddressLabel(const QString &text) = 0;
    virtual void setListenToolTip(const QString &text) = 0;
    virtual void enableAddressUpdater(bool on) = 0;
    virtual void runStartup() = 0;
};

// What the monitor reads of the program's state.
struct ConnectionMonitorProbes
{
    // The listening socket is not closed.
    std::function<bool()> isListening;
    // This machine's own address (the empty host name resolved).
    std::function<QString()> localAddress;
};

// The engine's connection monitor (Timer1, every 5 s): watches whether the machine is online,
// shows it, switches the address updater on and off and runs the start-up again when the
// connection comes back after an outage.
class ConnectionMonitor final : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 5000;

    ConnectionMonitor(std::shared_ptr<ConnectionState> connection, StartupState &startup, IConnectionMonitorView &view,
        ConnectionMonitorProbes probes, SettingsStore &settings, const Clock &clock = Clock::system(),
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
    // The stored usedyndns text, trimmed, equals "0".
    bool dynamicDnsOff() const;
    // The numeric value of ListenPort (default "80").
    QString listenPortText() const;

    std::shared_ptr<ConnectionState> m_connection;
    StartupState &m_startup;
    IConnectionMonitorView &m_view;
    ConnectionMonitorProbes m_probes;
    SettingsStore &m_settings;
    const Clock &m_clock;
    bool m_firstConnectedTick = false;
    int m_connectedTicks = 0;
};
