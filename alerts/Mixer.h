#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

// An audio mixer's simple playback controls, as the master volume window uses them. The Linux
// edition is AlsaMixer; tests substitute a recording one.
class IMixer
{
public:
    struct Range
    {
        long minimum = 0;
        long maximum = 0;
    };

    virtual ~IMixer() = default;
    // Opens the mixer of a card ("default"). False when it cannot be opened.
    virtual bool open(const QString &card) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // The playback volume range of an element; no value when the element does not exist or has
    // no playback volume.
    virtual std::optional<Range> playbackVolumeRange(const QString &element) = 0;
    // The element's playback volume now (its first channel); no value when it cannot be read.
    virtual std::optional<long> playbackVolume(const QString &element) = 0;
    // Sets every playback channel of the element to value. False when the mixer refused.
    virtual bool setPlaybackVolume(const QString &element, long value) = 0;
};

// Makes a mixer for each opening of the volume window.
using MixerFactory = std::function<std::unique_ptr<IMixer>()>;
