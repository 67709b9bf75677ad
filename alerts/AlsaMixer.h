#pragma once

#include "alerts/Mixer.h"

struct _snd_mixer;

// IMixer on ALSA's simple mixer interface. On a desktop whose ALSA default goes through
// PulseAudio or PipeWire, card "default" reaches the sound server's default output.
class AlsaMixer final : public IMixer
{
public:
    AlsaMixer() = default;
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer &) = delete;
    AlsaMixer &operator=(const AlsaMixer &) = delete;

    bool open(const QString &card) override;
    void close() override;
    bool isOpen() const override { return m_handle != nullptr; }
    std::optional<Range> playbackVolumeRange(const QString &element) override;
    std::optional<long> playbackVolume(const QString &element) override;
    bool setPlaybackVolume(const QString &element, long value) override;

private:
    _snd_mixer *m_handle = nullptr;
};
