#pragma once

#include <QObject>
#include <QString>

#include <memory>

class ConnectionState;
class QTimer;
class SettingsStore;

// The remote-script publisher: tells the address-receiving script on the owner's web server,
// once per enabling, that this computer's address may have changed.
//
// It owns the timer `tmrUpdateIP` (objectName "tmrUpdateIP", 1,000 ms, disabled at first). Each
// tick reads `useasp`, `RemoteHost` and `RemotePath` from the store and queries the connection;
// while `useasp` is 0 (or missing) or the computer is offline it keeps ticking. Otherwise it
// stops the timer, logs "Sending IP to: " and the address, fetches the address on a worker
// thread and logs the outcome back on the user-interface thread.
//
// The main window owns one instance and connects its enablers (RunStartup, the settings
// window's OK, the listener's recovery) to enable(), ShutDown to disable(), and
// restoreWindowRequested() to restoring itself from minimised.
class RemoteScriptPublisher final : public QObject
{
    Q_OBJECT
public:
    // settings: null for the program's store; connection: null for the Linux route query.
    explicit RemoteScriptPublisher(SettingsStore *settings = nullptr,
        std::shared_ptr<const ConnectionState> connection = {}, QObject *parent = nullptr);
    ~RemoteScriptPublisher() override;

    // The time limit of the fetch (10 s normally).
    void setTimeoutMs(int ms) { m_timeoutMs = ms; }

    QTimer *timer() const { return tmrUpdateIP; }
    bool isEnabled() const;
    // True while a sending is on its way.
    bool isSending() const { return m_sending; }

    // "http://" + (host + "/" + path with every "//" replaced by "/" in one left-to-right pass).
    static QString scriptAddress(const QString &remoteHost, const QString &remotePath);
    // The script's answer counts when it contains "IP Updated to:" in any letter case.
    static bool isValidAnswer(const QString &answer);

public slots:
    void enable();
    void disable();
    void tmrUpdateIP_Timer();

signals:
    // A transfer error happened: the main window restores itself from minimised.
    void restoreWindowRequested();
    // One sending has ended (ok: the script answered with its marker).
    void sendingFinished(bool ok);

private:
    struct Outcome
    {
        bool transferred = false;
        QString answer;
        QString error;
    };
    void apply(const Outcome &outcome);
    void log(const QString &text) const;

    SettingsStore *m_settings;
    std::shared_ptr<const ConnectionState> m_connection;
    int m_timeoutMs = 10000;
    bool m_sending = false;
    QTimer *tmrUpdateIP;
};
