#pragma once

#include "core/Clock.h"
#include "publish/AcmeClient.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class AcmeChallenges;
class QTimer;
class SettingsStore;

// Keeps a certificate for the listener's TLS, obtained from an ACME CA (RFC 8555) for the host
// name of setting AcmeDomain (empty: off). Settings, read at every check:
//   AcmeDomain         the host name the PC is reachable under    empty (off)
//   AcmeDirectoryURL   the CA's ACME directory                    Let's Encrypt's production one
//   AcmeEmail          the account's contact address              empty (none)
//   CAFile             an extra authority for the CA's TLS        empty
//
// Files, under $XDG_DATA_HOME/vistelle/tls/ (folder 0700, files 0600): account-key.pem (the
// account's P-256 key, made at the first order), certificate.pem (the chain, leaf first) and
// certificate-key.pem. The listener reads the last two (and uses them again when they change).
//
// Rules: an order starts when there is no certificate for the domain or less than a third of its
// lifetime is left. After a failure the next try waits 1 hour, doubling up to 24 hours, and at
// least as long as the server's Retry-After said; a change of domain or directory starts afresh.
// Every outcome is a line in the event log. Orders run on a worker thread.
class CertificateKeeper final : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 FirstBackoffMs = 3'600'000;
    static constexpr qint64 MaxBackoffMs = 24 * 3'600'000;
    static constexpr int TickIntervalMs = 60'000;
    static const QString DefaultDirectoryUrl;

    // Runs one order on a worker thread and saves what it got (the default talks to the CA
    // with AcmeClient and writes the files); tests put a stand-in here.
    using ExchangeFn = std::function<AcmeOutcome(const AcmeRequest &, const std::atomic<bool> &stop)>;

    // challenges: shared with the listener (and with an order still running after this is gone).
    CertificateKeeper(SettingsStore &settings, std::shared_ptr<AcmeChallenges> challenges,
        const Clock &clock = Clock::system(), QObject *parent = nullptr);
    ~CertificateKeeper() override;

    void setExchange(ExchangeFn exchange) { m_exchange = std::move(exchange); }
    // Checks at once, then every minute.
    void start();

    // The folder and files (see above).
    static QString storageDir();
    static QString accountKeyFile();
    static QString certificateFile();
    static QString keyFile();

    // Checks the settings, the stored certificate and the wait after a failure; starts an order
    // when one is due. Runs from the timer; tests call it directly.
    void tick();

    bool isRunning() const { return m_running; }
    // When the next try may start (the clock's monotonic milliseconds; 0: any time).
    qint64 nextAttemptMs() const { return m_nextAttemptMs; }
    // The wait after the last failure (0 after a success).
    qint64 backoffMs() const { return m_backoffMs; }
    // Whether the stored certificate is for domain and has more than a third of its lifetime
    // left at now.
    static bool certificateIsFresh(const QString &domain, const QDateTime &now);
    // Why a certificate chain the authority returned must not replace the one in use (empty: it
    // may): its first certificate must name the domain, be valid at now and longer than
    // oldExpiry (when valid), and carry the public key of keyPem, the key the request was made with.
    static QString replacementProblem(const QString &domain, const QByteArray &certificatePem, const QByteArray &keyPem,
        const QDateTime &now, const QDateTime &oldExpiry);

    // The default exchange: AcmeClient with the stored (or a new) account key; on success the
    // key and the certificate are written to the files. Safe on any thread.
    static AcmeOutcome obtainAndSave(
        const AcmeRequest &request, AcmeChallenges &challenges, const std::atomic<bool> &stop);

signals:
    // An order ended; ok: a new certificate is in the files.
    void finished(bool ok);
    // An order failed: the domain and the reason, as the log has them.
    void failed(const QString &domain, const QString &reason);

private:
    void log(const QString &line) const;
    void onFinished(const QString &domain, const AcmeOutcome &outcome);

    SettingsStore &m_settings;
    std::shared_ptr<AcmeChallenges> m_challenges;
    const Clock &m_clock;
    ExchangeFn m_exchange;
    QTimer *m_timer;
    std::shared_ptr<std::atomic<bool>> m_stop;
    bool m_running = false;
    qint64 m_nextAttemptMs = 0;
    qint64 m_backoffMs = 0;
    QString m_lastTarget; // domain and directory of the last order
    QString m_refusedDomain;
    QString m_refusedDirectory; // an AcmeDomain already reported as unusable
};
