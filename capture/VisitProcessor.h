#pragma once

#include "capture/VisitEffects.h"
#include "capture/VisitRecorder.h"
#include "core/Clock.h"

#include <QObject>
#include <QString>

#include <optional>

class QTimer;
class SettingsStore;

// Turns each finished request into a visit: repeat suppression, the page, the log line, the list
// row and counters, the sound chosen by the owner's rules, the tray alert, the country and the
// popup. Requests are processed one at a time in arrival order, each completely before the next;
// the tray's alert picture stays until 2 s after the latest alert.
class VisitProcessor final : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 RepeatWindowMs = 2000;
    static constexpr qint64 TrayAlertMs = 2000;
    static constexpr int MaxRuleIndex = 100;

    VisitProcessor(SettingsStore &settings, IVisitList &list, IVisitEffects &effects,
        const Clock &clock = Clock::system(), QObject *parent = nullptr);

    // Processes one request: its raw header text, the visitor's address and whether it came over
    // TLS.
    void WS_Close(const QString &request, const QString &visitorIP, bool tls = false);

    // Every counted visit also goes to the recorder (the history); null: to nobody.
    void setRecorder(IVisitRecorder *recorder) { m_recorder = recorder; }

    // The load sequence's reset: the last visit counts as long ago.
    void resetLastVisitTime() { m_lastVisitMs.reset(); }

    // The sound file the owner's rules give for a page (empty: no sound).
    QString soundFor(const QString &page) const;

    // Restores the tray picture once 2 s have passed since the latest alert; runs from a timer.
    void restoreTrayIfDue();
    bool trayAlertShown() const { return m_trayAlert; }

    QString LastReferer() const { return m_lastReferer; }
    QString LastPopupPage() const { return m_lastPopupPage; }

private:
    bool settingIsTrue(const QString &key) const;

    SettingsStore &m_settings;
    IVisitList &m_list;
    IVisitEffects &m_effects;
    IVisitRecorder *m_recorder = nullptr;
    const Clock &m_clock;
    QTimer *m_trayTimer;

    std::optional<qint64> m_lastVisitMs; // none: long ago
    QString m_visitPage;
    QString m_lastReferer;
    QString m_lastPopupPage;
    qint64 m_lastAlertMs = 0;
    bool m_trayAlert = false;
};
