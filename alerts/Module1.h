#pragma once

#include "alerts/Mixer.h"

#include <QString>
#include <QStringList>

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
    bool isValid() const { return !element.isEmpty(); }
};

// Finds the master volume control (MasterElements, in order) and copies it into control. False,
// with control unchanged, when the mixer has none.
bool GetVolumeControl(IMixer &mixer, VolumeControl &control);

// Sets every channel of the control to value, clamped into its range. False when the control is
// not valid or the mixer refused.
bool SetVolumeControl(IMixer &mixer, const VolumeControl &control, long value);

// The whole number a text stands for under the leading-number rule (halves to the even
// neighbour), clamped into range.
long volumeFromText(const QString &text, const IMixer::Range &range);

// "min to max".
QString rangeText(const IMixer::Range &range);

} // namespace Module1
