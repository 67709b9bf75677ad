#include "alerts/SoundPlayer.h"

#include "alerts/SoundFiles.h"

#include <sndfile.h>

#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

constexpr int DeviceWaitMs = 20;
constexpr long ChunkFrames = 1024;
constexpr int MaxChannels = 8;

struct SndFileCloser
{
    void operator()(SNDFILE *file) const { sf_close(file); }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

SndFilePtr openSound(const QString &path, SF_INFO &info)
{
    // Only regular files: a named pipe or a device would hold the playback thread.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    info = {};
    SndFilePtr file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info));
    if (file && (info.channels < 1 || info.channels > MaxChannels || info.samplerate < 1))
        file.reset();
    return file;
}

} // namespace

struct SoundPlayer::State
{
    SoundPlayer::Options options;
    DoneFn done;

    std::mutex mutex;
    std::condition_variable wake;
    std::optional<std::pair<quint64, QString>> pending; // guarded by mutex
    bool stop = false; // guarded by mutex
    bool finished = false; // guarded by mutex
    std::condition_variable finishedCv;
    quint64 nextId = 1; // user-interface thread only

    // Read by the playback thread between chunks: something new is waiting, or the end came.
    std::atomic<bool> interrupt { false };

    void run();
    void playOne(const QString &fileName);
};

SoundPlayer::SoundPlayer(Options options, DoneFn done)
    : m_state(std::make_shared<State>())
{
    m_state->options = std::move(options);
    m_state->done = std::move(done);
    // The thread holds its own reference: should a device call ever hang past the destructor's
    // wait, the thread is let go and still finds its state alive.
    std::thread([state = m_state] { state->run(); }).detach();
}

SoundPlayer::~SoundPlayer()
{
    std::unique_lock lock(m_state->mutex);
    m_state->stop = true;
    m_state->done = nullptr; // nobody to tell any more
    m_state->interrupt = true;
    m_state->wake.notify_all();
    m_state->finishedCv.wait_for(lock, std::chrono::milliseconds(500), [this] { return m_state->finished; });
}

quint64 SoundPlayer::play(const QString &fileName)
{
    std::lock_guard lock(m_state->mutex);
    const quint64 id = m_state->nextId++;
    if (m_state->pending && m_state->done) {
        // Replaced before it started: it has ended as far as its caller is concerned.
        const quint64 dropped = m_state->pending->first;
        m_state->done(dropped);
    }
    m_state->pending.emplace(id, fileName);
    m_state->interrupt = true;
    m_state->wake.notify_all();
    return id;
}

void SoundPlayer::State::run()
{
    std::unique_lock lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stop || pending.has_value(); });
        if (stop)
            break;
        const auto [id, fileName] = *pending;
        pending.reset();
        interrupt = false;
        lock.unlock();
        playOne(fileName);
        lock.lock();
        if (done)
            done(id);
    }
    finished = true;
    finishedCv.notify_all();
}

void SoundPlayer::State::playOne(const QString &fileName)
{
    SF_INFO info {};
    SndFilePtr file = openSound(SoundFiles::resolve(fileName), info);
    if (!file) {
        const QString fallback
            = options.fallbackFile.isEmpty() ? SoundFiles::desktopAlertSound() : options.fallbackFile;
        file = openSound(fallback, info);
    }
    if (!file || !options.sinkFactory)
        return;
    std::unique_ptr<PcmSink> sink = options.sinkFactory();
    if (!sink || !sink->open(info.samplerate, info.channels))
        return;

    using SteadyClock = std::chrono::steady_clock;
    const auto stallLimit = std::chrono::milliseconds(options.stallLimitMs);
    std::vector<std::int16_t> buffer(static_cast<size_t>(ChunkFrames * info.channels));
    for (;;) {
        const sf_count_t read = sf_readf_short(file.get(), buffer.data(), ChunkFrames);
        if (read <= 0)
            break;
        long offset = 0;
        auto lastProgress = SteadyClock::now();
        while (offset < read) {
            if (interrupt) {
                sink->abort();
                return;
            }
            const long taken
                = sink->write(buffer.data() + offset * info.channels, static_cast<long>(read) - offset, DeviceWaitMs);
            if (taken < 0)
                return;
            if (taken > 0) {
                offset += taken;
                lastProgress = SteadyClock::now();
            } else if (SteadyClock::now() - lastProgress > stallLimit) {
                sink->abort();
                return;
            }
        }
    }
    // Let the sound play out; the device buffer holds a fraction of a second.
    const auto drainStart = SteadyClock::now();
    while (!sink->drain(DeviceWaitMs)) {
        if (interrupt || SteadyClock::now() - drainStart > stallLimit) {
            sink->abort();
            return;
        }
    }
}
