#pragma once

#include "capture/VisitRecorder.h"
#include "core/Clock.h"
#include "history/HistoryWriter.h"

#include <QObject>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

class QTimer;
class SettingsStore;

// Keeps every visit in the history file. recordVisit (user-interface thread) only queues the
// visit; a thread of the store's own writes the queue in one transaction a moment after the first
// visit arrived (FlushDelayMs), so a visit is on disk well within a second, and a burst costs one
// commit per batch rather than one per visit.
//
// Faults never reach the visits: when the file cannot be written (read-only folder, full disk)
// the visits wait in memory (at most MaxWaiting of them and MaxWaitingChars characters of text,
// the oldest go first) and the store tries again
// every RetryMs; the log says "History not saved: " and the reason once, and again only after a
// write has succeeded in between. A damaged file is moved aside and a new one started.
//
// The setting KeepHistory (default 1) set to 0 stores no more visits.
//
// Pruning: once an hour the store reads HistoryDays (default 365; 0 keeps everything) and, when
// the file was last pruned a day or more ago, deletes older visits on its thread in slices that
// leave room for new visits between them.
class HistoryStore final : public QObject, public IVisitRecorder
{
    Q_OBJECT
public:
    static constexpr int FlushDelayMs = 200;
    static constexpr int RetryMs = 30'000;
    static constexpr std::size_t MaxWaiting = 200'000;
    // 32 MiB of text: visits with long pages cannot fill the memory while the disk is full.
    static constexpr qsizetype MaxWaitingChars = 16 * 1024 * 1024;
    static constexpr std::size_t MaxBatch = 5'000;
    static constexpr int PruneSlice = 5'000;
    static constexpr qint64 PruneIntervalMs = 24LL * 3600 * 1000;
    static constexpr int PruneCheckMs = 3600 * 1000;
    static constexpr int DefaultHistoryDays = 365;

    // The history file of the running program: $XDG_DATA_HOME/vistelle/history.sqlite3.
    static QString defaultFileName();

    HistoryStore(const QString &fileName, SettingsStore &settings, const Clock &clock = Clock::system(),
        QObject *parent = nullptr);
    // Writes what is still waiting (one last attempt), then stops the thread.
    ~HistoryStore() override;

    QString fileName() const { return m_fileName; }

    void recordVisit(const RecordedVisit &visit) override;
    // Whether visits are kept at all (KeepHistory, default 1).
    bool keepsVisits() const;

    // Reads HistoryDays and starts a pruning when one is due; runs from a timer every hour and
    // once shortly after start.
    void pruneIfDue();

    // Writes what waits at once and waits until it is written or an attempt failed, and until a
    // pruning that was asked for has ended (tests; it blocks). Returns false when visits are still
    // waiting because the file could not be written.
    bool flush();
    // Tries a waiting write at once instead of at the next retry.
    void retryNow();
    // The history window found the file damaged while reading it: check it and, if so, move it
    // aside and start a new one.
    void reportDamage();
    // Visits dropped because too many were waiting while the file could not be written.
    quint64 droppedCount() const;

    // How long the first waiting visit waits for more (FlushDelayMs unless set): the relay's
    // publisher wants visits on disk within milliseconds.
    void setFlushDelayMs(int ms);
    // Called on the store's thread after each successful write of visits (set before any visit).
    void setWrittenHook(std::function<void()> hook);
    // The key of the latest visit the relay's broker acknowledged: written into the file a moment
    // later (RelayPublishedDelayMs), the newest value only.
    void setRelayPublished(qint64 key);
    static constexpr int RelayPublishedDelayMs = 500;
    // Nothing waits to be written and nothing is being written.
    bool isIdle() const;
    // Visits handed to recordVisit so far (those stored), and whether all of the first `count`
    // of them are written (or were given up: dropped while the file could not be written).
    quint64 recordedCount() const;
    bool hasWritten(quint64 count) const;

    // Test hook: see HistoryWriter::setMaxPageCount (applies at the next opening of the file).
    void setMaxPageCount(qint64 pages);

signals:
    // Visits reached the file (queued to the user-interface thread); the window may refresh.
    void visitsWritten();
    // The file was moved aside and a new one started.
    void fileReplaced();

private:
    using SteadyClock = std::chrono::steady_clock;
    struct PruneRequest
    {
        qint64 cutoffMs;
        qint64 nowMs;
        bool checked = false; // the time of the last pruning was looked at
    };
    void run();
    bool writeWaiting(std::unique_lock<std::mutex> &lock);
    void pruneSlice(std::unique_lock<std::mutex> &lock);
    void report(const HistoryWriter::Outcome &outcome);
    void reportOnUiThread(const HistoryWriter::Outcome &outcome);

    QString m_fileName;
    SettingsStore &m_settings;
    const Clock &m_clock;
    QTimer *m_pruneTimer;
    bool m_faultLogged = false; // user-interface thread

    // Shared with the writing thread, under m_mutex.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<HistoryVisit> m_waiting;
    qsizetype m_waitingChars = 0; // of the waiting visits' texts
    static qsizetype charsOf(const HistoryVisit &visit);
    std::optional<PruneRequest> m_prune;
    QDate m_today;
    SteadyClock::time_point m_firstWaitingAt; // when the oldest waiting visit arrived
    SteadyClock::time_point m_retryAt; // while failing: the next attempt
    bool m_retryNow = false;
    bool m_checkDamage = false;
    bool m_stop = false;
    bool m_failing = false;
    bool m_flushing = false; // flush() waits
    std::size_t m_inFlight = 0; // visits being written right now
    quint64 m_dropped = 0;
    quint64 m_recorded = 0; // visits queued so far
    quint64 m_written = 0; // ...of them written or dropped
    quint64 m_failures = 0; // failed attempts to write
    quint64 m_flushFailures = 0; // ...when the running flush() began
    std::optional<qint64> m_maxPageCount;
    int m_flushDelayMs = FlushDelayMs;
    std::function<void()> m_writtenHook;
    std::optional<qint64> m_relayPublished;
    SteadyClock::time_point m_relayPublishedDue;

    HistoryWriter m_writer; // writing thread only
    std::thread m_thread;
};
