#include "Listener.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr char TlsHandshakeByte = 0x16;
const QByteArray HeaderEnd("\r\n\r\n");

QString dottedAddress(const QHostAddress &address)
{
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
    , m_server(new QTcpServer(this))
    , m_sweepTimer(new QTimer(this))
{
    // Browsers of many visitors may connect at the same moment: leave room in the kernel's queue.
    m_server->setListenBacklogSize(1024);
    m_server->setMaxPendingConnections(m_limits.maxConnections);
    connect(m_server, &QTcpServer::newConnection, this, &Listener::onNewConnection);
    connect(m_server, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        emit acceptError(m_server->errorString());
    });
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

void Listener::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (static_cast<int>(m_connections.size()) >= m_limits.maxConnections && !m_connections.empty())
            finish(m_connections.begin(), true);
        Connection connection;
        connection.socket = socket;
        connection.remoteAddress = dottedAddress(socket->peerAddress());
        connection.lastActivityMs = m_clock.monotonicMs();
        m_connections.push_back(std::move(connection));
        m_bySocket.insert(socket, std::prev(m_connections.end()));
        socket->setReadBufferSize(m_limits.maxHeaderBytes);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onClosed(socket); });
        connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) { onClosed(socket); });
        // Bytes may already be waiting.
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
        else if (socket->state() != QAbstractSocket::ConnectedState)
            onClosed(socket);
    }
}

void Listener::onReadyRead(QTcpSocket *socket)
{
    const auto found = m_bySocket.constFind(socket);
    if (found == m_bySocket.constEnd())
        return;
    const ConnectionList::iterator it = found.value();
    Connection &connection = *it;
    const qsizetype before = connection.buffer.size();
    const qsizetype room = m_limits.maxHeaderBytes - before;
    connection.buffer.append(socket->read(room));
    if (connection.buffer.size() == before)
        return;

    if (before == 0 && connection.buffer.front() == TlsHandshakeByte) {
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

    connection.lastActivityMs = m_clock.monotonicMs();
    m_connections.splice(m_connections.end(), m_connections, it); // now the most recently active

    // Look for the end of the header only where new bytes could have completed it.
    const qsizetype searchFrom = qMax<qsizetype>(0, before - (HeaderEnd.size() - 1));
    if (connection.buffer.indexOf(HeaderEnd, searchFrom) >= 0 || connection.buffer.size() >= m_limits.maxHeaderBytes)
        finish(it, true);
}

void Listener::onClosed(QTcpSocket *socket)
{
    const auto found = m_bySocket.constFind(socket);
    if (found == m_bySocket.constEnd())
        return;
    // Bytes that arrived together with the close are still part of the request.
    const ConnectionList::iterator it = found.value();
    if (socket->bytesAvailable() > 0 && it->buffer.size() < m_limits.maxHeaderBytes)
        it->buffer.append(socket->read(m_limits.maxHeaderBytes - it->buffer.size()));
    if (!it->buffer.isEmpty() && it->buffer.front() == TlsHandshakeByte) {
        finish(it, false);
        return;
    }
    finish(it, true);
}

void Listener::finish(ConnectionList::iterator it, bool report)
{
    QTcpSocket *socket = it->socket;
    const QByteArray request = std::move(it->buffer);
    const QString remote = std::move(it->remoteAddress);
    m_bySocket.remove(socket);
    m_connections.erase(it);

    socket->disconnect(this);
    // Nothing was written and nothing is left to send: the visitor sees the connection end
    // (a plain FIN) without a reply. abort() skips the closing handshake's bookkeeping.
    socket->abort();
    socket->deleteLater();

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
