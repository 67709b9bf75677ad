#pragma once

#include "capture/DescriptorCloser.h"
#include "core/Clock.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include <functional>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <vector>

struct sockaddr_storage;
class AcmeChallenges;
class QHostAddress;
class QSocketNotifier;
class TlsWorkers;
class QTcpServer;
class QTimer;

// Limits that keep bad input from exhausting the listener. Tests may shorten them.
struct ListenerLimits
{
    qsizetype maxHeaderBytes = 64 * 1024; // a longer request header is cut here
    qint64 idleTimeoutMs = 15'000; // a connection silent this long is closed
    // Open connections at most; fewer when the limit on open files leaves less room (see
    // Listener::connectionCapFor). One more makes room (see Listener).
    int maxConnections = 1000;
    int maxPerSource = 64; // open connections of one visitor address (IPv6: of one /64) at most
    int reservedDescriptors = 128; // descriptors kept for the program's own files
    qint64 sweepIntervalMs = 1'000; // how often idle connections are looked for
    qint64 tlsNoticeIntervalMs = 60'000; // at most one TLS notice (of each kind) per this span
    qint64 shortageNoticeIntervalMs = 60'000; // at most one descriptor-shortage notice per this span
    qint64 acceptRetryMs = 1'000; // out of descriptors with nothing to close: accepting rests this long
    // A connection is accepted once its first bytes have come (TCP_DEFER_ACCEPT), or when it has
    // stayed silent for about this long; 0: at once.
    int deferAcceptSeconds = 5;
};

// Receives visit requests: listens on one TCP port, serves any number of connections at once,
// collects each request up to the end of its header, closes the connection without writing a
// single byte and reports the collected text with the visitor's address.
//
// The listening socket is a QTcpServer (IPv4 and IPv6); accepted connections are served on their
// descriptors directly (nonblocking reads, close), because a visit needs nothing of a full
// QTcpSocket and bursts of visitors arrive by the thousand. The connections waiting for more of
// their request are watched by one epoll set, itself watched by one notifier: the requests that
// arrive together are read in one turn of the event loop, and their descriptors are handed to the
// closer together.
//
// TLS: a connection whose first byte is 0x16 (a TLS handshake record) is handed, unread, to the
// TLS worker threads (TlsWorkers) when a certificate is configured: the handshake (TLS 1.2 or
// 1.3) runs there, off this thread, then the request header is read and reported exactly like a
// plain one, with the same limits (the handshake counts towards the idle limit); nothing is
// written after the handshake. The connection counts towards the limits here all the while.
// A handshake that fails (or does not complete within the idle limit) makes no visit and is
// reported with its reason at most once per notice interval. Without a certificate such a
// connection is closed and noted, also at most once per interval.
//
// The one case in which the listener writes: a plain "GET /.well-known/acme-challenge/<token>"
// for a token published in the AcmeChallenges gets its key authorization (HTTP 200) and is no
// visit.
//
// Connections are taken from the kernel once their request starts to arrive (deferAcceptSeconds):
// the request is read in the same turn as the accept, and a connection that sends nothing waits in
// the kernel, holding no descriptor, until it is taken anyway after the deferral.
//
// Room: a source (one visitor address; for IPv6 one /64, which one machine usually owns whole)
// keeps at most maxPerSource connections open, and a new one from it closes its own connection
// idle the longest. When the listener as a whole is full, or accept() finds no free descriptor,
// a connection whose header has been trickling in for longer than SlowHeaderMs goes first, else
// the connection idle the longest of the source holding the most, so a flood from one source
// cannot push other visitors out. A connection in its TLS handshake or younger than
// MinAgeForRoomMs is never the one closed (a visitor's request follows its connect by a
// handshake's round trips): with none other to close, the new connection is closed instead. A
// connection closed to make room is reported like one the visitor closed. Out of descriptors with
// nothing to close, accepting rests for acceptRetryMs instead of trying again at once.
class Listener final : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 SlowHeaderMs = 2'000;
    static constexpr qint64 MinAgeForRoomMs = 1'000;

    explicit Listener(const Clock &clock = Clock::system(), ListenerLimits limits = {}, QObject *parent = nullptr);
    ~Listener() override;

    // Stops listening (open connections stay), then listens on port (0: any free port).
    // On failure returns false with the platform's description in *error.
    bool listen(qint16 port, QString *error);
    // Why the last listen() failed.
    QAbstractSocket::SocketError lastListenError() const;
    // Stops listening; open connections are closed without being reported.
    void close();

    bool isListening() const;
    quint16 serverPort() const;
    int openConnections() const { return static_cast<int>(m_connections.size() + m_tlsConnections.size()); }
    // Of those, the ones handed to the TLS workers.
    int tlsConnections() const { return static_cast<int>(m_tlsConnections.size()); }
    // Open connections of the source of this address.
    int openConnectionsFrom(const QHostAddress &address) const;
    // The cap in force: set at each listen() from the limits and the limit on open files.
    int connectionCap() const { return m_cap; }
    const ListenerLimits &limits() const { return m_limits; }
    // Bytes read from visitors since construction (kept ones; bytes past a header's cut are not
    // read at all).
    qint64 receivedBytes() const { return m_receivedBytes; }
    // accept() calls that failed since construction.
    qint64 failedAccepts() const { return m_failedAccepts; }

    // Closes the connections idle beyond the limit; runs from a timer, tests call it directly.
    void sweepIdle();

    // Asked at every TLS handshake that arrives: the server configuration (certificate, key), or
    // none for no TLS.
    using TlsConfigurationFn = std::function<std::optional<QSslConfiguration>()>;
    void setTlsConfiguration(TlsConfigurationFn configuration) { m_tlsConfiguration = std::move(configuration); }
    // Asked when there is no configuration: true while it is still being read (the certificate
    // files are read on another thread). A TLS connection then waits, unread, until
    // tlsConfigurationReady().
    void setTlsPending(std::function<bool()> pending) { m_tlsPending = std::move(pending); }
    // The configuration was read (or found missing): waiting TLS connections go on.
    void tlsConfigurationReady();
    // The HTTP-01 answers to serve (shared with the certificate keeper's worker thread).
    void setAcmeChallenges(std::shared_ptr<const AcmeChallenges> challenges) { m_challenges = std::move(challenges); }

    // The connection cap for a limit on open files: maxConnections, but no more than the limit
    // less the reserve (half the limit when the reserve would take more than half).
    static int connectionCapFor(int maxConnections, qint64 descriptorLimit, int reservedDescriptors);
    // The source an address belongs to: the IPv4 address (also when mapped into IPv6), or the
    // first 64 bits of an IPv6 address.
    static QByteArray sourceKey(const QHostAddress &address);

