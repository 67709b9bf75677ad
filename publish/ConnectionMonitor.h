#pragma once

#include "core/ConnectionState.h"
#include "core/StartupState.h"

#include <QDateTime>
#include <QObject>

#include <memory>

// The parts of the main window that the connection monitor touches. The main window implements it.
class IConnectionMonitorView
{
public:
    virtual ~IConnectionMonitorView() = default;
    virtual void putLog(const QString &line) = 0;
    virtual void clearLog() = 0;
    // Connectionon visible (tool tip "Connected") or Connectionoff (tool tip "Disconnected").
    virtual void showConnection(bool online) = 0;
    virtual void setAddressLabel(const QString &text) = 0;
    virtual void setListenToolTip(const QString &text) = 0;
    virtual void enableAddressUpdater(bool on) = 0;
    virtual void runStartup() = 0;
    // The listening socket is not closed.
    virtual bool isListening() const = 0;
    // This machine's own address (the empty host name resolved).
    virtual QString localAddress() const = 0;
    // The stored usedyndns text, trimmed, equals "0".
    virtual bool dynamicDnsOff() const = 0;
    // The numeric value of ListenPort (default "80").
    virtual QString listenPortText() const = 0;
    virtual QDateTime now() const = 0;
};

// The main window's connection monitor (Timer1, every 5 s): watches whether the machine is online,
// shows it, switches the address updater on and off and runs the start-up again when the
// connection comes back after an outage.
class ConnectionMonitor final : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 5000;

    ConnectionMonitor(std::shared_ptr<ConnectionState> connection, StartupState &startup, IConnectionMonitorView &view,
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
    IConnectionMonitorView &m_view;
    bool m_firstConnectedTick = false;
    int m_connectedTicks = 0;
};
