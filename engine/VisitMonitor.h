#pragma once

#include "capture/Listener.h"
#include "capture/VisitEffects.h"
#include "capture/VisitorListModel.h"
#include "core/Clock.h"
#include "core/ConnectionState.h"
#include "core/StartupState.h"
#include "engine/AlertGate.h"
#include "publish/AddressUpdater.h"
#include "publish/ConnectionMonitor.h"

#include <QAbstractSocket>
#include <QDate>
#include <QObject>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <memory>

class AcmeChallenges;
class CertificateKeeper;
class CountryLookup;
class DayChangeNote;
class EventLogLines;
class HistoryStore;
class IVisitRecorder;
class KeyringPassword;
class RelayLink;
class QTimer;
class RemoteScriptPublisher;
class SettingsStore;
class SoundOutput;
class TlsCredentials;
struct TlsFilesSlot;
class UpdateCheck;
class VisitProcessor;

// What the engine works with. Tests replace the clock, the store, the connection query and the
// history file.
struct VisitMonitorServices
{
    const Clock *clock = &Clock::system();
    SettingsStore *settings = nullptr; // null: the program's store
    std::shared_ptr<ConnectionState> connection; // null: the Linux query (NetworkManager names)
    StartupState *startup = nullptr; // null: the engine's own
    ListenerLimits listenerLimits;
    SoundOutput *sound = nullptr; // null: visits play no sound
    // The history file; null: history.sqlite3 in the user's data folder.
    QString historyFile;
    // false: no history at all (the visits are kept nowhere beyond the list).
    bool history = true;
    // true: the dynamic-DNS password lives in the desktop's keyring (KeyringPassword).
    bool keyring = false;
};

