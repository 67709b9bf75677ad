#include "alerts/AlsaMixer.h"

#include <QFile>

#include <alsa/asoundlib.h>

#include <memory>
#include <mutex>

namespace {
// alsa-lib prints its errors to standard error; a machine without a mixer would fill the console
// with them each time the volume window opens. The window says so itself.
void quietAlsaError(const char *, int, const char *, int, const char *, ...) { }

void silenceAlsaErrors()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&quietAlsaError); });
}

snd_mixer_elem_t *findElement(snd_mixer_t *handle, const QString &name)
{
    if (!handle)
        return nullptr;
    snd_mixer_selem_id_t *raw = nullptr;
    if (snd_mixer_selem_id_malloc(&raw) < 0)
        return nullptr;
    const std::unique_ptr<snd_mixer_selem_id_t, void (*)(snd_mixer_selem_id_t *)> id(raw, &snd_mixer_selem_id_free);
    snd_mixer_selem_id_set_index(id.get(), 0);
    snd_mixer_selem_id_set_name(id.get(), name.toUtf8().constData());
    snd_mixer_elem_t *element = snd_mixer_find_selem(handle, id.get());
    if (!element || !snd_mixer_selem_has_playback_volume(element))
        return nullptr;
    return element;
}
} // namespace

AlsaMixer::~AlsaMixer()
{
    close();
}

bool AlsaMixer::open(const QString &card)
{
    silenceAlsaErrors();
    close();
    snd_mixer_t *handle = nullptr;
    if (snd_mixer_open(&handle, 0) < 0)
        return false;
    const QByteArray name = QFile::encodeName(card);
    if (snd_mixer_attach(handle, name.constData()) < 0 || snd_mixer_selem_register(handle, nullptr, nullptr) < 0
        || snd_mixer_load(handle) < 0) {
        snd_mixer_close(handle);
        return false;
    }
    m_handle = handle;
    return true;
}

void AlsaMixer::close()
{
    if (m_handle) {
        snd_mixer_close(m_handle);
        m_handle = nullptr;
    }
}

std::optional<IMixer::Range> AlsaMixer::playbackVolumeRange(const QString &element)
{
    snd_mixer_elem_t *found = findElement(m_handle, element);
    Range range;
    if (!found || snd_mixer_selem_get_playback_volume_range(found, &range.minimum, &range.maximum) < 0)
        return std::nullopt;
    return range;
}

std::optional<long> AlsaMixer::playbackVolume(const QString &element)
{
    snd_mixer_elem_t *found = findElement(m_handle, element);
    if (!found)
        return std::nullopt;
    for (int channel = 0; channel <= SND_MIXER_SCHN_LAST; ++channel) {
        const auto id = static_cast<snd_mixer_selem_channel_id_t>(channel);
        long value = 0;
        if (snd_mixer_selem_has_playback_channel(found, id)
            && snd_mixer_selem_get_playback_volume(found, id, &value) >= 0)
            return value;
    }
    return std::nullopt;
}

bool AlsaMixer::setPlaybackVolume(const QString &element, long value)
{
    snd_mixer_elem_t *found = findElement(m_handle, element);
    return found && snd_mixer_selem_set_playback_volume_all(found, value) >= 0;
}
