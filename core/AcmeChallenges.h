#pragma once

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <mutex>
#include <optional>

// The HTTP-01 answers of the certificate orders in progress: token -> key authorization. The
// certificate client (on a worker thread) publishes an answer before it asks the server to
// validate and withdraws it afterwards; the listener (on the user-interface thread) answers
// "GET /.well-known/acme-challenge/<token>" with it. Safe to use from any thread.
class AcmeChallenges final
{
public:
    // "/.well-known/acme-challenge/"
    static QByteArray pathPrefix();

    void publish(const QByteArray &token, const QByteArray &keyAuthorization);
    void withdraw(const QByteArray &token);
    std::optional<QByteArray> answer(const QByteArray &token) const;
    // Whether any answer is published (no lock: the listener asks this for every request).
    bool isEmpty() const { return m_count.load(std::memory_order_acquire) == 0; }

    // The full HTTP answer for a request header: "HTTP/1.1 200 OK" with the key authorization
    // when the request line is "GET <prefix><token> HTTP/1.x" for a published token; no value
    // for any other request.
    std::optional<QByteArray> responseFor(const QByteArray &request) const;

private:
    mutable std::mutex m_mutex;
    QHash<QByteArray, QByteArray> m_answers;
    std::atomic<int> m_count { 0 };
};
