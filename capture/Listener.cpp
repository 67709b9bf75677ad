#include "capture/Listener.h"

#include "capture/TlsWorkers.h"
#include "capture/VisitorAddress.h"
#include "core/AcmeChallenges.h"
#include "core/Console.h"
#include "core/FileLimits.h"

#include <QHostAddress>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr char TlsHandshakeByte = 0x16;
// Connections accepted in one turn of the event loop at most, so reading keeps up under a flood.
constexpr int MaxAcceptsPerTurn = 256;
// Connections read in one turn at most.
constexpr int MaxReadsPerTurn = 256;
const QByteArray HeaderEnd("\r\n\r\n");

// Where the header's empty line ends in the buffer, looking from position from; -1: not yet.
qsizetype headerEnd(const QByteArray &buffer, qsizetype from)
{
    const char *data = buffer.constData();
    const qsizetype last = buffer.size() - HeaderEnd.size(); // the last position it can start at
    for (qsizetype at = qMax<qsizetype>(0, from); at <= last;) {
        const void *cr = std::memchr(data + at, '\r', size_t(last - at + 1));
        if (!cr)
            return -1;
        at = static_cast<const char *>(cr) - data;
        if (std::memcmp(data + at, HeaderEnd.constData(), size_t(HeaderEnd.size())) == 0)
            return at;
        ++at;
    }
    return -1;
}

// The visitor's address as the program shows it: dotted IPv4 (also for an IPv4 visitor on an IPv6
// socket), or the canonical IPv6 text without a zone.
QString peerText(const sockaddr_storage &storage)
{
    if (storage.ss_family != AF_INET && storage.ss_family != AF_INET6)
        return {};
    return VisitorAddress::fromSockaddr(reinterpret_cast<const sockaddr *>(&storage));
}

// The visitor's address (an IPv4 visitor on an IPv6 socket as plain IPv4).
QHostAddress peerAddress(const sockaddr_storage &storage)
{
    if (storage.ss_family != AF_INET && storage.ss_family != AF_INET6)
        return {};
    QHostAddress address(reinterpret_cast<const sockaddr *>(&storage));
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

// Whether a connection waits on the listening socket.
bool connectionWaiting(int listening)
{
    pollfd entry { listening, POLLIN, 0 };
    return ::poll(&entry, 1, 0) > 0 && (entry.revents & POLLIN);
}

// At most one notice per interval; the first one always.
bool noticeDue(bool &noticed, qint64 &lastMs, qint64 nowMs, qint64 intervalMs)
{
    if (noticed && nowMs - lastMs < intervalMs)
        return false;
    noticed = true;
    lastMs = nowMs;
    return true;
}
} // namespace

class Listener::Turn final
{
public:
    explicit Turn(Listener &listener)
        : m_listener(listener)
    {
        ++m_listener.m_turnDepth;
    }
    ~Turn()
    {
        if (--m_listener.m_turnDepth > 0)
            return;
        // The visitors' connections end first; then their requests are reported.
        if (!m_listener.m_closing.empty()) {
            m_listener.m_closer->close(m_listener.m_closing);
            m_listener.m_closing.clear();
        }
        const QPointer<Listener> alive(&m_listener);
        for (const Finished &finished : std::exchange(m_listener.m_finished, {})) {
            emit m_listener.requestFinished(finished.request, finished.remoteAddress, false);
            if (!alive)
                return;
        }
    }
    Turn(const Turn &) = delete;
    Turn &operator=(const Turn &) = delete;

private:
    Listener &m_listener;
};

