#pragma once

#include "capture/Listener.h"
#include "capture/MainWindowHost.h"
#include "capture/VisitEffects.h"
#include "core/ConnectionState.h"
#include "core/LogSink.h"
#include "core/StartupState.h"
#include "publish/AddressUpdater.h"
#include "publish/ConnectionMonitor.h"

#include <QWidget>

#include <memory>

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

// What the main window works with. Tests replace the clock, the store and the connection query.
struct frmMainServices
{
    const Clock *clock = &Clock::system();
    SettingsStore *settings = nullptr; // null: the program's store
    std::shared_ptr<ConnectionState> connection; // null: the Linux route query
    StartupState *startup = nullptr; // null: the window's own
    ListenerLimits listenerLimits;
    SoundOutput *sound = nullptr; // null: visits play no sound
};

// The main visitor-monitor window. It owns the components that do the work (listener, visit
// processing, visitor list, event log, country lookup, connection monitor, address updater,
// update check, address-script publisher, day-change note) and offers the public methods other
// windows call, delegating to those components.
class frmMain final : public QWidget, private IVisitEffects, private IConnectionMonitorView, private IAddressUpdaterView
{
    Q_OBJECT
public:
    using Services = frmMainServices;

    explicit frmMain(IMainWindowHost &host, Services services = {}, QWidget *parent = nullptr);
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
    // Label8, the address label (the host manager sets it after a manual update).
    void setAddressCaption(const QString &text) { setAddressLabel(text); }

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
    // The "Whois" button, with the host name of the selected visitor (Label6's caption).
    void whoisRequested(const QString &hostName);
    // "Server Notification Options...": the notification settings window should open.
    void notificationOptionsRequested();
    // "Settings...": the shell hides the main window and opens the server settings window.
    void serverSettingsRequested();
    // The provider's "Update" icon while online: the shell opens the host manager window.
    void hostManagerRequested();

private:
    void buildWindow();
    void buildComponents(const Services &services);
    void onRequestFinished(const QByteArray &request, const QString &remoteAddress);
    void onAcceptError(const QString &description);
    void Image5_Click();
    void Label10_Click();
    void Image4_Click();

    // IVisitEffects
    void putLog(const QString &line) override { PutLog(line); }
    void playSound(const QString &fileName) override;
    void showPopup(const QString &caption, const QString &subcaption) override;
    void setTrayAlert(bool alert) override;
    void setStopRepeat(bool visible, const QString &toolTip) override;
    std::optional<QString> country(const QString &address) override;
    // IConnectionMonitorView
    void clearLog() override;
    void showConnection(bool online) override;
    void setAddressLabel(const QString &text) override;
    void setListenToolTip(const QString &text) override;
    void enableAddressUpdater(bool on) override;
    void runStartup() override;
    bool isListening() const override;
    QString localAddress() const override;
    bool dynamicDnsOff() const override;
    QString listenPortText() const override;
    QDateTime now() const override;
    // IAddressUpdaterView
    QString addressLabel() const override;
    void setTray(bool busy, const QString &toolTip) override;
    void setBusyCursor(bool busy) override;
    void listen() override;

    const Clock *m_clock;
    SettingsStore *m_settings;
    std::shared_ptr<ConnectionState> m_connection;
    std::unique_ptr<StartupState> m_ownStartup;
    StartupState *m_startup;
    IMainWindowHost &m_host;
    SoundOutput *m_sound;
    bool m_loaded = false;

    // Controls, named as the other windows and the tests know them.
    QLabel *Label8 = nullptr; // " Current IP:" and the address
    QLabel *Connectionon = nullptr; // shown while online
    QLabel *Connectionoff = nullptr; // shown while offline
    QLabel *StopRepeat = nullptr; // "Stopped Repeat Request"
    QLabel *lblEvents = nullptr; // "Latest Events"
    QToolButton *Image2 = nullptr; // "Clear Event Log"
    QToolButton *Image5 = nullptr; // "Listen on port"
    QToolButton *Image1 = nullptr; // "Whois"
    QPlainTextEdit *txtLog = nullptr;
    QStatusBar *StatusBar1 = nullptr;
    QToolButton *panel5 = nullptr; // the update panel (key "download")
    QLabel *Label10 = nullptr; // "Help"
    QPushButton *Send_Query_Button1 = nullptr; // "Exit"
    QPushButton *Command1 = nullptr; // "Server Notification Options..."
    QPushButton *cmdServerSettings = nullptr; // "Settings..."
    QToolButton *Image4 = nullptr; // the provider's "Update": the host manager
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
