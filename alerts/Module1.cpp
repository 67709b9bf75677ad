#include "alerts/Module1.h"

#include "core/Conversions.h"

#include <algorithm>
#include <cmath>

namespace Module1 {

bool GetVolumeControl(IMixer &mixer, VolumeControl &control)
{
    if (!mixer.isOpen())
        return false;
    for (const QString &element : MasterElements) {
        const std::optional<IMixer::Range> range = mixer.playbackVolumeRange(element);
        if (range && range->minimum <= range->maximum) {
            control.element = element;
            control.range = *range;
            return true;
        }
    }
    return false;
}

bool SetVolumeControl(IMixer &mixer, const VolumeControl &control, long value)
{
    if (!control.isValid() || !mixer.isOpen())
        return false;
    return mixer.setPlaybackVolume(control.element, std::clamp(value, control.range.minimum, control.range.maximum));
}

long volumeFromText(const QString &text, const IMixer::Range &range)
{
    const double number = Conversions::leadingNumber(text);
    if (std::isnan(number))
        return range.minimum;
    const double clamped = std::clamp(number, static_cast<double>(range.minimum), static_cast<double>(range.maximum));
    // The default rounding mode sends halves to the even neighbour.
    return std::clamp(static_cast<long>(std::nearbyint(clamped)), range.minimum, range.maximum);
}

QString rangeText(const IMixer::Range &range)
{
    return QString::number(range.minimum) + QStringLiteral(" to ") + QString::number(range.maximum);
}

} // namespace Module1
