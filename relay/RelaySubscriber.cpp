#include "relay/RelaySubscriber.h"

#include "core/LogSink.h"
#include "core/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QTimer>
#include <QtEndian>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

RelaySubscriber::RelaySubscriber(
    MqttConnection::Options options, QString inboxFile, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_inboxFile(std::move(inboxFile))
    , m_clock(clock)
    , m_connection(new MqttConnection(std::move(options), this))
    , m_backlogTimer(new QTimer(this))
{
    m_backlogTimer->setSingleShot(true);
    m_backlogTimer->setInterval(BacklogQuietMs);
    connect(m_backlogTimer, &QTimer::timeout, this, &RelaySubscriber::endBacklog);
    m_connection->onConnected = [this](bool) { connected(); };
    m_connection->onMessage = [this](const QByteArray &, const QByteArray &payload) { arrived(payload); };
}

RelaySubscriber::~RelaySubscriber()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_room.notify_all();
    delete m_connection;
    if (m_inbox >= 0)
        ::close(m_inbox);
}

void RelaySubscriber::start(const QStringList &knownIds, const std::vector<RelayVisit> &inbox)
{
    for (const QString &id : knownIds)
        remember(id);
    for (const RelayVisit &visit : inbox) {
        ++m_queued;
        ++m_taken;
        hand(visit, true);
    }
    if (!m_inboxFile.isEmpty()) {
        // The data folder comes with the history's first visit; the inbox may be first.
        PrivateFiles::makeDir(QFileInfo(m_inboxFile).absolutePath());
        m_inbox = ::open(
            QFile::encodeName(m_inboxFile).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_inbox >= 0)
            m_inboxBytes = ::lseek(m_inbox, 0, SEEK_END);
        else
            LogMsg(QStringLiteral("Relay: cannot write ") + m_inboxFile
                + QStringLiteral("; a visit is kept only once it is in the history"));
    }
    m_connection->start();
}

// The inbox: records of a 4-byte length (little-endian) and the message. A record cut short (the
// program was killed while writing it) was never acknowledged: the broker sends it again.
std::vector<RelayVisit> RelaySubscriber::readInbox(const QString &inboxFile)
{
    std::vector<RelayVisit> visits;
    QFile file(inboxFile);
    if (inboxFile.isEmpty() || !file.open(QIODevice::ReadOnly))
        return visits;
    const QByteArray data = file.read(MaxInboxBytes);
    qsizetype at = 0;
    while (data.size() - at >= 4) {
        const quint32 length = qFromLittleEndian<quint32>(data.constData() + at);
        if (length > quint32(RelayMessage::MaxBytes) || data.size() - at - 4 < qsizetype(length))
            break;
        std::optional<RelayVisit> visit = RelayMessage::decode(data.mid(at + 4, length));
        at += 4 + length;
        if (visit)
            visits.push_back(std::move(*visit));
    }
    return visits;
}

void RelaySubscriber::connected()
{
    const std::lock_guard lock(m_mutex);
    m_connectedAtMs = m_clock.currentDateTime().toMSecsSinceEpoch();
}

void RelaySubscriber::arrived(const QByteArray &payload)
{
    QString why;
    const std::optional<RelayVisit> visit = RelayMessage::decode(payload, &why);
    std::unique_lock lock(m_mutex);
    if (!visit) {
        ++m_dropped;
        m_droppedWhy = why;
    } else {
        // The owner is behind: the broker waits (this thread reads no more) rather than the memory
        // growing.
        m_room.wait(lock, [this] { return m_stop || m_waiting.size() < MaxWaiting; });
        if (m_stop)
            return;
        if (m_inbox >= 0 && m_inboxBytes + 4 + payload.size() <= MaxInboxBytes) {
            char length[4];
            qToLittleEndian<quint32>(quint32(payload.size()), length);
            iovec parts[2] = { { length, 4 }, { const_cast<char *>(payload.constData()), size_t(payload.size()) } };
            if (::writev(m_inbox, parts, 2) == 4 + payload.size())
                m_inboxBytes += 4 + payload.size();
        }
        ++m_queued;
        m_waiting.emplace_back(*visit, visit->time.toMSecsSinceEpoch() < m_connectedAtMs);
    }
    if (!m_takePosted) {
        m_takePosted = true;
        QMetaObject::invokeMethod(this, &RelaySubscriber::takeWaiting, Qt::QueuedConnection);
    }
}

void RelaySubscriber::takeWaiting()
{
    std::vector<std::pair<RelayVisit, bool>> visits;
    quint64 dropped;
    QString why;
    {
        const std::lock_guard lock(m_mutex);
        const std::size_t count = qMin(m_waiting.size(), TakeBatch);
        visits.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            visits.push_back(std::move(m_waiting.front()));
            m_waiting.pop_front();
        }
        // More waiting: the next batch at the next turn.
        m_takePosted = !m_waiting.empty();
        if (m_takePosted)
            QMetaObject::invokeMethod(this, &RelaySubscriber::takeWaiting, Qt::QueuedConnection);
        dropped = m_dropped;
        why = m_droppedWhy;
    }
    m_room.notify_all();
    for (const auto &[visit, backlog] : visits) {
        ++m_taken;
        hand(visit, backlog);
    }
    const qint64 now = m_clock.monotonicMs();
    if (dropped != m_droppedNoted && now - m_droppedNotedAtMs >= DroppedNoteIntervalMs) {
        LogMsg(QStringLiteral("Relay: dropped %1 message(s) that were not visits (%2)")
                   .arg(dropped - m_droppedNoted)
                   .arg(why));
        m_droppedNoted = dropped;
        m_droppedNotedAtMs = now;
    }
}

void RelaySubscriber::remember(const QString &id)
{
    m_seen.insert(id);
    m_seenOrder.push_back(id);
    if (m_seenOrder.size() > std::size_t(MaxRemembered)) {
        m_seen.remove(m_seenOrder.front());
        m_seenOrder.pop_front();
    }
}

void RelaySubscriber::hand(const RelayVisit &visit, bool backlog)
{
    if (m_seen.contains(visit.id))
        return;
    remember(visit.id);
    if (backlog) {
        ++m_backlogCount;
        if (m_backlogPages.size() < MaxBacklogPages || m_backlogPages.contains(visit.page))
            ++m_backlogPages[visit.page];
        m_backlogTimer->start();
    } else if (m_backlogCount > 0) {
        endBacklog();
    }
    emit visitArrived(visit, backlog);
}

void RelaySubscriber::endBacklog()
{
    m_backlogTimer->stop();
    if (m_backlogCount == 0)
        return;
    QString top;
    int most = 0;
    for (auto it = m_backlogPages.cbegin(); it != m_backlogPages.cend(); ++it) {
        if (it.value() > most || (it.value() == most && it.key() < top)) {
            most = it.value();
            top = it.key();
        }
    }
    const int count = m_backlogCount;
    m_backlogCount = 0;
    m_backlogPages.clear();
    emit backlogEnded(count, top);
}

void RelaySubscriber::historyCaughtUp()
{
    const std::lock_guard lock(m_mutex);
    if (m_queued != m_taken || m_inbox < 0 || m_inboxBytes == 0)
        return;
    if (::ftruncate(m_inbox, 0) == 0) {
        m_inboxBytes = 0;
        m_queued = 0;
        m_taken = 0;
    }
}

quint64 RelaySubscriber::droppedCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}
