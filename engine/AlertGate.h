#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

#include <deque>
#include <optional>

class SettingsStore;

// What a visit announces, on a busy site and at night. Every visit is still logged, listed,
// counted and stored; only its popup and sound pass this gate.
//
// Bursts: while at most AlertBurst visits came within the last AlertWindowSeconds, each visit has
// its own popup; beyond that the popup is a summary ("12 visits in the last 10 s — most:
// /pricing"), at most one per window, and single popups resume when the rate drops. The sound
// rings at most once per window, so a burst is one doorbell, not fifty.
//
// Quiet hours: from QuietFrom to QuietTo (local "hh:mm", may span midnight; either empty: off) no
// sound plays, and with QuietPopups also no popup shows.
class AlertGate final
{
public:
    struct Settings
    {
        int burst = 3; // AlertBurst
        qint64 windowMs = 10'000; // AlertWindowSeconds
        std::optional<QTime> quietFrom, quietTo; // QuietFrom, QuietTo
        bool quietPopups = false; // QuietPopups: popups go quiet too
        static Settings read(const SettingsStore &settings);
    };

    struct Decision
    {
        bool popup = true;
        bool sound = true;
        QString summary; // not empty: the popup is this summary instead of the visit's own
    };

    // A visit to page at nowMs (monotonic) and when (the wall clock; its time of day is looked at
    // only with quiet hours set).
    Decision onVisit(qint64 nowMs, const QDateTime &when, const QString &page, const Settings &settings);

    static bool inQuietHours(const QTime &time, const Settings &settings);

private:
    static constexpr std::size_t MaxRemembered = 1'000'000;
    static constexpr std::size_t PagesForSummary = 256;
    std::deque<qint64> m_recent; // the times of the visits within the window
    std::deque<QString> m_pages; // the pages of the latest visits, for the summary's most visited
    qint64 m_lastSummaryMs = -1;
    qint64 m_lastSoundMs = -1;
};
