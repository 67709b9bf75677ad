#pragma once

#include "ConnectionState.h"
#include "Listener.h"
#include "LogSink.h"
#include "StartupState.h"

#include <QWidget>

#include <functional>
#include <memory>

class AddressUpdater;
class ConnectionMonitor;
class CountryLookup;
class DayChangeNote;
class EventLog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;
class QToolButton;
class RemoteScriptPublisher;
class SettingsStore;
class SoundOutput;
class UpdateCheck;
class VisitProcessor;
class VisitorList;

// What the main window works with. Tests replace the clock, the store and the connection query;
// the shell gives the effects that live outside the window (tray, popup, sound, desktop).
struct frmMainServices
{
    const Clock *clock = &Clock::system();
    SettingsStore *settings = nullptr;           // null: the program's store
    std::shared_ptr<ConnectionState> connection; // null: the Linux route query
    StartupState *startup = nullptr;             // null: the window's own
    ListenerLimits listenerLimits;

    SoundOutput *sound = nullptr; // null: visits play no sound
    std::function<void(const QString &caption, const QString &subcaption)> showPopup;
    // true: the tray shows the alert picture; false: the normal one.
    std::function<void(bool alert)> setTrayAlert;
    // true: the tray shows the busy picture and the tool tip; false: the normal picture and tip.
    std::function<void(bool busy, const QString &toolTip)> setTrayBusy;
    // The start-up routine, run again by the connection monitor on reconnection.
    std::function<void()> runStartup;
    // Opens a document or web address with the desktop's handler.
    std::function<void(const QString &)> openDocument;
    // The window asks to be restored from minimised (after a failed address-script call).
    std::function<void()> restoreWindow;
};

// The main visitor-monitor window. It owns the components that do the work (listener, visit
// processing, visitor list, event log, country lookup, connection monitor, address updater,
// update check, address-script publisher, day-change note) and offers the public methods other
// windows call, delegating to those components.
class frmMain final : public QWidget
{
    Q_OBJECT
public:
    using Services = frmMainServices;

    explicit frmMain(Services services = {}, QWidget *parent = nullptr);
    ~frmMain() override;

    // The load sequence: start line, connection state, address label, first address-updater
    // tick, the 60-seconds note; then the timers run.
    void load();
    bool isLoaded() const { return m_loaded; }

    void PutLog(const QString &eventtxt);
    // Logs the listening line, then listens on PortNum; logs "Bind error: " on failure.
    void ListenOnPort(qint16 PortNum);
    // ListenOnPort with the configured port (setting ListenPort, default "80"); a value that is
    // not a 16-bit integer listens nowhere.
    void listenOnConfiguredPort();
    // Writes the address shown in Label8 to the address file.
    void WRITEIP();
    QString getcountry(const QString &ip);
    void refreshcounters(const QString &VisitorIP, const QString &Page);
    static QString GetHeaderFromRequest(const QString &Request, const QString &Header);
    static void sepurl(QString &PageUrl);

    // The shut-down's steps inside this window.
    void stopTimers();
    void closeSocket();
    // Enables the remote-script publisher (tmrUpdateIP).
    void enablePublisher();

    // The address file: iptxt.txt in the user's data folder.
    static QString addressFileName();

    Listener &listener() { return *m_listener; }
    EventLog &eventLog() { return *m_log; }
    VisitorList &visitorList() { return *m_visitors; }
    VisitProcessor &visits() { return *m_visits; }
    ConnectionMonitor &monitor() { return *m_monitor; }
    AddressUpdater &addressUpdater() { return *m_updater; }
    UpdateCheck &updateCheck() { return *m_updateCheck; }
    RemoteScriptPublisher &publisher() { return *m_publisher; }
    SettingsStore &settings() { return *m_settings; }
    StartupState &startupState() { return *m_startup; }
    const Clock &clock() const { return *m_clock; }

signals:
    // The "Exit" button: the container closes, which shuts the program down.
    void exitRequested();
    // The listener asked for the remote-script publisher to be enabled (after a socket error).
    void publisherEnableRequested();

private:
    void buildWindow();
    void buildComponents(const Services &services);
    void onRequestFinished(const QByteArray &request, const QString &remoteAddress);
    void onAcceptError(const QString &description);
    void Image5_Click();
    void Label10_Click();
    void setAddressLabel(const QString &text);
    bool dynamicDnsOff() const;
    QString listenPortText() const;
    void showConnection(bool online);

    const Clock *m_clock;
    SettingsStore *m_settings;
    std::shared_ptr<ConnectionState> m_connection;
    std::unique_ptr<StartupState> m_ownStartup;
    StartupState *m_startup;
    Services m_services;
    bool m_loaded = false;

    // Controls, named as the other windows and the tests know them.
    QLabel *Label8 = nullptr;        // " Current IP:" and the address
    QLabel *Connectionon = nullptr;  // shown while online
    QLabel *Connectionoff = nullptr; // shown while offline
    QLabel *StopRepeat = nullptr;    // "Stopped Repeat Request"
    QLabel *lblEvents = nullptr;     // "Latest Events"
    QToolButton *Image2 = nullptr;   // "Clear Event Log"
    QToolButton *Image5 = nullptr;   // "Listen on port"
    QPlainTextEdit *txtLog = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QToolButton *panel5 = nullptr;   // the update panel (key "download")
    QLabel *Label10 = nullptr;       // "Help"
    QPushButton *Send_Query_Button1 = nullptr; // "Exit"
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;

    EventLog *m_log = nullptr;
    Listener *m_listener = nullptr;
    VisitorList *m_visitors = nullptr;
    std::unique_ptr<CountryLookup> m_country;
    VisitProcessor *m_visits = nullptr;
    ConnectionMonitor *m_monitor = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    AddressUpdater *m_updater = nullptr;
    RemoteScriptPublisher *m_publisher = nullptr;
    DayChangeNote *m_dayNote = nullptr;
};
