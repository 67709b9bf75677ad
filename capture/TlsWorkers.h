#pragma once

#include "core/Clock.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include <vector>

class QThread;
class TlsHost;

// TLS connections served on threads of their own, so that handshakes (the costly part of a TLS
// visit: key exchange, signature) never hold up the listener's thread, where plain visits are
// read and every visit is processed. The listener hands over a connection's descriptor, unread,
// once its first byte says TLS; a worker thread does the handshake, reads the request header with
// the listener's limits (the handshake counts towards the idle limit) and hands the header back.
// Nothing is written after the handshake.
//
// Connections are spread over the threads in turn. Every method is for the thread that made the
// object; the signals arrive on it too.
class TlsWorkers final : public QObject
{
    Q_OBJECT
public:
    struct Limits
    {
        qsizetype maxHeaderBytes = 64 * 1024;
        qint64 idleTimeoutMs = 15'000;
    };

    // threads: at least 1. They start with start(), or at the first take().
    TlsWorkers(const Clock &clock, Limits limits, int threads = defaultThreadCount(), QObject *parent = nullptr);
    ~TlsWorkers() override;

    // One thread per processor, at most 4.
    static int defaultThreadCount();

    // Starts the threads (when not running yet). A thread needs descriptors of its own: start them
    // while there are some, not in the middle of a flood.
    void start();
    // Takes over the descriptor of a connection whose handshake waits to be read; id names it in
    // the signals; lastActivityMs: when the visitor was last heard of (the idle limit runs from
    // there).
    void take(quint64 id, int fd, const QSslConfiguration &configuration, qint64 lastActivityMs);
    // Closes the connection without waiting; finished follows with what had come.
    void abort(quint64 id);
    // Closes connections idle beyond the limit.
    void sweepIdle();
    // Connections being served.
    int count() const { return int(m_hostOf.size()); }

signals:
    // The handshake of a connection is done.
    void encrypted(quint64 id);
    // A connection ended and its descriptor is closed: the request header that came (at most
    // maxHeaderBytes, empty when none), or why the handshake failed (then no request).
    void finished(quint64 id, const QByteArray &request, const QString &handshakeFailure);

private:
    friend class TlsHost;
    void onEncrypted(quint64 id);
    void onFinished(quint64 id, const QByteArray &request, const QString &handshakeFailure);

    struct Worker
    {
        QThread *thread = nullptr;
        TlsHost *host = nullptr;
    };
    const Clock &m_clock;
    const Limits m_limits;
    const int m_threads;
    std::vector<Worker> m_workers;
    std::size_t m_next = 0;
    QHash<quint64, TlsHost *> m_hostOf;
};
