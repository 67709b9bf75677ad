#include "capture/Listener.h"

#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The listening socket; accepted descriptors go straight to the listener.
class ListenerServer final : public QTcpServer
{
public:
    explicit ListenerServer(Listener *listener)
        : QTcpServer(listener)
        , m_listener(listener)
    { }

protected:
    void incomingConnection(qintptr descriptor) override { m_listener->onAccepted(descriptor); }

private:
    Listener *m_listener;
};

namespace {
constexpr char TlsHandshakeByte = 0x16;
const QByteArray HeaderEnd("\r\n\r\n");

QString peerAddress(int fd)
{
    sockaddr_storage storage {};
    socklen_t length = sizeof storage;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return {};
    QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(v4).toString();
    return address.toString();
}
} // namespace

Listener::Listener(const Clock &clock, ListenerLimits limits, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_limits(limits)
    , m_server(new ListenerServer(this))
    , m_sweepTimer(new QTimer(this))
{
    // Browsers of many visitors may connect at the same moment: leave room in the kernel's queue.
    m_server->setListenBacklogSize(1024);
    connect(m_server, &QTcpServer::acceptError, this,
        [this](QAbstractSocket::SocketError) { emit acceptError(m_server->errorString()); });
    m_sweepTimer->setInterval(static_cast<int>(m_limits.sweepIntervalMs));
    connect(m_sweepTimer, &QTimer::timeout, this, &Listener::sweepIdle);
}

Listener::~Listener()
{
    close();
    while (!m_connections.empty())
        finish(m_connections.begin(), false);
}

bool Listener::listen(qint16 port, QString *error)
{
    m_server->close();
    if (port < 0) {
        if (error)
            *error = QStringLiteral("Invalid port number %1").arg(port);
        return false;
    }
    if (!m_server->listen(QHostAddress::Any, static_cast<quint16>(port))) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    m_sweepTimer->start();
    return true;
}

void Listener::close()
{
    m_server->close();
}

bool Listener::isListening() const
{
    return m_server->isListening();
}

quint16 Listener::serverPort() const
{
    return m_server->serverPort();
}

void Listener::onAccepted(qintptr descriptor)
{
    const int fd = static_cast<int>(descriptor);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (static_cast<int>(m_connections.size()) >= m_limits.maxConnections && !m_connections.empty())
        finish(m_connections.begin(), true);
    Connection connection;
    connection.fd = fd;
    connection.remoteAddress = peerAddress(fd);
    connection.lastActivityMs = m_clock.monotonicMs();
    m_connections.push_back(std::move(connection));
    const ConnectionList::iterator it = std::prev(m_connections.end());
    m_byDescriptor.insert(fd, it);
    // The request often arrives together with the connection: read before waiting.
    onReadable(fd);
    const auto found = m_byDescriptor.constFind(fd);
    if (found == m_byDescriptor.constEnd() || found.value() != it)
        return; // already finished
    it->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(it->notifier, &QSocketNotifier::activated, this,
        [this](QSocketDescriptor socket) { onReadable(static_cast<int>(qintptr(socket))); });
}

void Listener::onReadable(int fd)
{
    const auto found = m_byDescriptor.constFind(fd);
    if (found == m_byDescriptor.constEnd())
        return;
    const ConnectionList::iterator it = found.value();
    Connection &connection = *it;
    const qsizetype before = connection.buffer.size();
    bool closed = false;
    char chunk[16 * 1024];
    while (connection.buffer.size() < m_limits.maxHeaderBytes) {
        const size_t room
            = static_cast<size_t>(qMin<qsizetype>(sizeof chunk, m_limits.maxHeaderBytes - connection.buffer.size()));
        const ssize_t got = ::read(fd, chunk, room);
        if (got > 0) {
            connection.buffer.append(chunk, got);
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        closed = true; // the visitor closed (0) or the connection broke (reset, ...)
        break;
    }

    if (connection.buffer.size() > 0 && connection.buffer.front() == TlsHandshakeByte) {
        const qint64 now = m_clock.monotonicMs();
        const bool notice = !m_tlsNoticed || now - m_lastTlsNoticeMs >= m_limits.tlsNoticeIntervalMs;
        finish(it, false);
        if (notice) {
            m_tlsNoticed = true;
            m_lastTlsNoticeMs = now;
            emit tlsRefused();
        }
        return;
    }
    if (connection.buffer.size() > before) {
        m_receivedBytes += connection.buffer.size() - before;
        connection.lastActivityMs = m_clock.monotonicMs();
        m_connections.splice(m_connections.end(), m_connections, it); // now the most recently active
    }
    // Look for the end of the header only where new bytes could have completed it.
    const qsizetype searchFrom = qMax<qsizetype>(0, before - (HeaderEnd.size() - 1));
    if (closed || connection.buffer.size() >= m_limits.maxHeaderBytes
        || (connection.buffer.size() > before && connection.buffer.indexOf(HeaderEnd, searchFrom) >= 0))
        finish(it, true);
}

void Listener::finish(ConnectionList::iterator it, bool report)
{
    const int fd = it->fd;
    QSocketNotifier *notifier = it->notifier;
    const QByteArray request = std::move(it->buffer);
    const QString remote = std::move(it->remoteAddress);
    m_byDescriptor.remove(fd);
    m_connections.erase(it);

    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    // Nothing was written: the visitor sees the connection end without a reply.
    ::close(fd);

    // A connection that never sent a byte is not a visit.
    if (report && !request.isEmpty())
        emit requestFinished(request, remote);
}

void Listener::sweepIdle()
{
    const qint64 now = m_clock.monotonicMs();
    while (!m_connections.empty() && now - m_connections.front().lastActivityMs >= m_limits.idleTimeoutMs)
        finish(m_connections.begin(), true);
}