// The visit monitor: every working part of the program below the windows (QtCore and QtNetwork
// only). It listens, turns requests into visits (log line, list row and counters, sound, country,
// history), keeps the event log's lines and the address label, watches the connection (Timer1),
// keeps the public address current (Timer2), checks for updates, runs the address-script publisher
// and notes the day's change. A window shows it: what a visit or the address maintenance wants
// shown (the popup, the tray, the labels) is announced by signals. Without a window (headless,
// vistelled) nothing else is needed.
class VisitMonitor final : public QObject,
                           private IVisitList,
                           private IVisitEffects,
                           private IConnectionMonitorView,
                           private IAddressUpdaterView
{
    Q_OBJECT
public:
    using Services = VisitMonitorServices;

    explicit VisitMonitor(Services services = {}, QObject *parent = nullptr);
    ~VisitMonitor() override;

    // The load sequence: start line, connection state, address label, first address-updater
    // tick, the 60-seconds note; then the timers run.
    void load();
    bool isLoaded() const { return m_loaded; }

    // The one way into the event log.
    void PutLog(const QString &eventtxt);
    // Logs the listening line, then listens on PortNum; logs "Bind error: " on failure.
    void ListenOnPort(qint16 PortNum);
    // ListenOnPort with the configured port (setting ListenPort, default "80"); a value that is
    // not a 16-bit integer listens nowhere.
    void listenOnConfiguredPort();
    // Writes the address shown in the address label to the address file.
    void WRITEIP();
    QString getcountry(const QString &ip);

    // The address label's caption (" Current IP:" and the address, or an update's state).
    QString addressCaption() const { return m_addressCaption; }
    void setAddressCaption(const QString &text) { setAddressLabel(text); }

    // The shut-down's steps: write the address file, stop the timers and the publisher, close the
    // listener, write the visits still waiting for the history. Runs once.
    void shutDown();
    // Enables the remote-script publisher (tmrUpdateIP).
    void enablePublisher();
    // The "Listen on port" icon: listens again when online.
    void listenIfOnline();

    // Pausing alerts: visits give no popup and no sound (they are still logged, listed, counted
    // and stored) for forMs milliseconds, or until resumed when forMs is negative.
    void pauseAlerts(qint64 forMs);
    void resumeAlerts();
    bool alertsPaused() const;
    static constexpr qint64 PauseHourMs = 3600 * 1000;

    // What keeps visits away, for the user (empty while listening): set when listening fails.
    QString listenProblem() const { return m_listenProblem; }
    // The text for a failed listen on port: what failed and what to do.
    static QString listenProblemText(qint16 port, QAbstractSocket::SocketError error, const QString &description);
    // Trouble with TLS the user should know of (empty: none): an order or renewal that failed, a
    // certificate that expires within CertificateWarningDays, the first refused handshake of a
    // run. It lasts until resolved (a certificate obtained, a later one, a TLS visit).
    QString certificateTrouble() const { return m_certificateTrouble; }
    static constexpr int CertificateWarningDays = 7;
    // Looks at the certificate in use; runs with Timer2.
    void checkCertificateExpiry();

    // The visitor's address and page of the latest visit announced (popupRequested).
    QString announcedAddress() const { return m_announcedAddress; }
    QString announcedPage() const { return m_announcedPage; }

    // The relay's state ("Relay: connected"; empty while it is off).
    QString relayState() const;
    RelayLink *relay() const { return m_relay; }
    // Starts the relay again with the stored settings (they were changed).
    void restartRelay();

    // The state in a line: "Listening on port 8080 · 12 visits today", or the problem.
    QString stateLine() const;

    Listener &listener() { return *m_listener; }
    EventLogLines &log() { return *m_log; }
    VisitorListModel &visitorModel() { return *m_model; }
    VisitProcessor &visits() { return *m_visits; }
    CountryLookup &countryLookup() { return *m_country; }
    ConnectionMonitor &monitor() { return *m_monitor; }
    AddressUpdater &addressUpdater() { return *m_updater; }
    UpdateCheck &updateCheck() { return *m_updateCheck; }
    RemoteScriptPublisher &publisher() { return *m_publisher; }
    CertificateKeeper &certificateKeeper() { return *m_keeper; }
    HistoryStore *history() const { return m_history.get(); }
    SettingsStore &settings() { return *m_settings; }
    StartupState &startupState() { return *m_startup; }
    const Clock &clock() const { return *m_clock; }
    std::shared_ptr<ConnectionState> connection() const { return m_connection; }
    QTimer *timer1() const { return Timer1; }
    QTimer *timer2() const { return Timer2; }

signals:
    // A visit's row was appended to the list (the newest row), with what its counting changed.
    void visitListed(bool newAddress, bool newPage);
    void popupRequested(const QString &caption, const QString &subcaption);
    // true: the tray shows its alert picture; false: its normal picture again.
    void trayAlertChanged(bool alert);
    // true: the tray shows the busy picture and the tool tip; false: the normal picture and tip.
    void trayBusyChanged(bool busy, const QString &toolTip);
    void busyChanged(bool busy);
    void stopRepeatChanged(bool visible, const QString &toolTip);
    void addressCaptionChanged(const QString &text);
    void connectionShown(bool online);
    void listenToolTipChanged(const QString &text);
    // The connection came back after an outage: the start-up routine should run again.
    void startupRequested();
    // The address script failed: the window should come out of the tray.
    void restoreWindowRequested();
    // The update check asks for a page to be opened with the desktop's handler.
    void openDocumentRequested(const QString &pathOrUrl);
    void certificateTroubleChanged(const QString &trouble);
    // Alerts were paused or resumed (also when a pause ran out, noticed at the next visit).
    void alertsPausedChanged(bool paused);
    // Listening failed (problem: what failed and what to do) or works again (problem empty).
    void listenProblemChanged(const QString &problem);
    void relayStateChanged(const QString &state);

private:
    void onRequestFinished(const QByteArray &request, const QString &remoteAddress, bool tls);
    void onAcceptError(const QString &description);
    bool dynamicDnsOff() const;
    void startRelay();
    void writeListLine();

    // IVisitList
    int addVisit(const QDateTime &time, const QString &address, const QString &page, VisitKind kind) override;
    void appendCountry(int row, const QString &country) override;
    void makeNewestRowCurrent() override { }
    // IVisitEffects
    void alertsComing(const QDateTime &time, const QString &address, const QString &page) override;
    void playSound(const QString &fileName) override;
    void showPopup(const QString &caption, const QString &subcaption) override;
    void setTrayAlert(bool alert) override { emit trayAlertChanged(alert); }
    void setStopRepeat(bool visible, const QString &toolTip) override { emit stopRepeatChanged(visible, toolTip); }
    std::optional<QString> country(const QString &address) override;
    // IConnectionMonitorView
    void clearLog() override;
    void showConnection(bool online) override { emit connectionShown(online); }
    void setAddressLabel(const QString &text) override;
    void setListenToolTip(const QString &text) override { emit listenToolTipChanged(text); }
    void enableAddressUpdater(bool on) override;
    void runStartup() override { emit startupRequested(); }
    // IAddressUpdaterView
    QString addressLabel() const override { return m_addressCaption; }
    void setTray(bool busy, const QString &toolTip) override { emit trayBusyChanged(busy, toolTip); }
    void setBusyCursor(bool busy) override { emit busyChanged(busy); }
    void listen() override { listenOnConfiguredPort(); }

    const Clock *m_clock;
    SettingsStore *m_settings;
    std::shared_ptr<ConnectionState> m_connection;
    std::unique_ptr<StartupState> m_ownStartup;
    StartupState *m_startup;
    SoundOutput *m_sound;
    bool m_loaded = false;
    bool m_shutDown = false;
    QString m_addressCaption;

    EventLogLines *m_log = nullptr;
    VisitorListModel *m_model = nullptr;
    Listener *m_listener = nullptr;
    std::unique_ptr<CountryLookup> m_country;
    std::shared_ptr<AcmeChallenges> m_challenges;
    // The certificate files are looked at on the thread pool, one check at a time, at most once a
    // second while TLS visitors come; the listener gets what the last check loaded.
    std::shared_ptr<TlsCredentials> m_tls;
    std::shared_ptr<TlsFilesSlot> m_tlsFiles; // the files the check in progress looks at
    std::optional<QSslConfiguration> m_tlsConfiguration;
    QList<QSslCertificate> m_tlsChain;
    bool m_tlsChecking = false;
    bool m_tlsChecked = false; // a first check is done
    qint64 m_tlsCheckStartedMs = 0;
    void checkTlsFiles();
    CertificateKeeper *m_keeper = nullptr;
    bool m_keeperStarted = false;
    std::unique_ptr<HistoryStore> m_history;
    VisitProcessor *m_visits = nullptr;
    ConnectionMonitor *m_monitor = nullptr;
    UpdateCheck *m_updateCheck = nullptr;
    AddressUpdater *m_updater = nullptr;
    RemoteScriptPublisher *m_publisher = nullptr;
    DayChangeNote *m_dayNote = nullptr;
    RelayLink *m_relay = nullptr;
    QTimer *Timer1 = nullptr;
    QTimer *Timer2 = nullptr;
    QTimer *m_memoryTimer = nullptr;
    KeyringPassword *m_keyring = nullptr; // null: the password stays in the settings file
    KeyringPassword *m_relayKeyring = nullptr; // ...and the relay's
    AlertGate m_gate;
    AlertGate::Settings m_gateSettings; // as read at m_gateSettingsGeneration of the settings
    quint64 m_gateSettingsGeneration = ~quint64(0);
    AlertGate::Decision m_visitAlerts; // what the visit being processed may announce
    QString m_listenProblem;
    QString m_certificateTrouble;
    bool m_handshakeTroubleTold = false;
    void setCertificateTrouble(const QString &trouble);
    static inline const QString ExpiryTroublePrefix = QStringLiteral("The TLS certificate");
    static inline const QString HandshakeTroublePrefix = QStringLiteral("A browser refused");
    qint64 m_pausedUntilMs = -1; // monotonic; -1: not paused; max: until resumed
    qint16 m_listeningPort = -1;
    QString m_announcedAddress;
    QString m_announcedPage;
    int m_listedRow = -1; // the row the visit being processed was listed in
    QDate m_visitDay; // the day m_visitsToday counts
    int m_visitsToday = 0;
    static constexpr int MemoryReturnMs = 30'000;
    static constexpr qint64 TlsCheckIntervalMs = 1000;
};
