#pragma once

#include "core/Clock.h"
#include "nettools/WhoisDecoder.h"

#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// Limits that keep a whois server from flooding or holding the window. Tests may shorten them.
struct WhoisLimits
{
    qint64 maxAnswerBytes = 1024 * 1024; // the rest of a longer answer is dropped
    int maxAnswerLines = 25'000; // so is the rest after this many lines
    qint64 idleTimeoutMs = 30'000; // an exchange without data this long is ended
    qint64 deadlineMs = 30'000; // and any exchange this long after its start, trickling or not
    int idleCheckIntervalMs = 1'000; // how often that is looked at
};

// One whois exchange at a time (plain whois over TCP): connect to the server, send the query and
// CR LF, collect the answer until the server closes the connection.
//
// The answer arrives as bytes and is kept as text in the receive buffer Input_Label (decoded and
// made safe by WhoisDecoder), at most maxAnswerBytes and maxAnswerLines of it; every piece that
// is added is also reported through textArrived. A new query ends the exchange before it, and so do abort(),
// the size limit, idleTimeoutMs without data and deadlineMs in all (each with a note in the text, except for a
// server that was never reached). The socket Winsock is reused for every query.
class WhoisClient final : public QObject
{
    Q_OBJECT
public:
    explicit WhoisClient(const Clock &clock = Clock::system(), WhoisLimits limits = {}, QObject *parent = nullptr);
    ~WhoisClient() override;

    // The part of a host name that is registered: the registrable domain by the Public Suffix
    // List ("www.example.co.uk" gives "example.co.uk"), or, when the list has no answer (a name
    // under an unknown or a bare suffix, a text that is no host name), everything right of its
    // second "." from the end; a text with one "." or none stays whole.
    static QString registeredDomain(const QString &hostName);

    // Ends the running exchange, empties the receive buffer and connects to the server (an entry
    // as in WhoisServers::parse). Once connected, the query (trimmed, control characters taken
    // out) is sent with CR LF; an empty one is not sent: noDomainName() instead, and the
    // connection is closed. Returns false (and connects nowhere) for an entry that names no
    // server.
    bool query(const QString &serverEntry, const QString &domain);
    // Ends the running exchange; what arrived stays in the buffer.
    void abort();
    // Ends the exchange when it went without data for idleTimeoutMs, or when deadlineMs have
    // passed since it started (a server that sends a byte now and then). Runs from a timer while an
    // exchange runs; tests call it after moving their clock.
    void checkIdle();

    bool isRunning() const { return m_running; }
    bool isConnected() const { return m_connected; }
    // The receive buffer: the text of the current answer, with the notes.
    const QString &Input_Label() const { return m_buffer; }
    // Answer bytes received for the current query.
    qint64 receivedBytes() const { return m_received; }
    QTcpSocket *Winsock() const { return m_socket; }
    const WhoisLimits &limits() const { return m_limits; }

    // The notes added to the text.
    static QString cutNote(const WhoisLimits &limits);
    static QString idleNote(qint64 idleMs);
    static QString deadlineNote(qint64 deadlineMs);

signals:
    // The connection to the server is open.
    void connected();
    // Text added to the end of the receive buffer.
    void textArrived(const QString &text);
    // The connection opened but the query was empty: nothing was sent.
    void noDomainName();
    // The exchange ended (server closed, limit, error, abort), not when a new query replaced it.
    void finished();

private:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError();
    void add(const QString &text);
    // Answer text: false when the line limit cut it (the note is added, the exchange ended).
    bool addAnswer(const QString &text);
    void addNote(const QString &note);
    void end();

    const Clock &m_clock;
    WhoisLimits m_limits;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_idleTimer = nullptr;
    WhoisDecoder m_decoder;
    QString m_buffer;
    QString m_query;
    qint64 m_received = 0;
    int m_lines = 0;
    qint64 m_lastActivityMs = 0;
    qint64 m_startMs = 0;
    bool m_running = false;
    bool m_connected = false;
};
