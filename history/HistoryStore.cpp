#include "history/HistoryStore.h"

#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/Paths.h"
#include "core/SettingsStore.h"

#include <QTimer>

QString HistoryStore::defaultFileName()
{
    return Paths::userDataDir() + QStringLiteral("/history.sqlite3");
}

HistoryStore::HistoryStore(const QString &fileName, SettingsStore &settings, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_fileName(fileName)
    , m_settings(settings)
    , m_clock(clock)
    , m_pruneTimer(new QTimer(this))
    , m_today(clock.currentDateTime().date())
    , m_writer(fileName)
{
    m_pruneTimer->setInterval(PruneCheckMs);
    connect(m_pruneTimer, &QTimer::timeout, this, &HistoryStore::pruneIfDue);
    m_pruneTimer->start();
    // The first look a minute after start, when the program's own start-up is over.
    QTimer::singleShot(60'000, this, &HistoryStore::pruneIfDue);
    m_thread = std::thread([this] { run(); });
}

qsizetype HistoryStore::charsOf(const HistoryVisit &visit)
{
    return visit.address.size() + visit.country.size() + visit.page.size() + visit.agent.size();
}

HistoryStore::~HistoryStore()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

bool HistoryStore::keepsVisits() const
{
    // KeepHistory 0: the owner keeps no history (what is stored stays).
    return Conversions::truthValue(m_settings.GetSetting(QStringLiteral("KeepHistory"), QStringLiteral("1")))
        .value_or(true);
}

void HistoryStore::recordVisit(const RecordedVisit &visit)
{
    if (!keepsVisits())
        return;
    HistoryVisit entry { visit.timeMs >= 0 ? visit.timeMs : visit.time.toMSecsSinceEpoch(), visit.address,
        visit.country, visit.page, visit.tls, visit.kind, visit.agent, visit.relayId, visit.host };
    {
        const std::lock_guard lock(m_mutex);
        if (m_waiting.empty())
            m_firstWaitingAt = SteadyClock::now();
        const qsizetype chars = charsOf(entry);
        while (!m_waiting.empty() && (m_waiting.size() >= MaxWaiting || m_waitingChars + chars > MaxWaitingChars)) {
            m_waitingChars -= charsOf(m_waiting.front());
            m_waiting.pop_front();
            ++m_dropped;
            ++m_written;
        }
        ++m_recorded;
        m_waitingChars += chars;
        m_waiting.push_back(std::move(entry));
        m_today = visit.time.date();
        // The thread wakes by its own deadline; a full batch wakes it at once.
        if (m_waiting.size() != 1 && m_waiting.size() < MaxBatch)
            return;
    }
    m_wake.notify_one();
}

void HistoryStore::pruneIfDue()
{
    const double days = Conversions::leadingNumber(
        m_settings.GetSetting(QStringLiteral("HistoryDays"), QString::number(DefaultHistoryDays)));
    if (!(days > 0)) // 0 (or a text that is no number) keeps everything
        return;
    const QDateTime now = m_clock.currentDateTime();
    const qint64 span = qint64(qMin(days, 1e6) * 86400.0 * 1000.0);
    {
        const std::lock_guard lock(m_mutex);
        m_prune = PruneRequest { now.toMSecsSinceEpoch() - span, now.toMSecsSinceEpoch() };
        m_today = now.date();
    }
    m_wake.notify_one();
}

bool HistoryStore::flush()
{
    std::unique_lock lock(m_mutex);
    const quint64 failuresBefore = m_failures;
    m_flushing = true;
    m_flushFailures = failuresBefore;
    m_wake.notify_one();
    // Written, or one more failed attempt; a pruning that was asked for ends first (it waits
    // while the file cannot be written).
    m_idle.wait(lock, [&] {
        const bool written = (m_waiting.empty() && m_inFlight == 0) || m_failures > failuresBefore;
        return written && !m_checkDamage && (!m_prune || m_failing);
    });
    m_flushing = false;
    return m_waiting.empty() && m_inFlight == 0;
}

void HistoryStore::retryNow()
{
    {
        const std::lock_guard lock(m_mutex);
        m_retryNow = true;
    }
    m_wake.notify_one();
}

void HistoryStore::reportDamage()
{
    {
        const std::lock_guard lock(m_mutex);
        m_checkDamage = true;
    }
    m_wake.notify_one();
}

quint64 HistoryStore::droppedCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_dropped;
}

void HistoryStore::setMaxPageCount(qint64 pages)
{
    const std::lock_guard lock(m_mutex);
    m_maxPageCount = pages;
}

void HistoryStore::run()
{
    std::unique_lock lock(m_mutex);
    bool gaveUp = false; // stopping: the last attempt failed
    for (;;) {
        if (m_maxPageCount) {
            m_writer.setMaxPageCount(*m_maxPageCount);
            m_maxPageCount.reset();
        }
        const auto now = SteadyClock::now();
        const auto due = m_failing ? m_retryAt : m_firstWaitingAt + std::chrono::milliseconds(m_flushDelayMs);
        // Asked to write now: until an attempt fails.
        const bool forced = m_retryNow || (m_flushing && m_failures == m_flushFailures) || (m_stop && !gaveUp);
        if (!m_waiting.empty() && (forced || now >= due || (!m_failing && m_waiting.size() >= MaxBatch))) {
            const bool stopping = m_stop;
            if (!writeWaiting(lock) && stopping)
                gaveUp = true;
            continue;
        }
        if (m_relayPublished && !m_failing && (now >= m_relayPublishedDue || m_stop)) {
            const qint64 key = *m_relayPublished;
            m_relayPublished.reset();
            const QDate today = m_today;
            lock.unlock();
            const HistoryWriter::Outcome outcome = m_writer.writeMeta("relayPublished", key, today);
            lock.lock();
            if (!outcome.failure.isEmpty())
                report(outcome);
            continue;
        }
        if (m_checkDamage) {
            const QDate today = m_today;
            lock.unlock();
            const HistoryWriter::Outcome outcome = m_writer.checkIntegrity(today);
            lock.lock();
            m_checkDamage = false;
            if (!outcome.failure.isEmpty())
                report(outcome);
            m_idle.notify_all();
            continue;
        }
        if (m_stop)
            break;
        if (m_prune && !m_failing) {
            pruneSlice(lock);
            m_idle.notify_all();
            continue;
        }
        m_idle.notify_all();
        if (!m_waiting.empty())
            m_wake.wait_until(lock, due);
        else if (m_relayPublished && !m_failing)
            m_wake.wait_until(lock, m_relayPublishedDue);
        else
            m_wake.wait(lock);
    }
    m_idle.notify_all();
}

bool HistoryStore::writeWaiting(std::unique_lock<std::mutex> &lock)
{
    m_retryNow = false;
    const std::size_t count = std::min(m_waiting.size(), MaxBatch);
    std::vector<HistoryVisit> visits;
    visits.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        m_waitingChars -= charsOf(m_waiting[i]);
        visits.push_back(std::move(m_waiting[i]));
    }
    m_waiting.erase(m_waiting.begin(), m_waiting.begin() + qsizetype(count));
    m_inFlight = count;
    const QDate today = m_today;
    lock.unlock();
    const HistoryWriter::Outcome outcome = m_writer.write(visits, today);
    lock.lock();
    m_inFlight = 0;
    if (outcome.ok) {
        m_written += visits.size();
        m_failing = false;
        if (!m_waiting.empty())
            m_firstWaitingAt = SteadyClock::now();
    } else {
        // Back to the front, in their order, within the bound.
        for (auto it = visits.rbegin(); it != visits.rend(); ++it) {
            const qsizetype chars = charsOf(*it);
            if (m_waiting.size() >= MaxWaiting || m_waitingChars + chars > MaxWaitingChars) {
                ++m_dropped;
                ++m_written;
                continue;
            }
            m_waitingChars += chars;
            m_waiting.push_front(std::move(*it));
        }
        ++m_failures;
        m_failing = true;
        m_retryAt = SteadyClock::now() + std::chrono::milliseconds(RetryMs);
    }
    report(outcome);
    m_idle.notify_all();
    if (outcome.ok && m_writtenHook) {
        lock.unlock();
        m_writtenHook();
        lock.lock();
    }
    return outcome.ok;
}