Listener::Listener(const Clock &clock, ListenerLimits limits, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_limits(limits)
    , m_server(new QTcpServer(this))
    , m_sweepTimer(new QTimer(this))
    , m_acceptRetryTimer(new QTimer(this))
    , m_cap(connectionCapFor(m_limits.maxConnections, FileLimits::current(), m_limits.reservedDescriptors))
    , m_tlsWorkers(new TlsWorkers(
          clock, { m_limits.maxHeaderBytes, m_limits.idleTimeoutMs }, TlsWorkers::defaultThreadCount(), this))
    , m_closer(std::make_unique<DescriptorCloser>())
{
    connect(m_tlsWorkers, &TlsWorkers::encrypted, this, &Listener::onTlsEncrypted);
    connect(m_tlsWorkers, &TlsWorkers::finished, this, &Listener::onTlsFinished);
    // Browsers of many visitors may connect at the same moment: leave room in the kernel's queue.
    m_server->setListenBacklogSize(1024);
    m_sweepTimer->setInterval(static_cast<int>(m_limits.sweepIntervalMs));
    connect(m_sweepTimer, &QTimer::timeout, this, &Listener::sweepIdle);
    m_acceptRetryTimer->setSingleShot(true);
    m_acceptRetryTimer->setInterval(static_cast<int>(m_limits.acceptRetryMs));
    connect(m_acceptRetryTimer, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

void Listener::closeDescriptor(int fd)
{
    // Closed on the closer's thread, but at once while descriptors are short: the next visitor
    // needs this one.
    if (m_lastShortageMs >= 0 && m_clock.monotonicMs() - m_lastShortageMs < ShortageCloseMs)
        ::close(fd);
    else if (m_turnDepth > 0)
        m_closing.push_back(fd);
    else
        m_closer->close(fd);
}

Listener::~Listener()
{
    close();
    while (!m_connections.empty())
        finish(m_connections.begin(), false);
    // The workers close theirs as they stop.
    delete m_tlsWorkers;
    delete m_epollNotifier;
    if (m_epoll >= 0)
        ::close(m_epoll);
}

int Listener::connectionCapFor(int maxConnections, qint64 descriptorLimit, int reservedDescriptors)
{
    const qint64 room = qMax(descriptorLimit - reservedDescriptors, descriptorLimit / 2);
    return int(qBound(qint64(1), room, qint64(qMax(1, maxConnections))));
}

QByteArray Listener::sourceKey(const QHostAddress &address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4) {
        QByteArray key(5, '4');
        for (int i = 0; i < 4; ++i)
            key[4 - i] = char((v4 >> (8 * i)) & 0xff);
        return key;
    }
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return QByteArray(1, '6') + QByteArray(reinterpret_cast<const char *>(v6.c), 8);
}

int Listener::openConnectionsFrom(const QHostAddress &address) const
{
    const auto found = m_sources.find(sourceKey(address));
    return found == m_sources.end() ? 0 : int(found->second.size());
}

bool Listener::listen(qint16 port, QString *error)
{
    close();
    m_cap = connectionCapFor(m_limits.maxConnections, FileLimits::current(), m_limits.reservedDescriptors);
    if (port < 0) {
        if (error)
            *error = QStringLiteral("Invalid port number %1").arg(port);
        return false;
    }
    if (m_epoll < 0) {
        m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
        if (m_epoll < 0) {
            if (error)
                *error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        m_epollNotifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
        connect(m_epollNotifier, &QSocketNotifier::activated, this, &Listener::readReady);
    }
    if (!m_server->listen(QHostAddress::Any, static_cast<quint16>(port))) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    // QTcpServer binds and listens; accepting is done here, because QTcpServer takes a want of
    // descriptors (EMFILE) for a passing condition and tries again at once, for ever.
    m_server->pauseAccepting();
    if (m_limits.deferAcceptSeconds > 0) {
        const int seconds = m_limits.deferAcceptSeconds;
        ::setsockopt(int(m_server->socketDescriptor()), IPPROTO_TCP, TCP_DEFER_ACCEPT, &seconds, sizeof seconds);
    }
    if (m_tlsConfiguration)
        m_tlsWorkers->start();
    m_acceptNotifier = new QSocketNotifier(m_server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_acceptNotifier, &QSocketNotifier::activated, this, &Listener::acceptPending);
    m_sweepTimer->start();
    return true;
}

QAbstractSocket::SocketError Listener::lastListenError() const
{
    return m_server->serverError();
}

void Listener::close()
{
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        m_acceptNotifier->deleteLater();
        m_acceptNotifier = nullptr;
    }
    m_server->close();
    m_acceptRetryTimer->stop();
}

void Listener::acceptPending()
{
    if (!m_acceptNotifier)
        return;
    const int listening = int(m_server->socketDescriptor());
    // Headless, the lines of all the visits of this turn reach standard output in one write.
    const Console::LineBatch lines;
    const Turn turn(*this);
    for (int accepted = 0; accepted < MaxAcceptsPerTurn; ++accepted) {
        // The visitor's address comes with the connection: no getpeername() afterwards.
        sockaddr_storage peer {};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(listening, reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            onAccepted(fd, peer);
            if (!m_acceptNotifier)
                return; // closed meanwhile
            continue;
        }
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            return;
        if (error == EINTR || error == ECONNABORTED || error == EPROTO)
            continue; // that connection is gone; the next may be fine
        if (FileLimits::isShortage(error) || error == ENOBUFS || error == ENOMEM) {
            // accept() looks for a free descriptor before it looks at the queue: with none free
            // it fails even when nobody waits, and then no room is needed.
            if (!connectionWaiting(listening))
                return;
            ++m_failedAccepts;
            if (!onDescriptorShortage())
                return;
            continue;
        }
        ++m_failedAccepts;
        m_acceptNotifier->setEnabled(false);
        emit acceptError(QString::fromLocal8Bit(std::strerror(error)));
        return;
    }
}

bool Listener::isListening() const
{
    return m_server->isListening();
}

quint16 Listener::serverPort() const
{
    return m_server->serverPort();
}

void Listener::onAccepted(int fd, const sockaddr_storage &peer)
{
    QString addressText = peerText(peer);
    // The kernel hands connections over once their request has come (deferAcceptSeconds): most
    // are complete now, and are finished without ever taking a place among the open ones.
    if (isPlain(fd)) {
        QByteArray buffer;
        bool closed = false;
        const bool complete = readInto(fd, buffer, &closed);
        if (finishUnlisted(fd, buffer, closed, complete, addressText))
            return;
        acceptedListed(fd, peer, std::move(addressText), std::move(buffer), true);
        return;
    }
    acceptedListed(fd, peer, std::move(addressText), QByteArray(), false);
}

bool Listener::isPlain(int fd) const
{
    // As in onReadable: with a certificate, only a first byte that is there and no handshake's.
    if (!m_tlsConfiguration)
        return true;
    if (!m_tlsConfiguration() && !(m_tlsPending && m_tlsPending()))
        return true;
    return peekFirstByte(fd) == FirstByte::Plain;
}

bool Listener::readInto(int fd, QByteArray &buffer, bool *closed) const
{
    char chunk[16 * 1024];
    while (buffer.size() < m_limits.maxHeaderBytes) {
        const size_t room = static_cast<size_t>(qMin<qsizetype>(sizeof chunk, m_limits.maxHeaderBytes - buffer.size()));
        const ssize_t got = ::read(fd, chunk, room);
        if (got > 0) {
            const qsizetype searchFrom = buffer.size() - (HeaderEnd.size() - 1);
            buffer.append(chunk, got);
            // Nothing after the header's empty line is read: no need to wait for more.
            if (headerEnd(buffer, searchFrom) >= 0)
                return true;
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return false;
        *closed = true; // the visitor closed (0) or the connection broke (reset, ...)
        return false;
    }
    return false;
}

bool Listener::finishUnlisted(int fd, QByteArray &buffer, bool closed, bool complete, const QString &remote)
{
    if (!buffer.isEmpty() && buffer.front() == TlsHandshakeByte) {
        closeDescriptor(fd);
        if (noticeDue(m_tlsNoticed, m_lastTlsNoticeMs, m_clock.monotonicMs(), m_limits.tlsNoticeIntervalMs))
            emit tlsRefused();
        return true;
    }
    if (!complete && !closed && buffer.size() < m_limits.maxHeaderBytes)
        return false;
    m_receivedBytes += buffer.size();
    const bool answered = complete && answerChallenge(fd, buffer);
    closeDescriptor(fd);
    // A connection that never sent a byte is not a visit.
    if (!answered && !buffer.isEmpty())
        reportFinished(std::move(buffer), remote);
    return true;
}

void Listener::reportFinished(QByteArray request, QString remote)
{
    if (m_turnDepth > 0)
        m_finished.push_back({ std::move(request), std::move(remote) });
    else
        emit requestFinished(request, remote, false);
}

void Listener::acceptedListed(int fd, const sockaddr_storage &peer, QString addressText, QByteArray buffer, bool read)
{
    QByteArray source = sourceKey(peerAddress(peer));
    const auto own = m_sources.find(source);
    if (own != m_sources.end() && int(own->second.size()) >= m_limits.maxPerSource) {
        finish(own->second.front(), true); // the source's own connection idle the longest
    } else if (int(m_connections.size()) >= m_cap && !closeForRoom()) {
        ::close(fd); // every open connection is a visitor's in the middle of its request
        return;
    }
    Connection connection;
    connection.fd = fd;
    connection.remoteAddress = std::move(addressText);
    connection.source = std::move(source);
    connection.lastActivityMs = m_clock.monotonicMs();
    connection.acceptedMs = connection.lastActivityMs;
    if (!buffer.isEmpty()) {
        m_receivedBytes += buffer.size();
        connection.headerStartedMs = connection.lastActivityMs;
        connection.buffer = std::move(buffer);
    }
    m_connections.push_back(std::move(connection));
    const ConnectionList::iterator it = std::prev(m_connections.end());
    it->inAge = m_byAge.insert(m_byAge.end(), &*it);
    SourceList &sourceList = m_sources[it->source];
    it->inSource = sourceList.insert(sourceList.end(), &*it);
    m_byDescriptor.insert(fd, it);
    // Unless it was read already (what came so far is no complete request), the request often
    // arrives together with the connection: read before waiting.
    if (!read)
        onReadable(fd);
    const auto found = m_byDescriptor.constFind(fd);
    if (found == m_byDescriptor.constEnd() || found.value() != it || it->waitingForTls)
        return; // already finished, served by the TLS workers, or waiting for them
    // Edge-triggered: every read goes on until the socket has nothing more (or the header is
    // complete, which finishes the connection). Bytes that came since are reported at once.
    epoll_event watch {};
    watch.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    watch.data.fd = fd;
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &watch) != 0) {
        finish(it, true); // no room to watch it (the kernel's limit on watches)
        return;
    }
    it->watched = true;
}

void Listener::readReady()
{
    const Console::LineBatch lines;
    const Turn turn(*this);
    epoll_event events[MaxReadsPerTurn];
    int ready;
    do {
        ready = ::epoll_wait(m_epoll, events, MaxReadsPerTurn, 0);
    } while (ready < 0 && errno == EINTR);
    // Nothing is accepted during the turn: an event names a connection that was in the tables
    // when the set was read, or one finished since (no longer in them).
    for (int i = 0; i < ready; ++i) {
        const auto found = m_byDescriptor.constFind(events[i].data.fd);
        if (found != m_byDescriptor.constEnd() && !found.value()->waitingForTls)
            onReadable(events[i].data.fd);
    }
}

void Listener::onReadable(int fd)
{
    const auto found = m_byDescriptor.constFind(fd);
    if (found == m_byDescriptor.constEnd())
        return;
    const ConnectionList::iterator it = found.value();
    Connection &connection = *it;
    // With a certificate, the connection's first byte decides its kind, and only once it is
    // there: a connection read before its first byte arrived would take a ClientHello that lands
    // meanwhile for a plain request. Without a certificate nothing is looked at before reading.
    if (connection.buffer.isEmpty() && m_tlsConfiguration) {
        const std::optional<QSslConfiguration> configuration = m_tlsConfiguration();
        if (configuration || (m_tlsPending && m_tlsPending())) {
            switch (peekFirstByte(fd)) {
            case FirstByte::Tls:
                if (configuration) {
                    startTls(it, *configuration);
                } else {
                    // The certificate is still being read: the handshake waits for it.
                    connection.waitingForTls = true;
                    m_waitingForTls.push_back(fd);
                }
                return;
            case FirstByte::NotYet:
                return; // the epoll set reports it when it comes
            case FirstByte::Plain:
                break;
            }
        }
    }
    const qsizetype before = connection.buffer.size();
    bool closed = false;
    readInto(fd, connection.buffer, &closed);

    if (connection.buffer.size() > 0 && connection.buffer.front() == TlsHandshakeByte) {
        const bool notice
            = noticeDue(m_tlsNoticed, m_lastTlsNoticeMs, m_clock.monotonicMs(), m_limits.tlsNoticeIntervalMs);
        finish(it, false);
        if (notice)
            emit tlsRefused();
        return;
    }
    afterRead(it, before, closed);
}

void Listener::afterRead(ConnectionList::iterator it, qsizetype before, bool closed)
{
    Connection &connection = *it;
    if (connection.buffer.size() > before) {
        m_receivedBytes += connection.buffer.size() - before;
        connection.lastActivityMs = m_clock.monotonicMs();
        if (connection.headerStartedMs < 0)
            connection.headerStartedMs = connection.lastActivityMs;
        // Now the most recently active, of all and of its source.
        m_connections.splice(m_connections.end(), m_connections, it);
        SourceList &sourceList = m_sources[connection.source];
        sourceList.splice(sourceList.end(), sourceList, connection.inSource);
    }
    // Look for the end of the header only where new bytes could have completed it.
    const qsizetype searchFrom = qMax<qsizetype>(0, before - (HeaderEnd.size() - 1));
    const bool complete = connection.buffer.size() > before && headerEnd(connection.buffer, searchFrom) >= 0;
    if (complete && answerChallenge(connection.fd, connection.buffer)) {
        finish(it, false); // answered: no visit
        return;
    }
    if (closed || complete || connection.buffer.size() >= m_limits.maxHeaderBytes)
        finish(it, true);
}

Listener::FirstByte Listener::peekFirstByte(int fd)
{
    char first = 0;
    ssize_t got;
    do {
        got = ::recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT);
    } while (got < 0 && errno == EINTR);
    if (got == 1)
        return first == TlsHandshakeByte ? FirstByte::Tls : FirstByte::Plain;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return FirstByte::NotYet;
    return FirstByte::Plain; // closed or broken: the read says so
}

