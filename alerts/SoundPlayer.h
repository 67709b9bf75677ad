#pragma once

#include "alerts/PcmSink.h"

#include <QString>

#include <functional>
#include <memory>

// The playback thread: decodes sound files with libsndfile and streams them into a PcmSink, one
// sound at a time. A new request cuts off the sound playing (within one device wait, about
// 20 ms). Owned by the user-interface thread; the callbacks run on the playback thread.
class SoundPlayer final
{
public:
    struct Options
    {
        PcmSinkFactory sinkFactory;
        // Played when a file is missing or unreadable; empty: the desktop's alert sound.
        QString fallbackFile;
        // A device that takes nothing, or never finishes playing, for this long is given up.
        int stallLimitMs = 2000;
    };
    // Called when a request has ended (played, failed or replaced), with the id that play()
    // returned for it: on the playback thread, or on the caller's thread inside play() for a
    // request replaced before it started. It runs under the player's lock: post, do not call back.
    using DoneFn = std::function<void(quint64 requestId)>;

    SoundPlayer(Options options, DoneFn done);
    // Stops the sound at once and ends the thread; waits at most about half a second for it.
    ~SoundPlayer();

    SoundPlayer(const SoundPlayer &) = delete;
    SoundPlayer &operator=(const SoundPlayer &) = delete;

    // Queues the sound in place of whatever plays or waits; returns at once with the request's id.
    quint64 play(const QString &fileName);

    struct State;

private:
    std::shared_ptr<State> m_state;
};
