#include "capture/VisitProcessor.h"

#include "capture/RequestParsing.h"
#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/PlainText.h"
#include "core/SettingsStore.h"
#include "core/TextSearch.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTimer>

VisitProcessor::VisitProcessor(
    SettingsStore &settings, IVisitList &list, IVisitEffects &effects, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_list(list)
    , m_effects(effects)
    , m_classifier(settings)
    , m_clock(clock)
    , m_trayTimer(new QTimer(this))
    , m_hashSeed(size_t(QRandomGenerator::system()->generate64()))
{
    m_trayTimer->setSingleShot(true);
    connect(m_trayTimer, &QTimer::timeout, this, &VisitProcessor::restoreTrayIfDue);
}

bool VisitProcessor::settingIsTrue(const QString &key, bool byDefault) const
{
    // A text that is not a truth value makes the test fail: the guarded step is skipped.
    return Conversions::truthValue(m_settings.GetSetting(key, byDefault ? QStringLiteral("1") : QStringLiteral("0")))
        .value_or(false);
}

const VisitProcessor::Switches &VisitProcessor::switches() const
{
    const quint64 generation = m_settings.generation();
    if (generation == m_switchesGeneration)
        return m_switches;
    Switches read;
    read.sound = settingIsTrue(QStringLiteral("SoundAlert"));
    read.popup = settingIsTrue(QStringLiteral("PopupAlert"));
    read.crawlerAlerts = settingIsTrue(QStringLiteral("CrawlerAlerts"), false);
    read.defaultSound = m_settings.GetSetting(QStringLiteral("DefaultSnd"), QStringLiteral("doorbell.wav"));
    for (int n = 0; n <= MaxRuleIndex; ++n) {
        const QString rule = m_settings.GetSetting(QStringLiteral("Contains") + QString::number(n));
        // A number without a text is no rule, but the ones after it still count.
        if (!rule.trimmed().isEmpty())
            read.rules.push_back({ rule, m_settings.GetSetting(QStringLiteral("CSound") + QString::number(n)) });
    }
    m_switches = std::move(read);
    m_switchesGeneration = generation;
    return m_switches;
}

QString VisitProcessor::soundFor(const QString &page) const
{
    const Switches &now = switches();
    if (!now.sound)
        return {};
    QString sound = now.defaultSound;
    for (const auto &[rule, ruleSound] : now.rules) {
        if (page.contains(rule))
            sound = ruleSound;
    }
    return sound;
}

void VisitProcessor::resetRecentVisits()
{
    m_recent.clear();
    m_recentOrder.clear();
}

void VisitProcessor::forgetOldVisits(qint64 nowMs)
{
    while (!m_recentOrder.empty() && nowMs - m_recentOrder.front().first >= RepeatWindowMs) {
        const auto &[atMs, address] = m_recentOrder.front();
        const auto found = m_recent.constFind(address);
        if (found != m_recent.constEnd() && found->atMs == atMs)
            m_recent.erase(found);
        m_recentOrder.pop_front();
    }
}

void VisitProcessor::holdSettingsForThisTurn()
{
    if (m_turnSettings)
        return;
    m_turnSettings.emplace(m_settings);
    QMetaObject::invokeMethod(
        this, [this] { m_turnSettings.reset(); }, Qt::QueuedConnection);
}

void VisitProcessor::WS_Close(const QString &request, const QString &visitorIP, bool tls)
{
    holdSettingsForThisTurn();
    const qint64 now = m_clock.monotonicMs();
    // Bytes that are not an HTTP request (a port scanner, a stray protocol) are no visit.
    if (!RequestParsing::isHttpRequest(request)) {
        if (!m_notHttpNoted || now - m_lastNotHttpNoteMs >= NotHttpNoteIntervalMs) {
            m_notHttpNoted = true;
            m_lastNotHttpNoteMs = now;
            LogMsg(QStringLiteral("Ignored a request that is not HTTP from ") + visitorIP);
        }
        return;
    }
    m_effects.setStopRepeat(false, {});
    forgetOldVisits(now);

    const RequestParsing::VisitHeaders headers = RequestParsing::visitHeaders(request);
    const QString referer = PlainText::page(headers.referer);
    const QStringView trimmedReferer = QStringView(referer).trimmed();
    const RecentVisit visit { now, qHash(trimmedReferer, m_hashSeed), trimmedReferer.size() };
    const auto previous = m_recent.constFind(visitorIP);
    if (previous != m_recent.constEnd() && !trimmedReferer.isEmpty() && previous->refererHash == visit.refererHash
        && previous->refererLength == visit.refererLength) {
        const double secondsLeft = (RepeatWindowMs - (now - previous->atMs)) / 1000.0;
        m_effects.setStopRepeat(true,
            QStringLiteral("Stopped Repeat Request: ") + QLocale().toString(secondsLeft, 'g', 7)
                + QStringLiteral(" sec."));
        return;
    }
    m_recent.insert(visitorIP, visit);
    m_recentOrder.emplace_back(now, visitorIP);

    // The program's own address-script call reaching its own listener.
    if (TextSearch::containsIgnoringCase(request, u"sendip.asp"))
        return;

    const QString host = PlainText::sanitized(PlainText::cut(headers.host, MaxHostChars));
    QString page = referer;
    if (page.isEmpty())
        page = host == u"localhost" ? QStringLiteral("Local Page") : QStringLiteral("Unknown");

    const QString agent = PlainText::sanitized(PlainText::cut(headers.userAgent, MaxAgentChars));
    const VisitKind kind = m_classifier.kindOf(visitorIP, agent);
    const QString prefix = kind == VisitKind::Own ? QStringLiteral("Own visit: ")
        : kind == VisitKind::Crawler              ? QStringLiteral("Crawler visit: ")
                                                  : QStringLiteral("Visit: ");
    LogMsg(prefix + visitorIP + QStringLiteral(" -> ") + page);
    const QDateTime visitTime = m_clock.currentDateTime();
    const int row = m_list.addVisit(visitTime, visitorIP, page, kind);
    // The history's time without a conversion from local time (a moment later at most).
    RecordedVisit recorded { visitTime, visitorIP, QString(), page, tls, kind, agent, QString(), host,
        m_clock.currentMSecsSinceEpoch() };
    const bool alerts = kind == VisitKind::Visit || (kind == VisitKind::Crawler && switches().crawlerAlerts);

    if (alerts)
        ring(visitTime, visitorIP, page, now);

    // The list and the history show the country whatever the popup setting; without a country
    // (no country file, or an address the file does not know) the popup names the visitor by
    // address.
    const std::optional<QString> country = m_effects.country(visitorIP);
    recorded.country = country.value_or(QString());
    const bool named = country && !country->isEmpty();
    if (named)
        m_list.appendCountry(row, *country);
    if (alerts)
        popup(visitorIP, page, named ? *country : QString());
    if (m_recorder)
        m_recorder->recordVisit(recorded);

    if (page == u"Unknown") {
        LogMsg(QStringLiteral("Wiinsock returned 'Unknown' for page URL"));
        LogMsg(QStringLiteral("The following is complete header received:"));
        const QString shown = PlainText::cut(request, HeaderDumpLimit);
        LogMsg(shown.size() == request.size()
                ? shown
                : shown + QStringLiteral(" [... %1 more characters left out]").arg(request.size() - shown.size()));
    }
    m_list.makeNewestRowCurrent();
}

void VisitProcessor::ring(const QDateTime &time, const QString &address, const QString &page, qint64 now)
{
    m_effects.alertsComing(time, address, page);
    const QString sound = soundFor(page);
    if (!sound.isEmpty())
        m_effects.playSound(sound);

    m_effects.setTrayAlert(true);
    m_trayAlert = true;
    m_lastAlertMs = now;
    // A running timer is left alone: when it fires it waits on for the rest of the latest
    // alert's 2 s (restoreTrayIfDue), so a burst does not restart it for every visit.
    if (!m_trayTimer->isActive())
        m_trayTimer->start(static_cast<int>(TrayAlertMs));
}

void VisitProcessor::popup(const QString &address, const QString &page, const QString &country)
{
    if (!switches().popup)
        return;
    QString shownPage = page;
    RequestParsing::sepurl(shownPage);
    m_effects.showPopup(country.isEmpty() ? QStringLiteral("Visitor: ") + address : country,
        QStringLiteral("Visited page: ") + shownPage);
}

void VisitProcessor::takeRelayed(const RelayedVisit &visit, bool announce)
{
    const SettingsStore::ReadScope settingsScope(m_settings);
    const QString page = visit.page.isEmpty() ? QStringLiteral("Unknown") : visit.page;
    LogMsg(QStringLiteral("Relayed visit: ") + visit.address + QStringLiteral(" -> ") + page);
    const int row = m_list.addVisit(visit.time, visit.address, page, VisitKind::Relayed);
    if (announce)
        ring(visit.time, visit.address, page, m_clock.monotonicMs());
    const std::optional<QString> country
        = visit.country.isEmpty() ? m_effects.country(visit.address) : std::optional<QString>(visit.country);
    const bool named = country && !country->isEmpty();
    if (named)
        m_list.appendCountry(row, *country);
    if (announce)
        popup(visit.address, page, named ? *country : QString());
    if (m_recorder)
        m_recorder->recordVisit(RecordedVisit { visit.time, visit.address, country.value_or(QString()), page, visit.tls,
            VisitKind::Relayed, QString(), visit.relayId });
    m_list.makeNewestRowCurrent();
}

void VisitProcessor::announceBacklog(int count, const QString &topPage)
{
    if (count <= 0)
        return;
    const SettingsStore::ReadScope settingsScope(m_settings);
    const QString caption = count == 1 ? QStringLiteral("1 visit while you were away")
                                       : QStringLiteral("%1 visits while you were away").arg(count);
    LogMsg(caption + QStringLiteral("; most visited page: ") + topPage);
    ring(m_clock.currentDateTime(), QString(), topPage, m_clock.monotonicMs());
    if (settingIsTrue(QStringLiteral("PopupAlert"))) {
        QString shownPage = topPage;
        RequestParsing::sepurl(shownPage);
        m_effects.showPopup(caption, QStringLiteral("Most visited page: ") + shownPage);
    }
}

void VisitProcessor::restoreTrayIfDue()
{
    if (!m_trayAlert)
        return;
    const qint64 elapsed = m_clock.monotonicMs() - m_lastAlertMs;
    if (elapsed < TrayAlertMs) {
        m_trayTimer->start(static_cast<int>(TrayAlertMs - elapsed));
        return;
    }
    m_trayAlert = false;
    m_effects.setTrayAlert(false);
}
