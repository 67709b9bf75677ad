#include "capture/TlsWorkers.h"

#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>
#include <QThread>

#include <algorithm>
#include <unordered_map>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <unistd.h>

namespace {
const QByteArray HeaderEnd("\r\n\r\n");

// The text of the last OpenSSL error of this thread (and the queue emptied).
QString sslError(const char *fallback)
{
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    if (code == 0)
        return QString::fromLatin1(fallback);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

// ALPN: HTTP/1.1 when the browser offers it; nothing else is spoken here.
int selectHttp11(
    SSL *, const unsigned char **out, unsigned char *outLength, const unsigned char *in, unsigned int inLength, void *)
{
    static const unsigned char http11[] = { 8, 'h', 't', 't', 'p', '/', '1', '.', '1' };
    unsigned char *selected = nullptr;
    if (SSL_select_next_proto(&selected, outLength, http11, sizeof http11, in, inLength) != OPENSSL_NPN_NEGOTIATED)
        return SSL_TLSEXT_ERR_NOACK;
    *out = selected;
    return SSL_TLSEXT_ERR_OK;
}

// A server context for a certificate chain and key: TLS 1.2 and 1.3, no client certificates,
// buffers given back while a connection waits. Null when OpenSSL refuses them.
SSL_CTX *serverContext(const QSslConfiguration &configuration)
{
    SSL_CTX *context = SSL_CTX_new(TLS_server_method());
    if (!context)
        return nullptr;
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
    SSL_CTX_set_alpn_select_cb(context, selectHttp11, nullptr);
    bool ok = true;
    const QList<QSslCertificate> chain = configuration.localCertificateChain();
    for (qsizetype i = 0; ok && i < chain.size(); ++i) {
        const QByteArray pem = chain.at(i).toPem();
        BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
        X509 *certificate = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
        // The leaf is the context's certificate; the others go with it (the context holds them).
        ok = certificate
            && (i == 0 ? SSL_CTX_use_certificate(context, certificate) == 1
                       : SSL_CTX_add0_chain_cert(context, certificate) == 1);
        if (certificate && (i == 0 || !ok))
            X509_free(certificate);
        BIO_free(bio);
    }
    const QByteArray keyPem = configuration.privateKey().toPem();
    BIO *bio = BIO_new_mem_buf(keyPem.constData(), int(keyPem.size()));
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    ok = ok && !chain.isEmpty() && key && SSL_CTX_use_PrivateKey(context, key) == 1
        && SSL_CTX_check_private_key(context) == 1;
    EVP_PKEY_free(key);
    BIO_free(bio);
    if (!ok) {
        ERR_clear_error();
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}
} // namespace

// The connections of one worker thread, served with OpenSSL on their nonblocking descriptors
// under one server context (made once per certificate: making one for every connection, as a
// QSslSocket does, cost more than the handshake). Lives on that thread; every call arrives
// there queued.
class TlsHost final : public QObject
{
public:
    TlsHost(TlsWorkers *owner, const Clock &clock, TlsWorkers::Limits limits)
        : m_owner(owner)
        , m_clock(clock)
        , m_limits(limits)
    { }

    ~TlsHost() override
    {
        closeAll();
        SSL_CTX_free(m_context);
    }

    void take(quint64 id, int fd, const QSslConfiguration &configuration, qint64 lastActivityMs)
    {
        SSL *ssl = nullptr;
        if (contextFor(configuration))
            ssl = SSL_new(m_context);
        if (!ssl || SSL_set_fd(ssl, fd) != 1) {
            SSL_free(ssl);
            ::close(fd);
            report(id, {}, sslError("no TLS context for the certificate"));
            return;
        }
        SSL_set_accept_state(ssl);
        Session &session = m_sessions[id];
        session.fd = fd;
        session.ssl = ssl;
        session.lastActivityMs = lastActivityMs;
        session.readable = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(session.readable, &QSocketNotifier::activated, this, [this, id] { serve(id); });
        session.writable = new QSocketNotifier(fd, QSocketNotifier::Write, this);
        session.writable->setEnabled(false);
        connect(session.writable, &QSocketNotifier::activated, this, [this, id] { serve(id); });
        serve(id);
    }

    void abort(quint64 id)
    {
        if (m_sessions.count(id))
            finish(id, {});
    }

    void sweepIdle()
    {
        const qint64 now = m_clock.monotonicMs();
        std::vector<quint64> idle;
        for (const auto &[id, session] : m_sessions) {
            if (now - session.lastActivityMs >= m_limits.idleTimeoutMs)
                idle.push_back(id);
        }
        // Oldest first, as the listener closes its own.
        std::sort(idle.begin(), idle.end());
        for (quint64 id : idle) {
            const bool handshakeDone = m_sessions.at(id).encrypted;
            finish(id,
                handshakeDone ? QString()
                              : QStringLiteral("no complete handshake within %1 s").arg(m_limits.idleTimeoutMs / 1000));
        }
    }

    void closeAll()
    {
        for (auto &[id, session] : m_sessions)
            release(session);
        m_sessions.clear();
    }

private:
    struct Session
    {
        int fd = -1;
        SSL *ssl = nullptr;
        QSocketNotifier *readable = nullptr;
        QSocketNotifier *writable = nullptr;
        QByteArray buffer;
        qint64 lastActivityMs = 0;
        bool encrypted = false;
    };

    bool contextFor(const QSslConfiguration &configuration)
    {
        const QList<QSslCertificate> chain = configuration.localCertificateChain();
        if (m_context && chain == m_chain && configuration.privateKey() == m_key)
            return true;
        SSL_CTX_free(m_context);
        m_context = serverContext(configuration);
        m_chain = chain;
        m_key = configuration.privateKey();
        return m_context != nullptr;
    }

    // Moves a connection on as far as its bytes allow: the handshake, then the request header.
    void serve(quint64 id)
    {
        const auto found = m_sessions.find(id);
        if (found == m_sessions.end())
            return;
        Session &session = found->second;
        session.writable->setEnabled(false);
        if (!session.encrypted) {
            ERR_clear_error();
            const int result = SSL_do_handshake(session.ssl);
            if (result != 1) {
                const int error = SSL_get_error(session.ssl, result);
                if (error == SSL_ERROR_WANT_READ)
                    return;
                if (error == SSL_ERROR_WANT_WRITE) {
                    session.writable->setEnabled(true);
                    return;
                }
                finish(id,
                    error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN
                        ? QStringLiteral("the visitor closed the connection during the handshake")
                        : sslError("the handshake failed"));
                return;
            }
            session.encrypted = true;
            session.lastActivityMs = m_clock.monotonicMs();
            QMetaObject::invokeMethod(
                m_owner, [owner = m_owner, id] { owner->onEncrypted(id); }, Qt::QueuedConnection);
        }
        // The request header, up to the limit; nothing past its empty line is needed.
        const qsizetype before = session.buffer.size();
        bool closed = false;
        char chunk[16 * 1024];
        while (session.buffer.size() < m_limits.maxHeaderBytes) {
            const int room = int(qMin<qsizetype>(sizeof chunk, m_limits.maxHeaderBytes - session.buffer.size()));
            ERR_clear_error();
            const int got = SSL_read(session.ssl, chunk, room);
            if (got > 0) {
                const qsizetype searchFrom = qMax<qsizetype>(0, session.buffer.size() - (HeaderEnd.size() - 1));
                session.buffer.append(chunk, got);
                if (session.buffer.indexOf(HeaderEnd, searchFrom) >= 0)
                    break;
                continue;
            }
            const int error = SSL_get_error(session.ssl, got);
            if (error == SSL_ERROR_WANT_READ)
                break;
            if (error == SSL_ERROR_WANT_WRITE) {
                session.writable->setEnabled(true);
                break;
            }
            closed = true; // the visitor closed (close_notify or not) or the connection broke
            break;
        }
        if (session.buffer.size() > before)
            session.lastActivityMs = m_clock.monotonicMs();
        const qsizetype searchFrom = qMax<qsizetype>(0, before - (HeaderEnd.size() - 1));
        const bool complete = session.buffer.size() > before && session.buffer.indexOf(HeaderEnd, searchFrom) >= 0;
        if (closed || complete || session.buffer.size() >= m_limits.maxHeaderBytes)
            finish(id, {});
    }

    // No close_notify either: nothing is written after the handshake.
    static void release(Session &session)
    {
        delete session.readable;
        delete session.writable;
        SSL_free(session.ssl);
        ::close(session.fd);
    }

    // Ends a connection and reports what came.
    void finish(quint64 id, const QString &failure)
    {
        const auto found = m_sessions.find(id);
        const QByteArray request = failure.isEmpty() ? std::move(found->second.buffer) : QByteArray();
        // The notifiers may be the ones whose signal runs now: they go once it has returned.
        found->second.readable->setEnabled(false);
        found->second.writable->setEnabled(false);
        found->second.readable->deleteLater();
        found->second.writable->deleteLater();
        found->second.readable = found->second.writable = nullptr;
        release(found->second);
        m_sessions.erase(found);
        report(id, request, failure);
    }

    void report(quint64 id, const QByteArray &request, const QString &failure)
    {
        QMetaObject::invokeMethod(
            m_owner, [owner = m_owner, id, request, failure] { owner->onFinished(id, request, failure); },
            Qt::QueuedConnection);
    }

    TlsWorkers *m_owner;
    const Clock &m_clock;
    const TlsWorkers::Limits m_limits;
    SSL_CTX *m_context = nullptr;
    QList<QSslCertificate> m_chain; // what m_context was made of
    QSslKey m_key;
    std::unordered_map<quint64, Session> m_sessions;
};

TlsWorkers::TlsWorkers(const Clock &clock, Limits limits, int threads, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_limits(limits)
    , m_threads(std::max(1, threads))
{ }

void TlsWorkers::start()
{
    if (!m_workers.empty())
        return;
    for (int i = 0; i < m_threads; ++i) {
        Worker worker;
        worker.thread = new QThread(this);
        worker.thread->setObjectName(QStringLiteral("TLS %1").arg(i + 1));
        worker.host = new TlsHost(this, m_clock, m_limits);
        worker.host->moveToThread(worker.thread);
        connect(worker.thread, &QThread::finished, worker.host, &QObject::deleteLater);
        worker.thread->start();
        m_workers.push_back(worker);
    }
}

TlsWorkers::~TlsWorkers()
{
    for (const Worker &worker : m_workers) {
        QMetaObject::invokeMethod(
            worker.host, [host = worker.host] { host->closeAll(); }, Qt::BlockingQueuedConnection);
        worker.thread->quit();
        worker.thread->wait();
    }
}

int TlsWorkers::defaultThreadCount()
{
    return std::clamp(QThread::idealThreadCount(), 1, 4);
}

void TlsWorkers::take(quint64 id, int fd, const QSslConfiguration &configuration, qint64 lastActivityMs)
{
    start();
    TlsHost *host = m_workers[m_next].host;
    m_next = (m_next + 1) % m_workers.size();
    m_hostOf.insert(id, host);
    QMetaObject::invokeMethod(
        host, [host, id, fd, configuration, lastActivityMs] { host->take(id, fd, configuration, lastActivityMs); },
        Qt::QueuedConnection);
}

void TlsWorkers::abort(quint64 id)
{
    if (TlsHost *host = m_hostOf.value(id))
        QMetaObject::invokeMethod(
            host, [host, id] { host->abort(id); }, Qt::QueuedConnection);
}

void TlsWorkers::sweepIdle()
{
    for (const Worker &worker : m_workers)
        QMetaObject::invokeMethod(
            worker.host, [host = worker.host] { host->sweepIdle(); }, Qt::QueuedConnection);
}

void TlsWorkers::onEncrypted(quint64 id)
{
    if (m_hostOf.contains(id))
        emit encrypted(id);
}

void TlsWorkers::onFinished(quint64 id, const QByteArray &request, const QString &handshakeFailure)
{
    m_hostOf.remove(id);
    emit finished(id, request, handshakeFailure);
}
