#pragma once

#include "core/Clock.h"
#include "core/ConnectionState.h"
#include "core/LogSink.h"
#include "publish/HttpRequest.h"

#include <QObject>
#include <QStringList>

#include <functional>
#include <memory>

class clsDyndns;
class QTimer;
class SettingsStore;
class UpdateCheck;

// The parts of the main window that the address updater touches. The main window implements it.
class IAddressUpdaterView
{
public:
    virtual ~IAddressUpdaterView() = default;
    virtual QString addressLabel() const = 0;
    virtual void setAddressLabel(const QString &text) = 0;
    // true: the tray shows the busy picture and this tool tip; false: the normal picture and
    // the tool tip "Vistelle".
    virtual void setTray(bool busy, const QString &toolTip) = 0;
    virtual void setBusyCursor(bool busy) = 0;
    // ListenOnPort with the configured port.
    virtual void listen() = 0;
};

// The main window's address updater (Timer2, every 60 s, and once from the window's loading):
// runs the once-per-run update check and, with dynamic DNS on, compares the shown address with
// the public one and updates the configured host name at the provider when they differ.
//
// The web exchanges run on the thread pool; labels, tray changes and log lines are applied on the
// user-interface thread in the order a synchronous run would show them. A tick that finds an
// update still running does nothing.
//
// Without an account (dyuser or dyname blank) no provider is contacted: the label shows the
// public address and the log says once per run that an account is missing.
//
// The provider's rules are kept: after a refused login or an answer that forbids retrying
// (badauth, nohost, notfqdn, numhost, abuse, badagent, !donator, badsys) the automatic updates
// pause until a dynamic-DNS setting changes; after 911, dnserr, an HTTP 5xx answer, a time-out or
// a provider that could not be reached (name lookup, connection, certificate, an answer over the
// size limit, a page without the expected parts) the next attempt waits 30 minutes, doubling up
// to 4 hours. A plain http update host gets a warning in the log once per run.
class AddressUpdater final : public QObject
{
    Q_OBJECT
public:
    static constexpr int IntervalMs = 60'000;
    static constexpr qint64 FirstBackoffMs = 30 * 60'000;
    static constexpr qint64 MaxBackoffMs = 4 * 60 * 60'000;
    static constexpr qint64 UpdateWaitMs = 2000;

    AddressUpdater(SettingsStore &settings, std::shared_ptr<const ConnectionState> connection, UpdateCheck *updateCheck,
        IAddressUpdaterView &view, const Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~AddressUpdater() override;

    void Timer2_Timer();

    int UpdateTicks() const { return m_updateTicks; }
    bool isBusy() const { return m_busy; }
    bool isPaused() const { return m_paused; }
    // Milliseconds of the monotonic clock before which no attempt is made; 0: none.
    qint64 retryNotBeforeMs() const { return m_retryNotBeforeMs; }
    // The time limit of each web exchange (10 s normally).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    // After a successful update the success line waits until 2 s have passed since the attempt
    // started; a timer calls this, tests call it after moving the clock.
    void checkUpdateWait();

    // The first word of a provider's update answer, bounded and free of control characters.
    static QString answerWord(const QString &answer);
    // The provider's answers that forbid any retry without a change by the user.
    static bool isFinalAnswer(const QString &answerWord);
    // The answers after which the next attempt must wait.
    static bool isWaitAnswer(const QString &answerWord);

signals:
    // A tick has ended, its web exchanges included.
    void tickFinished();

private:
    struct LoginResult;
    struct UpdateResult;

    void showAddressWithoutAccount();
    void compareAndUpdate();
    void onPublicAddress(const QString &address);
    void onLogin(const LoginResult &result);
    void onUpdate(const UpdateResult &result);
    void onUpdated();
    void finishTick();
    void pause(const QString &reason);
    void backOff(const QString &reason);
    QStringList settingsSnapshot() const;
    bool dynamicDnsOff() const;
    void log(const QString &text) const;

    SettingsStore &m_settings;
    std::shared_ptr<const ConnectionState> m_connection;
    UpdateCheck *m_updateCheck;
    IAddressUpdaterView &m_view;
    const Clock &m_clock;
    std::shared_ptr<clsDyndns> m_client; // the program-wide client, used on one worker at a time
    QTimer *m_waitTimer;

    int m_updateTicks = 0;
    bool m_busy = false;
    int m_timeoutMs = 10'000;
    qint64 m_attemptStartMs = 0;
    // The outside addresses of the attempt under way, read once when it starts.
    QString m_providerName;
    QString m_echoPageUrl;
    HttpOptions m_httpOptions;
    QString m_user, m_password, m_hostName;
    bool m_waitingAfterUpdate = false;

    bool m_noAccountLogged = false;
    bool m_paused = false;
    QStringList m_pausedSettings;
    qint64 m_retryNotBeforeMs = 0;
    qint64 m_backoffMs = 0;
};
