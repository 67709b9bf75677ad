#pragma once

#include "alerts/Mixer.h"

#include <QHash>
#include <QList>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

// A mixer the test sets up by hand; what the window did with it stays readable in State after
// the window (which owns the mixer) has gone. The window works the mixer on a thread of its own:
// the test reads State once the window has said it is done (loaded(), volumeSet()), or, for the
// closing, which nothing reports, through closes.
class FakeMixer final : public IMixer
{
public:
    struct State
    {
        bool openable = true;
        std::atomic<bool> hanging = false; // open() waits while set: a sound server that does not answer
        QHash<QString, Range> elements; // name -> playback volume range
        QHash<QString, long> volumes; // name -> volume now; absent: cannot be read
        QStringList openedCards;
        std::atomic<int> closes = 0;
        QList<std::pair<QString, long>> sets; // (element, value) in order
        std::mutex mutex; // guards sets while the window may still set

        std::pair<QString, long> lastSet()
        {
            const std::lock_guard lock(mutex);
            return sets.isEmpty() ? std::pair<QString, long>() : sets.last();
        }
        qsizetype setCount()
        {
            const std::lock_guard lock(mutex);
            return sets.size();
        }
    };

    explicit FakeMixer(std::shared_ptr<State> state)
        : m_state(std::move(state))
    { }

    bool open(const QString &card) override
    {
        while (m_state->hanging.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        m_state->openedCards << card;
        m_open = m_state->openable;
        return m_open;
    }
    void close() override
    {
        if (m_open)
            ++m_state->closes;
        m_open = false;
    }
    bool isOpen() const override { return m_open; }
    std::optional<Range> playbackVolumeRange(const QString &element) override
    {
        if (!m_open || !m_state->elements.contains(element))
            return std::nullopt;
        return m_state->elements.value(element);
    }
    std::optional<long> playbackVolume(const QString &element) override
    {
        if (!m_open || !m_state->volumes.contains(element))
            return std::nullopt;
        return m_state->volumes.value(element);
    }
    bool setPlaybackVolume(const QString &element, long value) override
    {
        if (!m_open || !m_state->elements.contains(element))
            return false;
        const std::lock_guard lock(m_state->mutex);
        m_state->sets.append({ element, value });
        return true;
    }

    // A factory making mixers on one shared state.
    static MixerFactory factory(const std::shared_ptr<State> &state)
    {
        return [state] { return std::make_unique<FakeMixer>(state); };
    }

private:
    std::shared_ptr<State> m_state;
    bool m_open = false;
};
