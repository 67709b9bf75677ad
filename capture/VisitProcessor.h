#pragma once

#include "capture/VisitClassifier.h"
#include "capture/VisitEffects.h"
#include "capture/VisitRecorder.h"
#include "core/Clock.h"
#include "core/SettingsStore.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>
#include <utility>
#include <vector>

class QTimer;

// Turns each finished request into a visit: repeat suppression, the page, the log line, the list
// row and counters, the sound chosen by the owner's rules, the tray alert, the country and the
// popup. Requests are processed one at a time in arrival order, each completely before the next;
// the tray's alert picture stays until 2 s after the latest alert.
//
// A repeat is a request from the same visitor address with the same referer (blanks around it
// aside) as that visitor's previous visit, within 2 s of it; it changes nothing but the
// "Stopped Repeat Request" indicator and does not move the visitor's 2 s. A request without a
// referer is never a repeat. Other visitors, and the popup setting, play no part.
//
// A request whose first line is not an HTTP request line is no visit; it is noted in the log at
// most once a minute ("Ignored a request that is not HTTP from <address>").
//
// The owner's own visits (VisitClassifier) are logged as "Own visit: ..." and crawlers as
// "Crawler visit: ..."; neither gives a sound, a tray alert or a popup (crawlers do when the setting
// CrawlerAlerts is on). Both are listed and stored with their kind.
//
// The page (the referer) is kept to its first 4,096 characters and made plain (PlainText::page)
// before anything else sees it; the header of an "Unknown" page is logged up to 8 KiB.
// A visit of a site that reached this PC through the relay's broker.
struct RelayedVisit
{
    QDateTime time;
    QString address;
    QString page;
    QString country; // empty: looked up here
    bool tls = false;
    QString relayId;
};

class VisitProcessor final : public QObject
{
    Q_OBJECT
public:
    static constexpr qint64 RepeatWindowMs = 2000;
    static constexpr qint64 TrayAlertMs = 2000;
    static constexpr int MaxRuleIndex = 100;
    // Characters of a User-Agent kept with a visit.
    static constexpr qsizetype MaxAgentChars = 512;
    // ...and of its Host header.
    static constexpr qsizetype MaxHostChars = 255;
    // Characters of a request header logged for an "Unknown" page at most.
    static constexpr qsizetype HeaderDumpLimit = 8 * 1024;
    // A request that is not HTTP is noted at most once in this span.
    static constexpr qint64 NotHttpNoteIntervalMs = 60'000;

    VisitProcessor(SettingsStore &settings, IVisitList &list, IVisitEffects &effects,
        const Clock &clock = Clock::system(), QObject *parent = nullptr);

    // Processes one request: its raw header text, the visitor's address and whether it came over
    // TLS.
    void WS_Close(const QString &request, const QString &visitorIP, bool tls = false);

    // A relayed visit: logged ("Relayed visit: "), listed, counted and stored like one of the
    // listener's; announced (sound, tray, popup) unless it is one of a backlog, which
    // announceBacklog then announces at once.
    void takeRelayed(const RelayedVisit &visit, bool announce);
    // "37 visits while you were away": one popup and one sound (the most visited page's).
    void announceBacklog(int count, const QString &topPage);

    // Tells own visits and crawlers apart; the engine gives it the PC's public address.
    VisitClassifier &classifier() { return m_classifier; }

    // Every counted visit also goes to the recorder (the history); null: to nobody.
    void setRecorder(IVisitRecorder *recorder) { m_recorder = recorder; }

    // The load sequence's reset: every visitor's last visit counts as long ago.
    void resetRecentVisits();
    // Visitors whose last visit lies within the repeat window (older ones are forgotten).
    int recentVisitorCount() const { return int(m_recent.size()); }

    // The sound file the owner's rules give for a page (empty: no sound).
    QString soundFor(const QString &page) const;

    // Restores the tray picture once 2 s have passed since the latest alert; runs from a timer.
    void restoreTrayIfDue();
    bool trayAlertShown() const { return m_trayAlert; }

private:
    // A visitor's last visit. Its referer is kept as a seeded hash of its trimmed text: the
    // visits of the last 2 s never hold on to their pages (up to 4,096 characters each).
    struct RecentVisit
    {
        qint64 atMs = 0;
        size_t refererHash = 0;
        qsizetype refererLength = 0;
    };
    // What a visit reads from the settings, read again only when they changed (not a hundred
    // keys a visit).
    struct Switches
    {
        bool sound = false;
        bool popup = false;
        bool crawlerAlerts = false;
        QString defaultSound;
        // The page rules: a text and the sound it gives.
        std::vector<std::pair<QString, QString>> rules;
    };
    const Switches &switches() const;
    bool settingIsTrue(const QString &key, bool byDefault = true) const;
    // The sound and the tray picture of an announced visit.
    void ring(const QDateTime &time, const QString &address, const QString &page, qint64 now);
    // The popup of an announced visit (PopupAlert); without a country it names the visitor by
    // address.
    void popup(const QString &address, const QString &page, const QString &country);
    void forgetOldVisits(qint64 nowMs);
    // Keeps the settings as read now until control returns to the event loop: the visits of a
    // burst handled in one turn look at the settings file once.
    void holdSettingsForThisTurn();

    SettingsStore &m_settings;
    std::optional<SettingsStore::ReadScope> m_turnSettings;
    // The switches as last read, and the settings' generation they were read at.
    mutable Switches m_switches;
    mutable quint64 m_switchesGeneration = ~quint64(0);
    IVisitList &m_list;
    IVisitEffects &m_effects;
    IVisitRecorder *m_recorder = nullptr;
    VisitClassifier m_classifier;
    const Clock &m_clock;
    QTimer *m_trayTimer;

    const size_t m_hashSeed;
    QHash<QString, RecentVisit> m_recent; // visitor address: last visit within the repeat window
    std::deque<std::pair<qint64, QString>> m_recentOrder; // (time, address) of visits, oldest first
    qint64 m_lastAlertMs = 0;
    bool m_notHttpNoted = false;
    qint64 m_lastNotHttpNoteMs = 0;
    bool m_trayAlert = false;
};
