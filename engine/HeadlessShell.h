#pragma once

#include "engine/VisitMonitor.h"

#include <QObject>

#include <memory>

class SingleInstance;

struct HeadlessShellServices
{
    VisitMonitorServices monitor; // sound null: ALSA's default device
    QString lockDir; // null: the user's runtime folder
};

// The program without windows (vistelle --headless, vistelled): the start-up and shut-down of the
// engine, with the single instance. What the windowed program shows goes to standard output:
// every event-log line, every visit's row ("List: ") and every popup ("Popup: ").
class HeadlessShell final : public QObject
{
    Q_OBJECT
public:
    using Services = HeadlessShellServices;

    explicit HeadlessShell(Services services = {}, QObject *parent = nullptr);
    ~HeadlessShell() override;

    // The start-up routine; also run again by the connection monitor on reconnection. Returns
    // false when another instance runs: the message goes to standard error and finished(0)
    // follows.
    bool RunStartup();
    // The orderly end, from every close path. Runs once; finished(0) follows.
    void ShutDown();

    VisitMonitor *engine() const { return m_engine.get(); }

    // Waits at most this long at shut-down for web exchanges still running.
    static constexpr int ShutDownWaitMs = 2000;

signals:
    void finished(int exitCode);

private:
    void showPopup(const QString &caption, const QString &subcaption);

    Services m_services;
    StartupState m_startup;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<SoundOutput> m_ownSound; // ALSA's default device unless the services give one
    std::unique_ptr<VisitMonitor> m_engine;
    bool m_locked = false;
    bool m_shutDown = false;
};

// The whole program without windows: the core application, the command line, the signals, the
// shell. Returns the exit code. programName: as --help and --version show it.
int runHeadless(int argc, char *argv[], const QString &programName);
