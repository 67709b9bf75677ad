#include "alerts/AlsaPcmSink.h"

#include <alsa/asoundlib.h>

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <thread>

namespace {

// alsa-lib prints its errors to standard error; a machine without sound would fill the console
// with them on every visit. The player reports nothing, as every other sound failure.
void quietAlsaError(const char *, int, const char *, int, const char *, ...) { }

void silenceAlsaErrors()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsaError); });
}

constexpr unsigned int LatencyUs = 100'000; // 0.1 s of buffer: replacing a sound is quick

} // namespace

AlsaPcmSink::AlsaPcmSink(std::string deviceName)
    : m_deviceName(std::move(deviceName))
{
    silenceAlsaErrors();
}

AlsaPcmSink::~AlsaPcmSink()
{
    if (m_pcm)
        snd_pcm_close(m_pcm);
}

bool AlsaPcmSink::open(int sampleRate, int channels)
{
    if (m_pcm || sampleRate <= 0 || channels <= 0)
        return false;
    if (snd_pcm_open(&m_pcm, m_deviceName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) {
        m_pcm = nullptr;
        return false;
    }
    if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
            static_cast<unsigned int>(channels), static_cast<unsigned int>(sampleRate),
            1 /* resample when the device needs it */, LatencyUs)
        < 0) {
        snd_pcm_close(m_pcm);
        m_pcm = nullptr;
        return false;
    }
    return true;
}

long AlsaPcmSink::write(const std::int16_t *samples, long frames, int waitMs)
{
    if (!m_pcm)
        return -1;
    const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, samples, static_cast<snd_pcm_uframes_t>(frames));
    if (written >= 0)
        return written;
    if (written == -EAGAIN) {
        snd_pcm_wait(m_pcm, waitMs);
        return 0;
    }
    // An underrun or a suspended device: recover once and let the caller write again.
    if (snd_pcm_recover(m_pcm, static_cast<int>(written), 1) < 0)
        return -1;
    return 0;
}

bool AlsaPcmSink::drain(int waitMs)
{
    if (!m_pcm)
        return true;
    if (!m_draining) {
        m_draining = true;
        const int rc = snd_pcm_drain(m_pcm); // non-blocking: -EAGAIN while frames are still queued
        if (rc < 0 && rc != -EAGAIN)
            return true;
    }
    const snd_pcm_state_t state = snd_pcm_state(m_pcm);
    if (state != SND_PCM_STATE_DRAINING && state != SND_PCM_STATE_RUNNING)
        return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs < 10 ? waitMs : 10));
    return snd_pcm_state(m_pcm) != SND_PCM_STATE_DRAINING && snd_pcm_state(m_pcm) != SND_PCM_STATE_RUNNING;
}

void AlsaPcmSink::abort()
{
    if (m_pcm)
        snd_pcm_drop(m_pcm);
}
