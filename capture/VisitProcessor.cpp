#include "capture/VisitProcessor.h"

#include "capture/RequestParsing.h"
#include "core/Conversions.h"
#include "core/SettingsStore.h"

#include <QLocale>
#include <QTimer>

VisitProcessor::VisitProcessor(
    SettingsStore &settings, IVisitList &list, IVisitEffects &effects, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_list(list)
    , m_effects(effects)
    , m_clock(clock)
    , m_trayTimer(new QTimer(this))
{
    m_trayTimer->setSingleShot(true);
    connect(m_trayTimer, &QTimer::timeout, this, &VisitProcessor::restoreTrayIfDue);
}

bool VisitProcessor::settingIsTrue(const QString &key) const
{
    // A text that is not a truth value makes the test fail: the guarded step is skipped.
    return Conversions::truthValue(m_settings.GetSetting(key, QStringLiteral("1"))).value_or(false);
}

QString VisitProcessor::soundFor(const QString &page) const
{
    if (!settingIsTrue(QStringLiteral("SoundAlert")))
        return {};
    QString sound = m_settings.GetSetting(QStringLiteral("DefaultSnd"), QStringLiteral("doorbell.wav"));
    for (int n = 0; n <= MaxRuleIndex; ++n) {
        const QString rule = m_settings.GetSetting(QStringLiteral("Contains") + QString::number(n));
        if (rule.isEmpty())
            break;
        if (page.contains(rule))
            sound = m_settings.GetSetting(QStringLiteral("CSound") + QString::number(n));
    }
    return sound;
}

void VisitProcessor::WS_Close(const QString &request, const QString &visitorIP, bool tls)
{
    const qint64 now = m_clock.monotonicMs();
    m_effects.setStopRepeat(false, {});

    const QString referer = RequestParsing::GetHeaderFromRequest(request, QStringLiteral("referer"));
    if (!referer.isEmpty())
        m_lastReferer = referer;

    // A repeat of the page just announced, within the repeat window, is dropped. Nothing
    // announced yet (popups off, or no popup so far) means nothing can be a repeat: two requests
    // without any referer must not suppress each other.
    if (m_lastVisitMs && now - *m_lastVisitMs < RepeatWindowMs && !m_lastPopupPage.trimmed().isEmpty()
        && Conversions::trimmedEquals(m_lastPopupPage, m_lastReferer)) {
        const double secondsLeft = (RepeatWindowMs - (now - *m_lastVisitMs)) / 1000.0;
        m_effects.setStopRepeat(true,
            QStringLiteral("Stopped Repeat Request: ") + QLocale().toString(secondsLeft, 'g', 7)
                + QStringLiteral(" sec."));
        return;
    }
    m_lastVisitMs = now;
    m_visitPage = QStringLiteral("Unknown");

    // The program's own address-script call reaching its own listener.
    if (request.contains(QStringLiteral("sendip.asp"), Qt::CaseInsensitive))
        return;

    if (RequestParsing::GetHeaderFromRequest(request, QStringLiteral("host")) == u"localhost")
        m_visitPage = QStringLiteral("Local Page");
    if (!referer.isEmpty())
        m_visitPage = referer;

    m_effects.putLog(QStringLiteral("Visit: ") + visitorIP + QStringLiteral(" -> ") + m_visitPage);
    const QDateTime visitTime = m_clock.currentDateTime();
    const int row = m_list.addVisit(visitTime, visitorIP, m_visitPage);
    RecordedVisit recorded { visitTime, visitorIP, QString(), m_visitPage, tls };

    const QString sound = soundFor(m_visitPage);
    if (!sound.isEmpty())
        m_effects.playSound(sound);

    m_effects.setTrayAlert(true);
    m_trayAlert = true;
    m_lastAlertMs = now;
    m_trayTimer->start(static_cast<int>(TrayAlertMs));

    bool countryAsked = false;
    if (settingIsTrue(QStringLiteral("PopupAlert"))) {
        const std::optional<QString> country = m_effects.country(visitorIP);
        countryAsked = true;
        recorded.country = country.value_or(QString());
        QString caption;
        if (!country) {
            caption = QStringLiteral("Visitor: ") + visitorIP;
        } else {
            caption = *country;
            m_list.appendCountry(row, *country);
        }
        m_lastPopupPage = m_visitPage;
        RequestParsing::sepurl(m_visitPage);
        m_effects.showPopup(caption, QStringLiteral("Visited page: ") + m_visitPage);
    }
    if (m_recorder) {
        // The history keeps the country even when no popup asked for it.
        if (!countryAsked)
            recorded.country = m_effects.country(visitorIP).value_or(QString());
        m_recorder->recordVisit(recorded);
    }

    if (m_visitPage == u"Unknown") {
        m_effects.putLog(QStringLiteral("Wiinsock returned 'Unknown' for page URL"));
        m_effects.putLog(QStringLiteral("The following is complete header received:"));
        m_effects.putLog(request);
    }
    m_list.makeNewestRowCurrent();
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
