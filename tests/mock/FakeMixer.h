#pragma once

#include "alerts/Mixer.h"

#include <QHash>
#include <QList>

#include <memory>

// A mixer the test sets up by hand; what the window did with it stays readable in State after
// the window (which owns the mixer) has gone.
class FakeMixer final : public IMixer
{
public:
    struct State
    {
        bool openable = true;
        QHash<QString, Range> elements; // name -> playback volume range
        QStringList openedCards;
        int closes = 0;
        QList<std::pair<QString, long>> sets; // (element, value) in order
    };

    explicit FakeMixer(std::shared_ptr<State> state)
        : m_state(std::move(state))
    { }

    bool open(const QString &card) override
    {
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
    bool setPlaybackVolume(const QString &element, long value) override
    {
        if (!m_open || !m_state->elements.contains(element))
            return false;
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
