#pragma once

#include "relay/MqttConnection.h"
#include "relay/RelayMessage.h"

#include <QObject>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

// Publishes a site's visits to "<prefix>/visits" (QoS 1), in their order, from an outbox: the
// history file, where every visit is on disk before it is published. The publisher remembers the
// latest visit the broker acknowledged with all before it (acknowledged(), which the owner writes
// into the history), and after a restart or a lost connection publishes again from there: a
// broker that is down or slow delays visits and loses none. Acknowledged is not yet kept, though:
// a broker that crashed may have lost what it acknowledged in its last moments (mosquitto saves
// its state every few seconds), so after every new connection the visits of the ResendWindowMs
// before the acknowledged one are published again. A visit may so reach the broker twice;
// its id (this installation's, and the visit's key in the history) lets the subscribers count it
// once.
//
// Reading the outbox and publishing happen on a thread of the publisher's own.
class RelayPublisher final : public QObject
{
    Q_OBJECT
public:
    static constexpr int ReadBatch = 500;
    static constexpr std::size_t MaxInFlight = 5000;
    static constexpr qint64 ResendWindowMs = 60'000;

    struct Entry
    {
        qint64 key = 0;
        RelayVisit visit; // without its id
    };
    struct Outbox
    {
        // The key of the latest visit the broker acknowledged (0: none; negative: not readable yet).
        std::function<qint64()> publishedKey;
        // The visits after key, oldest first, at most limit of them.
        std::function<std::vector<Entry>(qint64 key, int limit)> visitsAfter;
        // Called once on the publisher's thread before anything else, even the connection (may be
        // empty).
        std::function<void()> prepare;
        // The latest key at least ms before key's visit (for ResendWindowMs).
        std::function<qint64(qint64 key, qint64 ms)> keyBefore;
    };

    RelayPublisher(MqttConnection::Options options, QString installationId, Outbox outbox, QObject *parent = nullptr);
    ~RelayPublisher() override;

    void start();
    // From any thread: new visits are in the outbox.
    void wake();

    MqttConnection &connection() { return *m_connection; }
    // A visit's id: the installation's 16 hexadecimal digits and its key's 16.
    static QString idFor(const QString &installationId, qint64 key);

signals:
    // The broker acknowledged every visit up to key (coalesced: the latest key when the owner's
    // thread gets to it).
    void acknowledged(qint64 key);

private:
    void run();
    void connected();
    void published(int mid);

    QString m_installationId;
    QByteArray m_topic;
    Outbox m_outbox;
    MqttConnection *m_connection;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    bool m_more = true; // the outbox may hold visits not yet published
    bool m_connected = false;
    quint64 m_round = 0; // counts reconnections: a read begun in an older round is thrown away
    qint64 m_queuedKey = -1; // the latest key handed to the library (-1: not read yet)
    qint64 m_ackedKey = -1;
    std::map<qint64, bool> m_inFlight; // key: acknowledged
    std::unordered_map<int, qint64> m_keyOfMid;
    bool m_ackPosted = false;
    std::thread m_thread;
};
