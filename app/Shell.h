#pragma once

#include "alerts/Mixer.h"
#include "capture/Listener.h"
#include "core/Clock.h"
#include "core/ConnectionState.h"
#include "core/StartupState.h"
#include "publish/HostManagerHost.h"
#include "publish/SettingsWindowHost.h"

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>

class QMenu;
class QTimer;
class SettingsStore;
class SingleInstance;
class SoundOutput;
class Tray;
class HistoryStore;
class VisitMonitor;
class WhoIs_Form;
class frmContainer;
class frmHistory;
class frmMain;
class frmSetNotifies;
class frmMain2;
class frmSettings;
class DesktopNotifier;
class frmTrayNotification;

struct ShellServices
{
    const Clock *clock = &Clock::system();
    SettingsStore *settings = nullptr; // null: the program's store
    std::shared_ptr<ConnectionState> connection; // null: the Linux query (NetworkManager names)
    QString lockDir; // null: the user's runtime folder
    SoundOutput *sound = nullptr; // null: ALSA's default device
    ListenerLimits listenerLimits;
    // Opens an address with the desktop's handler; null: QDesktopServices.
    std::function<bool(const QUrl &)> openUrl;
    QString historyFile; // null: history.sqlite3 in the user's data folder
    MixerFactory mixer; // the volume window's mixer; null: ALSA's simple mixer
    // true: the dynamic-DNS password lives in the desktop's keyring (the program sets it).
    bool keyring = false;
};

// The application shell: start-up and shut-down, the single instance, the container window with
// its tray icon, the main window and the popup. modMain's routines run on the program's one shell.
class Shell final : public QObject, private ISettingsWindowHost, private IHostManagerHost
{
    Q_OBJECT
public:
    explicit Shell(ShellServices services = {}, QObject *parent = nullptr);
    ~Shell() override;

    // The program's shell (the last one created); null before.
    static Shell *instance();

    // The start-up routine; also run again by the connection monitor on reconnection. Returns
    // false when another instance runs: the message is shown and finished() follows.
    bool RunStartup();
    // The orderly end, from every close path. Runs once; finished(0) follows.
    void ShutDown();
    // Opens a document or web address with the desktop's handler; "File Not Found on path " on
    // failure.
    void OpenDocument(const QString &path);

    // The main window; its first use loads it.
    frmMain *mainWindow();
    // The engine under the main window; null before the main window's first use.
    VisitMonitor *engine() const { return m_engine.get(); }
    frmContainer *container() const { return m_container; }
    frmTrayNotification *popup() const { return m_popup; }
    HistoryStore *history() const;
    // Opens the history window (created at its first use) or brings it to the front.
    void showHistory();
    frmHistory *historyWindow() const { return m_historyWindow; }
    // Opens the notification settings window, or brings the open one to the front. It is not
    // modal; each opening loads it from the store.
    void showNotifySettings();
    frmSetNotifies *notifySettings() const;
    // The server settings window and the host manager while they are open, else null.
    frmSettings *settingsWindow() const;
    frmMain2 *hostManager() const;
    // The main window's "Settings...": hides the main window, opens the server settings.
    void showServerSettings();
    // Opens the host manager (modal), or brings it to the front.
    void showHostManager();
    Tray *tray() const { return m_tray; }
    // The whois window; null until the main window's "Whois" button first opened it.
    WhoIs_Form *whoisWindow() const;
    StartupState &startup() { return m_startup; }
    bool isShutDown() const { return m_shutDown; }
    // Waits at most this long at shut-down for web exchanges still running.
    static constexpr int ShutDownWaitMs = 2000;

signals:
    // The program should end with this exit code.
    void finished(int exitCode);

private:
    // The popup, or the desktop's notification (PopupStyle); address and page: the visit's, for
    // the notification's actions.
    void showPopup(
        const QString &caption, const QString &subcaption, const QString &address = {}, const QString &page = {});
    void setTrayAlert(bool alert);
    void setTrayBusy(bool busy, const QString &toolTip);
    void restoreWindow();
    // A second start asked for the window.
    void showRequestedWindow();
    // Listening failed (or works again): the tray's picture and state, the window once a start.
    void showListenProblem(const QString &problem);
    void refreshTrayState();
    QIcon restingTrayImage() const;
    void buildTrayMenu();
    void updateTrayMenu();
    // ISettingsWindowHost
    void showMainWindow() override;
    void listenOnPort(qint16 port) override;
    void enablePublisher() override;
    void restartRelay() override;
    void openHostManager() override { showHostManager(); }
    void openDocument(const QString &pathOrUrl) override { OpenDocument(pathOrUrl); }
    // IHostManagerHost
    void setAddressLabel(const QString &text) override;
    void ensureContainer();
    void showWhois(const QString &hostName);

    ShellServices m_services;
    std::shared_ptr<ConnectionState> m_connection;
    StartupState m_startup;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<SoundOutput> m_ownSound;
    std::unique_ptr<VisitMonitor> m_engine;
    frmHistory *m_historyWindow = nullptr;
    Tray *m_tray = nullptr;
    std::unique_ptr<QMenu> m_trayMenu;
    frmContainer *m_container = nullptr;
    frmMain *m_main = nullptr;
    frmTrayNotification *m_popup = nullptr;
    DesktopNotifier *m_notifier = nullptr; // made at the first notification
    QPointer<WhoIs_Form> m_whois; // a child of the container, which deletes it
    QPointer<frmSetNotifies> m_notify;
    QPointer<frmSettings> m_settingsWindow;
    QPointer<frmMain2> m_hostManager;
    bool m_shutDown = false;
    bool m_locked = false;
    bool m_listenProblemShown = false;
    QTimer *m_stateTimer = nullptr;
};
