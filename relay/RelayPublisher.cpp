#include "relay/RelayPublisher.h"

#include <QMetaObject>

RelayPublisher::RelayPublisher(MqttConnection::Options options, QString installationId, Outbox outbox, QObject *parent)
    : QObject(parent)
    , m_installationId(std::move(installationId))
    , m_topic(options.address.visitsTopic().toUtf8())
    , m_outbox(std::move(outbox))
    , m_connection(new MqttConnection(std::move(options), this))
{
    m_connection->onConnected = [this](bool) { connected(); };
    m_connection->onDisconnected = [this] {
        const std::lock_guard lock(m_mutex);
        m_connected = false;
    };
    m_connection->onPublished = [this](int mid) { published(mid); };
}

RelayPublisher::~RelayPublisher()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    // The connection (a child) stops before the members its hooks use go.
    delete m_connection;
}

void RelayPublisher::start()
{
    m_thread = std::thread([this] { run(); });
}

void RelayPublisher::wake()
{
    {
        const std::lock_guard lock(m_mutex);
        m_more = true;
    }
    m_wake.notify_all();
}

QString RelayPublisher::idFor(const QString &installationId, qint64 key)
{
    return installationId + QStringLiteral("%1").arg(quint64(key), 16, 16, QLatin1Char('0'));
}

void RelayPublisher::connected()
{
    // What was in flight, and what the broker acknowledged last, is published again: a visit it
    // got twice is counted once by its id.
    {
        const std::lock_guard lock(m_mutex);
        m_connected = true;
        ++m_round;
        m_inFlight.clear();
        m_keyOfMid.clear();
        m_queuedKey = m_ackedKey > 0 ? m_outbox.keyBefore(m_ackedKey, ResendWindowMs) : m_ackedKey;
        m_more = true;
    }
    m_wake.notify_all();
}

void RelayPublisher::published(int mid)
{
    std::unique_lock lock(m_mutex);
    const auto found = m_keyOfMid.find(mid);
    if (found == m_keyOfMid.end())
        return;
    m_inFlight[found->second] = true;
    m_keyOfMid.erase(found);
    const qint64 before = m_ackedKey;
    while (!m_inFlight.empty() && m_inFlight.begin()->second) {
        m_ackedKey = m_inFlight.begin()->first;
        m_inFlight.erase(m_inFlight.begin());
    }
    if (m_ackedKey != before && !m_ackPosted) {
        m_ackPosted = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                qint64 key;
                {
                    const std::lock_guard guard(m_mutex);
                    m_ackPosted = false;
                    key = m_ackedKey;
                }
                emit acknowledged(key);
            },
            Qt::QueuedConnection);
    }
    lock.unlock();
    m_wake.notify_all();
}

void RelayPublisher::run()
{
    if (m_outbox.prepare)
        m_outbox.prepare();
    // Connected once ready to publish.
    QMetaObject::invokeMethod(m_connection, &MqttConnection::start, Qt::QueuedConnection);
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_ackedKey < 0) {
            lock.unlock();
            const qint64 key = m_outbox.publishedKey();
            lock.lock();
            if (key >= 0) {
                m_ackedKey = key;
                m_queuedKey = key;
                continue;
            }
            // The history cannot be read yet: look again in a moment.
            m_wake.wait_for(lock, std::chrono::seconds(1));
            continue;
        }
        if (!m_connected || !m_more || m_inFlight.size() >= MaxInFlight) {
            m_wake.wait(lock);
            continue;
        }
        m_more = false;
        const quint64 round = m_round;
        const qint64 after = m_queuedKey;
        const int limit = int(qMin<std::size_t>(ReadBatch, MaxInFlight - m_inFlight.size()));
        lock.unlock();
        const std::vector<Entry> entries = m_outbox.visitsAfter(after, limit);
        lock.lock();
        if (round != m_round)
            continue;
        for (const Entry &entry : entries) {
            RelayVisit visit = entry.visit;
            visit.id = idFor(m_installationId, entry.key);
            int mid = 0;
            // The mutex is held, so the acknowledgement cannot come before the mid is known.
            if (!m_connection->publish(m_topic, RelayMessage::encode(visit), &mid)) {
                // The connection is going: the next one publishes from the acknowledged visit.
                m_more = true;
                m_wake.wait_for(lock, std::chrono::milliseconds(100));
                break;
            }
            m_inFlight.emplace(entry.key, false);
            m_keyOfMid[mid] = entry.key;
            m_queuedKey = entry.key;
        }
        if (int(entries.size()) == limit)
            m_more = true;
    }
}