bool Listener::answerChallenge(int fd, const QByteArray &request)
{
    if (!m_challenges || m_challenges->isEmpty())
        return false;
    const std::optional<QByteArray> answer = m_challenges->responseFor(request);
    if (!answer)
        return false;
    // A few hundred bytes: they fit the socket's send buffer at once.
    ssize_t sent;
    do {
        sent = ::send(fd, answer->constData(), size_t(answer->size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (sent < 0 && errno == EINTR);
    return true;
}

void Listener::startTls(ConnectionList::iterator it, const QSslConfiguration &configuration)
{
    const int fd = it->fd;
    // The descriptor is the workers' from now on.
    if (it->watched) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        it->watched = false;
    }
    it->waitingForTls = false;
    m_byDescriptor.remove(fd);
    it->fd = -1;
    it->tlsId = ++m_lastTlsId;
    m_tlsConnections.splice(m_tlsConnections.end(), m_connections, it);
    m_tlsById.insert(it->tlsId, it);
    m_tlsWorkers->take(it->tlsId, fd, configuration, it->lastActivityMs);
}

void Listener::tlsConfigurationReady()
{
    const Turn turn(*this);
    const std::vector<int> waiting = std::exchange(m_waitingForTls, {});
    for (const int fd : waiting) {
        const auto found = m_byDescriptor.constFind(fd);
        if (found == m_byDescriptor.constEnd() || !found.value()->waitingForTls)
            continue; // closed meanwhile (the descriptor may be another connection's now)
        found.value()->waitingForTls = false;
        onReadable(fd);
    }
}

void Listener::onTlsEncrypted(quint64 id)
{
    const auto found = m_tlsById.constFind(id);
    if (found == m_tlsById.constEnd())
        return;
    Connection &connection = *found.value();
    connection.encrypted = true;
    connection.lastActivityMs = m_clock.monotonicMs();
    SourceList &sourceList = m_sources[connection.source];
    sourceList.splice(sourceList.end(), sourceList, connection.inSource);
}

void Listener::onTlsFinished(quint64 id, const QByteArray &request, const QString &handshakeFailure)
{
    QString remote;
    bool report = true;
    if (const auto found = m_tlsById.constFind(id); found != m_tlsById.constEnd()) {
        const ConnectionList::iterator it = found.value();
        remote = std::move(it->remoteAddress);
        forget(it);
    } else if (const auto closing = m_tlsClosing.constFind(id); closing != m_tlsClosing.constEnd()) {
        remote = closing->first;
        report = closing->second;
        m_tlsClosing.erase(closing);
    } else {
        return;
    }
    if (!handshakeFailure.isEmpty()) {
        noteHandshakeFailure(handshakeFailure);
        return;
    }
    m_receivedBytes += request.size();
    // A connection that never sent a byte is not a visit.
    if (report && !request.isEmpty())
        emit requestFinished(request, remote, true);
}

void Listener::noteHandshakeFailure(const QString &reason)
{
    if (noticeDue(m_handshakeNoticed, m_lastHandshakeNoticeMs, m_clock.monotonicMs(), m_limits.tlsNoticeIntervalMs))
        emit tlsHandshakeFailed(reason.left(300));
}

void Listener::forget(ConnectionList::iterator it)
{
    const auto source = m_sources.find(it->source);
    if (source != m_sources.end()) {
        source->second.erase(it->inSource);
        if (source->second.empty())
            m_sources.erase(source);
    }
    m_byAge.erase(it->inAge);
    if (it->tlsId != 0) {
        m_tlsById.remove(it->tlsId);
        m_tlsConnections.erase(it);
    } else {
        m_byDescriptor.remove(it->fd);
        m_connections.erase(it);
    }
}

void Listener::finish(ConnectionList::iterator it, bool report)
{
    if (it->tlsId != 0) {
        // The workers close it and hand back what came.
        const quint64 id = it->tlsId;
        m_tlsClosing.insert(id, { it->remoteAddress, report });
        forget(it);
        m_tlsWorkers->abort(id);
        return;
    }
    const int fd = it->fd;
    QByteArray request = std::move(it->buffer);
    QString remote = std::move(it->remoteAddress);
    forget(it);
    // Nothing was written: the visitor sees the connection end without a reply. Closing the
    // descriptor also takes it out of the epoll set.
    closeDescriptor(fd);

    // A connection that never sent a byte is not a visit.
    if (report && !request.isEmpty())
        reportFinished(std::move(request), std::move(remote));
}

void Listener::finish(const Connection *connection, bool report)
{
    if (connection->tlsId != 0) {
        const auto found = m_tlsById.constFind(connection->tlsId);
        if (found != m_tlsById.constEnd())
            finish(found.value(), report);
        return;
    }
    const auto found = m_byDescriptor.constFind(connection->fd);
    if (found != m_byDescriptor.constEnd())
        finish(found.value(), report);
}

bool Listener::closeForRoom()
{
    const qint64 now = m_clock.monotonicMs();
    const auto mayClose
        = [now](const Connection *c) { return !c->inHandshake() && now - c->acceptedMs >= MinAgeForRoomMs; };

    // A header trickling in for longer than a browser takes: the oldest such connection goes.
    // Only connections older than SlowHeaderMs can be one, and they are at the front.
    for (const Connection *c : m_byAge) {
        if (now - c->acceptedMs < SlowHeaderMs)
            break;
        if (c->headerStartedMs >= 0 && now - c->headerStartedMs >= SlowHeaderMs && mayClose(c)) {
            finish(c, true);
            return true;
        }
    }

    // Else the connection idle the longest, of the source holding the most, that may be closed.
    // A source's list is looked at from its front (idle the longest) for a few entries: one whose
    // front ones are all young or in their handshake has no better candidate further on.
    constexpr int LookAhead = 8;
    const Connection *chosen = nullptr;
    std::size_t chosenSourceSize = 0;
    for (const auto &[key, list] : m_sources) {
        if (list.size() < chosenSourceSize)
            continue;
        int looked = 0;
        for (const Connection *c : list) {
            if (++looked > LookAhead)
                break;
            if (!mayClose(c))
                continue;
            if (!chosen || list.size() > chosenSourceSize || c->lastActivityMs < chosen->lastActivityMs) {
                chosen = c;
                chosenSourceSize = list.size();
            }
            break;
        }
    }
    if (!chosen)
        return false;
    finish(chosen, true);
    return true;
}

bool Listener::onDescriptorShortage()
{
    m_lastShortageMs = m_clock.monotonicMs();
    if (noticeDue(m_shortageNoticed, m_lastShortageNoticeMs, m_clock.monotonicMs(), m_limits.shortageNoticeIntervalMs))
        emit descriptorsExhausted();
    // Descriptors of connections finished in this turn are free to take at once.
    if (!m_closing.empty()) {
        for (const int fd : std::exchange(m_closing, {}))
            ::close(fd);
        return m_acceptNotifier != nullptr;
    }
    // Closing a connection frees the descriptor the waiting visitor needs: accept again at once.
    // With nothing to close, trying again at once would only spin: rest a while.
    if (closeForRoom())
        return m_acceptNotifier != nullptr;
    if (m_acceptNotifier) {
        m_acceptNotifier->setEnabled(false);
        m_acceptRetryTimer->start();
    }
    return false;
}

void Listener::sweepIdle()
{
    const Turn turn(*this);
    const qint64 now = m_clock.monotonicMs();
    while (!m_connections.empty() && now - m_connections.front().lastActivityMs >= m_limits.idleTimeoutMs)
        finish(m_connections.begin(), true);
    // TLS connections: their workers know when they last heard of them.
    m_tlsWorkers->sweepIdle();
}
