#include "engine/AlertGate.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

#include <QHash>
#include <QUrl>

#include <algorithm>

namespace {
std::optional<QTime> timeSetting(const SettingsStore &settings, const QString &key)
{
    const QString text = settings.GetSetting(key).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    const QTime time = QTime::fromString(text, QStringLiteral("H:mm"));
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

// The page as the summary names it: its path, or the text when it is no address.
QString shownPage(const QString &page)
{
    const QUrl url(page);
    const QString path = url.isValid() && !url.host().isEmpty() ? url.path() : QString();
    return path.isEmpty() ? page.left(80) : path.left(80);
}
} // namespace

AlertGate::Settings AlertGate::Settings::read(const SettingsStore &settings)
{
    Settings s;
    if (const std::optional<qint16> burst = Conversions::toInt16(settings.GetSetting(QStringLiteral("AlertBurst"))))
        s.burst = std::max<int>(1, *burst);
    if (const std::optional<qint16> seconds
        = Conversions::toInt16(settings.GetSetting(QStringLiteral("AlertWindowSeconds"))))
        s.windowMs = qint64(std::clamp<int>(*seconds, 1, 3600)) * 1000;
    s.quietFrom = timeSetting(settings, QStringLiteral("QuietFrom"));
    s.quietTo = timeSetting(settings, QStringLiteral("QuietTo"));
    s.quietPopups = Conversions::truthValue(settings.GetSetting(QStringLiteral("QuietPopups"), QStringLiteral("0")))
                        .value_or(false);
    return s;
}

bool AlertGate::inQuietHours(const QTime &time, const Settings &settings)
{
    if (!settings.quietFrom || !settings.quietTo || *settings.quietFrom == *settings.quietTo)
        return false;
    const QTime from = *settings.quietFrom;
    const QTime to = *settings.quietTo;
    if (from < to)
        return time >= from && time < to;
    return time >= from || time < to; // across midnight
}

AlertGate::Decision AlertGate::onVisit(
    qint64 nowMs, const QDateTime &when, const QString &page, const Settings &settings)
{
    while (!m_recent.empty() && nowMs - m_recent.front() >= settings.windowMs)
        m_recent.pop_front();
    if (m_recent.size() >= MaxRemembered)
        m_recent.pop_front();
    m_recent.push_back(nowMs);
    if (m_pages.size() >= PagesForSummary)
        m_pages.pop_front();
    m_pages.push_back(page); // shared, not copied

    Decision decision;
    if (int(m_recent.size()) > settings.burst) {
        // A burst: one summary per window.
        if (m_lastSummaryMs >= 0 && nowMs - m_lastSummaryMs < settings.windowMs) {
            decision.popup = false;
        } else {
            m_lastSummaryMs = nowMs;
            QHash<QString, int> counts;
            QString most;
            const std::size_t inWindow = std::min(m_pages.size(), m_recent.size());
            for (auto it = m_pages.end() - qsizetype(inWindow); it != m_pages.end(); ++it) {
                const QString shown = shownPage(*it);
                const int n = ++counts[shown];
                if (n > counts.value(most))
                    most = shown;
            }
            decision.summary = QStringLiteral("%1 visits in the last %2 s \u2014 most: %3")
                                   .arg(m_recent.size())
                                   .arg(settings.windowMs / 1000)
                                   .arg(most);
        }
    }
    // One doorbell per window at most.
    if (m_lastSoundMs >= 0 && nowMs - m_lastSoundMs < settings.windowMs)
        decision.sound = false;
    if (settings.quietFrom && settings.quietTo && inQuietHours(when.time(), settings)) {
        decision.sound = false;
        if (settings.quietPopups)
            decision.popup = false;
    }
    if (decision.sound)
        m_lastSoundMs = nowMs;
    return decision;
}
