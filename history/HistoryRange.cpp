#include "history/HistoryRange.h"

#include <algorithm>

namespace {
qint64 startOf(const QDate &day)
{
    return day.startOfDay().toMSecsSinceEpoch();
}
} // namespace

HistoryRange HistoryRange::forPreset(Preset preset, const QDateTime &now, const QDate &first, const QDate &last)
{
    const QDate today = now.date();
    switch (preset) {
    case Preset::Today:
        return { startOf(today), startOf(today.addDays(1)) };
    case Preset::Yesterday:
        return { startOf(today.addDays(-1)), startOf(today) };
    case Preset::Last7Days:
        return { startOf(today.addDays(-6)), startOf(today.addDays(1)) };
    case Preset::Last30Days:
        return { startOf(today.addDays(-29)), startOf(today.addDays(1)) };
    case Preset::Everything:
        return { 0, Open };
    case Preset::Dates: {
        QDate a = first.isValid() ? first : today;
        QDate b = last.isValid() ? last : a;
        if (b < a)
            std::swap(a, b);
        return { startOf(a), startOf(b.addDays(1)) };
    }
    }
    return {};
}

QString HistoryRange::presetName(Preset preset)
{
    switch (preset) {
    case Preset::Today:
        return QStringLiteral("Today");
    case Preset::Yesterday:
        return QStringLiteral("Yesterday");
    case Preset::Last7Days:
        return QStringLiteral("Last 7 days");
    case Preset::Last30Days:
        return QStringLiteral("Last 30 days");
    case Preset::Everything:
        return QStringLiteral("Everything");
    case Preset::Dates:
        return QStringLiteral("Between dates");
    }
    return {};
}

HistoryBuckets HistoryBuckets::forRange(const HistoryRange &range, qint64 firstMs, const QDateTime &now)
{
    HistoryBuckets buckets;
    const qint64 from = range.fromMs > 0 ? range.fromMs : firstMs;
    const qint64 to = range.toMs < HistoryRange::Open ? range.toMs : startOf(now.date().addDays(1));
    if (from >= to)
        return buckets;
    const QDateTime fromTime = QDateTime::fromMSecsSinceEpoch(from);
    const QDate firstDay = fromTime.date();
    buckets.hourly = to - from <= 25LL * 3600 * 1000 && startOf(firstDay.addDays(1)) >= to;
    if (buckets.hourly) {
        // Whole hours from the start; where the clocks change, an hour is still 3600 s.
        qint64 start = startOf(firstDay);
        while (start + 3600 * 1000 <= from)
            start += 3600 * 1000;
        for (qint64 t = start; t < to; t += 3600 * 1000)
            buckets.startsMs.append(t);
        return buckets;
    }
    QDate lastDay = QDateTime::fromMSecsSinceEpoch(to - 1).date();
    QDate day = firstDay;
    if (day.daysTo(lastDay) >= MaxBuckets)
        day = lastDay.addDays(-(MaxBuckets - 1));
    for (; day <= lastDay; day = day.addDays(1))
        buckets.startsMs.append(startOf(day));
    return buckets;
}

int HistoryBuckets::indexOf(qint64 ms) const
{
    if (startsMs.isEmpty() || ms < startsMs.front())
        return -1;
    const auto it = std::upper_bound(startsMs.cbegin(), startsMs.cend(), ms);
    return int(it - startsMs.cbegin()) - 1;
}
