#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// One opened playback stream of interleaved signed 16-bit samples. Used by the playback thread
// only. No call blocks for longer than the wait it is given, so the player can give up a sound
// at any moment.
class PcmSink
{
public:
    virtual ~PcmSink() = default;

    // Prepares the stream for this format; false when the device cannot play it (or is absent).
    virtual bool open(int sampleRate, int channels) = 0;
    // Hands over up to `frames` frames. Returns the number of frames taken (0 when the device had
    // no room within waitMs), or a negative number when the stream failed for good.
    virtual long write(const std::int16_t *samples, long frames, int waitMs) = 0;
    // Lets what was written play out. Returns true once all of it has been played, false when it
    // is still playing after waitMs; call again until true.
    virtual bool drain(int waitMs) = 0;
    // Throws away what is still queued, at once.
    virtual void abort() = 0;
};

// Makes one sink per sound.
using PcmSinkFactory = std::function<std::unique_ptr<PcmSink>()>;
