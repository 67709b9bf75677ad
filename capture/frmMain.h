#pragma once

#include "ConnectionState.h"
#include "Listener.h"

#include <QWidget>

#include <memory>

class EventLog;
class QLabel;
class QPlainTextEdit;
class QToolButton;
class SettingsStore;

// What the main window works with; tests replace the clock, the store and the connection query.
struct frmMainServices
{
    const Clock *clock = &Clock::system();
    SettingsStore *settings = nullptr;           // null: the program's store
    std::shared_ptr<ConnectionState> connection; // null: the Linux route query
    ListenerLimits listenerLimits;
};

// The main visitor-monitor window. It owns the components that do the work (listener, event
// log, ...) and offers the public methods other windows call, delegating to those components.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    using Services = frmMainServices;

    explicit frmMain(Services services = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    void PutLog(const QString &eventtxt);
    // Logs the listening line, then listens on PortNum; logs "Bind error: " on failure.
    void ListenOnPort(qint16 PortNum);
    // ListenOnPort with the configured port (setting ListenPort, default "80"); a value that is
    // not a 16-bit integer listens nowhere.
    void listenOnConfiguredPort();

    static QString GetHeaderFromRequest(const QString &Request, const QString &Header);
    static void sepurl(QString &PageUrl);

    Listener &listener() { return *m_listener; }
    EventLog &eventLog() { return *m_log; }
    SettingsStore &settings() { return *m_settings; }
    const Clock &clock() const { return *m_clock; }

signals:
    // The listener asked for the remote-script publisher to be enabled (after a socket error).
    void publisherEnableRequested();

private:
    void onRequestFinished(const QByteArray &request, const QString &remoteAddress);
    void onAcceptError(const QString &description);
    void Image5_Click();

    const Clock *m_clock;
    SettingsStore *m_settings;
    std::shared_ptr<ConnectionState> m_connection;

    QPlainTextEdit *txtLog = nullptr;
    QToolButton *Image2 = nullptr; // "Clear Event Log"
    QToolButton *Image5 = nullptr; // "Listen on port"
    QLabel *lblEvents = nullptr;

    EventLog *m_log = nullptr;
    Listener *m_listener = nullptr;
};
