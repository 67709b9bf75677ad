#pragma once

#include "alerts/Mixer.h"

#include <QString>
#include <QStringList>

#include <optional>

// The master volume's mixer work: which element is the master output volume, its range, and
// setting it.
namespace Module1 {

// The mixer card the volume window opens.
inline const QString MixerCard = QStringLiteral("default");
// Tried in this order; the first with a playback volume is the master volume.
inline const QStringList MasterElements
    = { QStringLiteral("Master"), QStringLiteral("Speaker"), QStringLiteral("PCM") };

// The master volume control of an open mixer.
struct VolumeControl
{
    QString element;
    IMixer::Range range;
    // The volume when the control was found (inside the range; its minimum when unreadable).
    long current = 0;
    bool isValid() const { return !element.isEmpty(); }
};

// Finds the master volume control (MasterElements, in order) and copies it into control. False,
// with control unchanged, when the mixer has none.
bool GetVolumeControl(IMixer &mixer, VolumeControl &control);

// Sets every channel of the control to value, clamped into its range. False when the control is
// not valid or the mixer refused.
bool SetVolumeControl(IMixer &mixer, const VolumeControl &control, long value);

// The volume a text gives: a whole number inside the range, blanks around it allowed; no value
// for anything else (an empty text, a fraction, a number outside the range, words).
std::optional<long> volumeFromText(const QString &text, const IMixer::Range &range);

// "min to max".
QString rangeText(const IMixer::Range &range);

} // namespace Module1
