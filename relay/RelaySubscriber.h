#pragma once

#include "core/Clock.h"
#include "relay/MqttConnection.h"
#include "relay/RelayMessage.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class QTimer;

// Receives the visits of one or more sites from "<prefix>/visits" with a persistent session (the
// broker keeps them while this PC is off, for the session's expiry) and QoS 1.
//
// Every message is read on the connection's thread (strictly, bounded: RelayMessage::decode) and
// a visit is appended to the inbox file before the library acknowledges it, so a visit the broker
// let go of survives this program being killed; the inbox is read at the next start and emptied
// whenever the owner says the history holds all it was handed (historyCaughtUp). A message that is
// not a visit is dropped, and noted at most once a minute.
//
// Duplicates (a redelivery, the same visit twice) are recognised by id and handed on once. Visits
// the broker kept while this PC was away (published before this connection was made, and the
// inbox's) are handed on as such; once they stop coming (BacklogQuietMs), backlogEnded tells how
// many there were and their most visited page, so they are announced once, not one by one.
class RelaySubscriber final : public QObject
{
    Q_OBJECT
public:
    static constexpr std::size_t MaxWaiting = 20'000; // read visits the owner has not taken yet
    // Visits handed on in one turn of the owner's event loop: a week's backlog leaves the window
    // responsive while it is listed.
    static constexpr std::size_t TakeBatch = 1'000;
    static constexpr qsizetype MaxRemembered = 200'000; // ids remembered to recognise duplicates
    static constexpr qint64 MaxInboxBytes = 64LL * 1024 * 1024;
    static constexpr int BacklogQuietMs = 500;
    static constexpr qint64 DroppedNoteIntervalMs = 60'000;
    static constexpr int MaxBacklogPages = 10'000;

    RelaySubscriber(MqttConnection::Options options, QString inboxFile, const Clock &clock = Clock::system(),
        QObject *parent = nullptr);
    ~RelaySubscriber() override;

    // The visits in an inbox file (up to MaxInboxBytes of it), oldest first. File work for any
    // thread but the window's.
    static std::vector<RelayVisit> readInbox(const QString &inboxFile);
    // Hands on what the inbox held (as backlog) and connects. knownIds: ids of visits already
    // stored; inbox: readInbox's answer for this subscriber's inbox.
    void start(const QStringList &knownIds, const std::vector<RelayVisit> &inbox = {});
    // Every visit handed on so far is stored: the inbox may be emptied.
    void historyCaughtUp();

    MqttConnection &connection() { return *m_connection; }
    quint64 droppedCount() const;

signals:
    void visitArrived(const RelayVisit &visit, bool backlog);
    void backlogEnded(int count, const QString &topPage);

private:
    void connected();
    void arrived(const QByteArray &payload);
    void takeWaiting();
    void hand(const RelayVisit &visit, bool backlog);
    void endBacklog();
    void remember(const QString &id);

    QString m_inboxFile;
    const Clock &m_clock;
    MqttConnection *m_connection;
    QTimer *m_backlogTimer;

    // Shared with the connection's thread.
    mutable std::mutex m_mutex;
    std::condition_variable m_room;
    bool m_stop = false;
    int m_inbox = -1; // descriptor of the inbox file
    qint64 m_inboxBytes = 0;
    quint64 m_queued = 0; // visits queued for the owner since the inbox was last emptied
    std::deque<std::pair<RelayVisit, bool>> m_waiting; // and whether it is of the backlog
    bool m_takePosted = false;
    qint64 m_connectedAtMs = 0; // when the current connection was made (UTC)
    quint64 m_dropped = 0;
    QString m_droppedWhy;

    // The owner's thread.
    quint64 m_taken = 0; // ...and taken by the owner
    QSet<QString> m_seen;
    std::deque<QString> m_seenOrder;
    quint64 m_droppedNoted = 0;
    qint64 m_droppedNotedAtMs = -DroppedNoteIntervalMs;
    int m_backlogCount = 0;
    QHash<QString, int> m_backlogPages;
};