void HistoryStore::setFlushDelayMs(int ms)
{
    const std::lock_guard lock(m_mutex);
    m_flushDelayMs = ms;
}

void HistoryStore::setWrittenHook(std::function<void()> hook)
{
    const std::lock_guard lock(m_mutex);
    m_writtenHook = std::move(hook);
}

void HistoryStore::setRelayPublished(qint64 key)
{
    {
        const std::lock_guard lock(m_mutex);
        if (!m_relayPublished)
            m_relayPublishedDue = SteadyClock::now() + std::chrono::milliseconds(RelayPublishedDelayMs);
        m_relayPublished = key;
    }
    m_wake.notify_one();
}

quint64 HistoryStore::recordedCount() const
{
    const std::lock_guard lock(m_mutex);
    return m_recorded;
}

bool HistoryStore::hasWritten(quint64 count) const
{
    const std::lock_guard lock(m_mutex);
    return m_written >= count;
}

bool HistoryStore::isIdle() const
{
    const std::lock_guard lock(m_mutex);
    return m_waiting.empty() && m_inFlight == 0;
}

void HistoryStore::pruneSlice(std::unique_lock<std::mutex> &lock)
{
    PruneRequest request = *m_prune;
    const QDate today = m_today;
    lock.unlock();
    bool finished = true;
    HistoryWriter::Outcome outcome;
    if (!request.checked) {
        const qint64 last = m_writer.lastPruneMs(today);
        // At most once a day; a file that cannot be read is left to the next visit's write.
        if (last < 0 || (last > 0 && request.nowMs - last < PruneIntervalMs && request.nowMs >= last)) {
            lock.lock();
            m_prune.reset();
            return;
        }
        request.checked = true;
    }
    outcome = m_writer.prune(request.cutoffMs, request.nowMs, PruneSlice, today, &finished);
    lock.lock();
    if (!outcome.ok || finished)
        m_prune.reset();
    else
        m_prune->checked = true;
    if (!outcome.failure.isEmpty())
        report(outcome);
}

void HistoryStore::report(const HistoryWriter::Outcome &outcome)
{
    QMetaObject::invokeMethod(
        this, [this, outcome] { reportOnUiThread(outcome); }, Qt::QueuedConnection);
}

void HistoryStore::reportOnUiThread(const HistoryWriter::Outcome &outcome)
{
    if (!outcome.failure.isEmpty() && (!m_faultLogged || !outcome.movedAside.isEmpty())) {
        LogMsg(QStringLiteral("History not saved: ") + outcome.failure);
        m_faultLogged = true;
    }
    if (!outcome.movedAside.isEmpty())
        emit fileReplaced();
    if (outcome.ok) {
        // A later fault is news again.
        if (outcome.movedAside.isEmpty())
            m_faultLogged = false;
        emit visitsWritten();
    }
}
