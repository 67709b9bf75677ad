#pragma once

#include "core/Clock.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

#include <list>

class QSocketNotifier;
class QTimer;
class ListenerServer;

// Limits that keep bad input from exhausting the listener. Tests may shorten them.
struct ListenerLimits
{
    qsizetype maxHeaderBytes = 64 * 1024; // a longer request header is cut here
    qint64 idleTimeoutMs = 15'000; // a connection silent this long is closed
    int maxConnections = 1000; // one more closes the connection idle the longest
    qint64 sweepIntervalMs = 1'000; // how often idle connections are looked for
    qint64 tlsNoticeIntervalMs = 60'000; // at most one TLS notice per this span
};

// Receives visit requests: listens on one TCP port, serves any number of connections at once,
// collects each request up to the end of its header, closes the connection without writing a
// single byte and reports the collected text with the visitor's address.
//
// The listening socket is a QTcpServer; accepted connections are served on their descriptors
// directly (a read notifier, nonblocking reads, close), because a visit needs nothing of a full
// QTcpSocket and bursts of visitors arrive by the thousand.
class Listener final : public QObject
{
    Q_OBJECT
public:
    explicit Listener(const Clock &clock = Clock::system(), ListenerLimits limits = {}, QObject *parent = nullptr);
    ~Listener() override;

    // Stops listening (open connections stay), then listens on port (0: any free port).
    // On failure returns false with the platform's description in *error.
    bool listen(qint16 port, QString *error);
    // Stops listening; open connections are closed without being reported.
    void close();

    bool isListening() const;
    quint16 serverPort() const;
    int openConnections() const { return static_cast<int>(m_connections.size()); }
    const ListenerLimits &limits() const { return m_limits; }
    // Bytes read from visitors since construction (kept ones; bytes past a header's cut are not
    // read at all).
    qint64 receivedBytes() const { return m_receivedBytes; }

    // Closes the connections idle beyond the limit; runs from a timer, tests call it directly.
    void sweepIdle();

signals:
    // One finished request: its header text (at most maxHeaderBytes) and the visitor's address
    // (dotted IPv4 text, or the IPv6 text for an IPv6 visitor). Emitted in finishing order.
    void requestFinished(const QByteArray &request, const QString &remoteAddress);
    // A TLS handshake arrived instead of a request; emitted at most once per notice interval.
    void tlsRefused();
    // The listening socket reported an error while accepting.
    void acceptError(const QString &description);

private:
    friend class ListenerServer;
    struct Connection
    {
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        QByteArray buffer;
        QString remoteAddress;
        qint64 lastActivityMs = 0;
    };
    using ConnectionList = std::list<Connection>;

    void onAccepted(qintptr descriptor);
    void onReadable(int fd);
    void finish(ConnectionList::iterator it, bool report);

    const Clock &m_clock;
    ListenerLimits m_limits;
    ListenerServer *m_server = nullptr;
    QTimer *m_sweepTimer = nullptr;
    ConnectionList m_connections; // least recently active first
    qint64 m_receivedBytes = 0;
    QHash<int, ConnectionList::iterator> m_byDescriptor;
    qint64 m_lastTlsNoticeMs = 0;
    bool m_tlsNoticed = false;
};
