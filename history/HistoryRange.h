#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <limits>

// A span of time of the history: visits at or after fromMs and before toMs (milliseconds since
// the epoch). The chart counts per hour for a span of one day, per day for longer spans.
struct HistoryRange
{
    enum class Preset { Today, Yesterday, Last7Days, Last30Days, Everything, Dates };

    static constexpr qint64 Open = std::numeric_limits<qint64>::max() / 2048;

    qint64 fromMs = 0;
    qint64 toMs = Open;

    // The span of a preset at the local moment `now`; Dates takes the two days (both included,
    // in either order).
    static HistoryRange forPreset(Preset preset, const QDateTime &now, const QDate &first = {}, const QDate &last = {});
    static QString presetName(Preset preset);

    bool operator==(const HistoryRange &) const = default;
};

// The bars of the chart: the local start of each hour or day of a span.
struct HistoryBuckets
{
    bool hourly = false;
    QList<qint64> startsMs; // ascending; bucket i is [startsMs[i], startsMs[i + 1] or the span's end)

    // Hours when the span is at most one local day (25 hours on the day the clocks go back), days
    // otherwise. An open end stops at `now`'s day; an open start begins at the day of `firstMs`
    // (the oldest visit). At most MaxBuckets; a longer span is cut at its start.
    static HistoryBuckets forRange(const HistoryRange &range, qint64 firstMs, const QDateTime &now);
    static constexpr int MaxBuckets = 20000;

    // The bucket of a moment, or -1 outside.
    int indexOf(qint64 ms) const;
};
