#pragma once

#include "publish/AcmeCrypto.h"
#include "publish/HttpRequest.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <functional>

class AcmeChallenges;

// What one certificate order needs.
struct AcmeRequest
{
    QString directoryUrl; // the CA's ACME directory
    QString domain; // the one name of the certificate
    QString email; // contact of the account; empty for none
    QString caFile; // an extra authority for the CA's own TLS certificate (the CAFile option)
    int timeoutMs = 10000; // each exchange
    // How long the validation and the issuing may take before the order is given up.
    int pollLimitMs = 120000;
};

// How an order ended.
struct AcmeOutcome
{
    bool ok = false;
    QByteArray certificatePem; // the chain, leaf first
    QByteArray keyPem; // the certificate's private key
    QString error; // why it failed, for the event log
    QString problemType; // the server's error document type ("urn:ietf:params:acme:error:...")
    qint64 retryAfterSeconds = -1; // the server's Retry-After of the failing answer, if it sent one
};

// An ACME client (RFC 8555) for one certificate with the HTTP-01 challenge. obtain() runs the
// whole order synchronously, so it belongs on a worker thread: directory, nonce, account (created
// or found by its key), order, each authorization's http-01 challenge (the answer is published
// to the listener's AcmeChallenges, then the server is asked to validate), finalisation with a
// CSR for a fresh P-256 key, and the certificate chain. Every request is a JWS signed with the
// account key (ES256); a badNonce error is retried with the fresh nonce, up to three times.
// Polls wait as the server's Retry-After says (1 s when it says nothing).
class AcmeClient final
{
public:
    // Waits a number of milliseconds; returns false when the order should stop (shut-down).
    using SleepFn = std::function<bool(qint64 ms)>;

    AcmeClient(AcmeRequest request, const AcmeCrypto::Key &accountKey, AcmeChallenges &challenges);

    // The default sleeps in short steps and stops when stop() was called or the program's web
    // exchanges were aborted.
    void setSleep(SleepFn sleep) { m_sleep = std::move(sleep); }
    // Ends a running obtain() at its next wait (from any thread).
    void stop() { m_stopped = true; }

    AcmeOutcome obtain();

    // A server's wait is honoured up to this long (30 days).
    static constexpr qint64 MaxRetryAfterSeconds = 30LL * 24 * 3600;
    // "Retry-After": delay seconds or an HTTP date, at most MaxRetryAfterSeconds; -1 when absent
    // or unreadable.
    static qint64 retryAfterSeconds(const QString &value, const QDateTime &now);

private:
    struct Answer
    {
        int status = 0;
        QByteArray body;
        QJsonObject json;
        QString location;
        QString retryAfter;
    };

    QJsonObject getDirectory();
    void newNonce();
    Answer post(const QString &url, const QByteArray &payload, const QString &accept = QString());
    Answer postAsGet(const QString &url, const QString &accept = QString());
    [[noreturn]] void fail(const Answer &answer, const QString &what);
    void wait(const Answer &answer, qint64 &waitedMs);
    void validate(const QString &authorizationUrl);

    AcmeRequest m_request;
    const AcmeCrypto::Key &m_accountKey;
    AcmeChallenges &m_challenges;
    HttpRequest m_http;
    SleepFn m_sleep;
    std::atomic<bool> m_stopped { false };
    QString m_nonce;
    QString m_kid;
    QJsonObject m_directory;
};
