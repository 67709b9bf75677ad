#include "alerts/Module1.h"

#include <QRegularExpression>

#include <algorithm>

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
            const std::optional<long> now = mixer.playbackVolume(element);
            control.current = std::clamp(now.value_or(range->minimum), range->minimum, range->maximum);
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

std::optional<long> volumeFromText(const QString &text, const IMixer::Range &range)
{
    static const QRegularExpression wholeNumber(QStringLiteral("^\\s*([+-]?\\d{1,18})\\s*$"));
    const QRegularExpressionMatch match = wholeNumber.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const long value = match.captured(1).toLong(&ok);
    if (!ok || value < range.minimum || value > range.maximum)
        return std::nullopt;
    return value;
}

QString rangeText(const IMixer::Range &range)
{
    return QString::number(range.minimum) + QStringLiteral(" to ") + QString::number(range.maximum);
}

} // namespace Module1
