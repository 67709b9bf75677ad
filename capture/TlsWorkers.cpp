#include "capture/TlsWorkers.h"

#include <QSslSocket>
#include <QThread>

#include <algorithm>
#include <unordered_map>

#include <unistd.h>

namespace {
const QByteArray HeaderEnd("\r\n\r\n");
} // namespace

// The connections of one worker thread. Lives on that thread; every call arrives there queued.
class TlsHost final : public QObject
{
public:
    TlsHost(TlsWorkers *owner, const Clock &clock, TlsWorkers::Limits limits)
        : m_owner(owner)
        , m_clock(clock)
        , m_limits(limits)
    { }

    void take(quint64 id, int fd, const QSslConfiguration &configuration, qint64 lastActivityMs)
    {
        auto *socket = new QSslSocket(this);
        socket->setSslConfiguration(configuration);
        socket->setReadBufferSize(m_limits.maxHeaderBytes);
        if (!socket->setSocketDescriptor(fd, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
            delete socket;
            ::close(fd);
            report(id, {}, {});
            return;
        }
        Session &session = m_sessions[id];
        session.socket = socket;
        session.lastActivityMs = lastActivityMs;
        connect(socket, &QSslSocket::encrypted, this, [this, id] {
            const auto found = m_sessions.find(id);
            if (found == m_sessions.end())
                return;
            found->second.encrypted = true;
            found->second.lastActivityMs = m_clock.monotonicMs();
            QMetaObject::invokeMethod(
                m_owner, [owner = m_owner, id] { owner->onEncrypted(id); }, Qt::QueuedConnection);
        });
        connect(socket, &QSslSocket::readyRead, this, [this, id] { onReadable(id, false); });
        connect(socket, &QSslSocket::errorOccurred, this, [this, id](QAbstractSocket::SocketError) {
            const auto found = m_sessions.find(id);
            if (found == m_sessions.end())
                return;
            if (found->second.encrypted) {
                // After the handshake: the visitor closed or the connection broke; what arrived
                // is the request.
                onReadable(id, true);
                return;
            }
            QSslSocket *failed = found->second.socket;
            finish(id,
                failed->error() == QAbstractSocket::RemoteHostClosedError
                    ? QStringLiteral("the visitor closed the connection during the handshake")
                    : failed->errorString());
        });
        socket->startServerEncryption();
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
        for (auto &[id, session] : m_sessions) {
            session.socket->disconnect(this);
            session.socket->abort();
            delete session.socket;
        }
        m_sessions.clear();
    }

private:
    struct Session
    {
        QSslSocket *socket = nullptr;
        QByteArray buffer;
        qint64 lastActivityMs = 0;
        bool encrypted = false;
    };

    void onReadable(quint64 id, bool closed)
    {
        const auto found = m_sessions.find(id);
        if (found == m_sessions.end())
            return;
        Session &session = found->second;
        const qsizetype before = session.buffer.size();
        const qsizetype room = m_limits.maxHeaderBytes - before;
        if (room > 0)
            session.buffer.append(session.socket->read(room));
        if (session.buffer.size() > before)
            session.lastActivityMs = m_clock.monotonicMs();
        const qsizetype searchFrom = qMax<qsizetype>(0, before - (HeaderEnd.size() - 1));
        const bool complete = session.buffer.size() > before && session.buffer.indexOf(HeaderEnd, searchFrom) >= 0;
        if (closed || complete || session.buffer.size() >= m_limits.maxHeaderBytes)
            finish(id, {});
    }

    // Ends a connection: aborted, not closed (no close_notify either: nothing is written), and
    // reports what came.
    void finish(quint64 id, const QString &failure)
    {
        const auto found = m_sessions.find(id);
        QSslSocket *socket = found->second.socket;
        const QByteArray request = failure.isEmpty() ? std::move(found->second.buffer) : QByteArray();
        m_sessions.erase(found);
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
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
