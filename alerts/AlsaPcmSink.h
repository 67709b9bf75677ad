#pragma once

#include "alerts/PcmSink.h"

#include <string>

typedef struct _snd_pcm snd_pcm_t;

// A playback stream on an ALSA PCM device ("default", "hw:0", "file:FILE=/tmp/x.wav,FORMAT=wav",
// ...). The device is opened in non-blocking mode, so an absent, busy or stalled device never
// holds the playback thread.
class AlsaPcmSink final : public PcmSink
{
public:
    explicit AlsaPcmSink(std::string deviceName);
    ~AlsaPcmSink() override;

    bool open(int sampleRate, int channels) override;
    long write(const std::int16_t *samples, long frames, int waitMs) override;
    bool drain(int waitMs) override;
    void abort() override;

private:
    std::string m_deviceName;
    snd_pcm_t *m_pcm = nullptr;
    bool m_draining = false;
};