signals:
    // One finished request: its header text (at most maxHeaderBytes) and the visitor's address
    // (dotted IPv4 text, also for an IPv4 visitor on the IPv6 socket, or the canonical IPv6 text
    // of RFC 5952), and whether it came over TLS. Emitted in finishing order.
    void requestFinished(const QByteArray &request, const QString &remoteAddress, bool tls);
    // A TLS handshake arrived and no certificate is configured; emitted at most once per notice
    // interval.
    void tlsRefused();
    // A TLS handshake failed (the reason in words); emitted at most once per notice interval.
    void tlsHandshakeFailed(const QString &reason);
    // accept() failed (other than for want of descriptors); accepting has stopped until the next
    // listen().
    void acceptError(const QString &description);
    // accept() found no free descriptor (the process's or the system's limit); emitted at most
    // once per notice interval.
    void descriptorsExhausted();

private:
    struct Connection;
    using SourceList = std::list<Connection *>; // one source's connections, least recently active first
    struct Connection
    {
        int fd = -1;
        bool watched = false; // in the epoll set
        bool waitingForTls = false; // its handshake waits for the certificate
        QByteArray buffer;
        QString remoteAddress;
        QByteArray source;
        SourceList::iterator inSource;
        qint64 lastActivityMs = 0;
        qint64 acceptedMs = 0;
        qint64 headerStartedMs = -1; // when its first request byte came; -1: none yet
        std::list<Connection *>::iterator inAge;
        quint64 tlsId = 0; // not 0: served by the TLS workers (fd is theirs then)
        bool encrypted = false; // the handshake is done
        bool inHandshake() const { return tlsId != 0 && !encrypted; }
    };
    using ConnectionList = std::list<Connection>;

    void acceptPending();
    // Reads the connections the epoll set reports.
    void readReady();
    // While one lives, finished connections' descriptors are gathered and handed to the closer
    // together when the outermost one ends, and their requests reported after that: a visitor's
    // connection ends before the visits of the turn are handled.
    class Turn;
    void closeDescriptor(int fd);
    void onAccepted(int fd, const sockaddr_storage &peer);
    // Whether the connection is sure to be plain (no TLS handshake to hand on): its bytes may be
    // read.
    bool isPlain(int fd) const;
    // Reads what the socket holds onto buffer, up to the header's end or maxHeaderBytes; true when
    // the header's end came in what it read. *closed: the visitor closed, or the connection broke.
    bool readInto(int fd, QByteArray &buffer, bool *closed) const;
    // A connection not yet among the open ones whose request came whole (complete), ended or
    // reached the limit is finished: true. False: it is to be listed and waited for.
    bool finishUnlisted(int fd, QByteArray &buffer, bool closed, bool complete, const QString &remote);
    // Lists a new connection among the open ones (making room for it), with what was read of it
    // (read: the socket was read until it had nothing more).
    void acceptedListed(int fd, const sockaddr_storage &peer, QString addressText, QByteArray buffer, bool read);
    // Reports a finished request (at the end of the turn, when one runs).
    void reportFinished(QByteArray request, QString remote);
    void onReadable(int fd);
    void finish(ConnectionList::iterator it, bool report);
    void finish(const Connection *connection, bool report);
    void startTls(ConnectionList::iterator it, const QSslConfiguration &configuration);
    void onTlsEncrypted(quint64 id);
    void onTlsFinished(quint64 id, const QByteArray &request, const QString &handshakeFailure);
    // Takes a connection out of the tables (the source's, by age, by descriptor or TLS id).
    void forget(ConnectionList::iterator it);
    // Whether the first byte waiting on the descriptor starts a TLS handshake (without reading it).
    enum class FirstByte { NotYet, Tls, Plain };
    static FirstByte peekFirstByte(int fd);
    // Writes the answer to an HTTP-01 challenge; false when the request is none.
    bool answerChallenge(int fd, const QByteArray &request);
    // Checks the end of the header after new bytes; finishes the connection when it is done.
    void afterRead(ConnectionList::iterator it, qsizetype before, bool closed);
    void noteHandshakeFailure(const QString &reason);
    // Makes room for a new connection: closes the oldest one whose header has been coming for
    // longer than a browser takes (SlowHeaderMs), else the connection idle the longest of the
    // source holding the most. Never one in its TLS handshake or younger than MinAgeForRoomMs: a
    // real visitor's request follows its connect by the round trips of a handshake. False when
    // no connection may be closed.
    bool closeForRoom();
    // accept() found no descriptor: makes room, or rests. True when accepting may go on at once.
    bool onDescriptorShortage();

    const Clock &m_clock;
    ListenerLimits m_limits;
    QTcpServer *m_server = nullptr; // binds and listens
    QSocketNotifier *m_acceptNotifier = nullptr; // while listening
    int m_epoll = -1; // the connections waiting for more of their request
    QSocketNotifier *m_epollNotifier = nullptr;
    int m_turnDepth = 0;
    std::vector<int> m_closing; // descriptors finished in this turn
    struct Finished
    {
        QByteArray request;
        QString remoteAddress;
    };
    std::vector<Finished> m_finished; // requests finished in this turn, reported at its end
    QTimer *m_sweepTimer = nullptr;
    QTimer *m_acceptRetryTimer = nullptr;
    int m_cap = 0;
    ConnectionList m_connections; // least recently active first; those served here
    ConnectionList m_tlsConnections; // those served by the TLS workers
    QHash<quint64, ConnectionList::iterator> m_tlsById;
    // TLS connections closed here whose end the workers have yet to report: visitor's address,
    // and whether what came is reported.
    QHash<quint64, std::pair<QString, bool>> m_tlsClosing;
    quint64 m_lastTlsId = 0;
    TlsWorkers *m_tlsWorkers;
    std::unique_ptr<DescriptorCloser> m_closer;
    qint64 m_lastShortageMs = -1; // monotonic; -1: descriptors were never short
    static constexpr qint64 ShortageCloseMs = 60'000;
    std::list<Connection *> m_byAge; // the open connections, oldest first
    std::map<QByteArray, SourceList> m_sources;
    qint64 m_receivedBytes = 0;
    qint64 m_failedAccepts = 0;
    QHash<int, ConnectionList::iterator> m_byDescriptor;
    qint64 m_lastTlsNoticeMs = 0;
    bool m_tlsNoticed = false;
    qint64 m_lastShortageNoticeMs = 0;
    bool m_shortageNoticed = false;
    qint64 m_lastHandshakeNoticeMs = 0;
    bool m_handshakeNoticed = false;
    TlsConfigurationFn m_tlsConfiguration;
    std::function<bool()> m_tlsPending;
    std::vector<int> m_waitingForTls; // descriptors of connections that wait for the configuration
    std::shared_ptr<const AcmeChallenges> m_challenges;
};
