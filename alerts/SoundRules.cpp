#include "alerts/SoundRules.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

#include <QRegularExpression>

namespace SoundRules {
namespace {
bool isTrue(const SettingsStore &store, const QString &key)
{
    return Conversions::truthValue(store.GetSetting(key, QStringLiteral("1"))).value_or(false);
}
} // namespace

PopupStyle popupStyle(const SettingsStore &store, bool placeable)
{
    const QString style = store.GetSetting(QStringLiteral("PopupStyle")).trimmed().toLower();
    if (style == u"notification")
        return PopupStyle::Notification;
    if (style == u"popup")
        return PopupStyle::Popup;
    return placeable ? PopupStyle::Popup : PopupStyle::Notification;
}

QString containsKey(int n)
{
    return QStringLiteral("Contains") + QString::number(n);
}

QString soundKey(int n)
{
    return QStringLiteral("CSound") + QString::number(n);
}

NotifySettings LoadSoundRules(const SettingsStore &store, bool placeable)
{
    NotifySettings settings;
    settings.popupStyle = popupStyle(store, placeable);
    settings.popupAlert = isTrue(store, QStringLiteral("PopupAlert"));
    settings.soundAlert = isTrue(store, QStringLiteral("SoundAlert"));
    settings.defaultSound = store.GetSetting(QStringLiteral("DefaultSnd"), QStringLiteral("doorbell.wav"));
    settings.alertBurst = qBound(1, store.GetSetting(QStringLiteral("AlertBurst"), QStringLiteral("3")).toInt(), 1000);
    settings.alertWindowSeconds
        = qBound(1, store.GetSetting(QStringLiteral("AlertWindowSeconds"), QStringLiteral("10")).toInt(), 3600);
    settings.quietFrom = store.GetSetting(QStringLiteral("QuietFrom")).trimmed();
    settings.quietTo = store.GetSetting(QStringLiteral("QuietTo")).trimmed();
    settings.quietPopups
        = isTrue(store, QStringLiteral("QuietPopups")) && store.contains(QStringLiteral("QuietPopups"));
    settings.ignoreAddresses = store.GetSetting(QStringLiteral("IgnoreAddresses")).trimmed();
    settings.hideOwnVisits = Conversions::truthValue(store.GetSetting(QStringLiteral("HideOwnVisits"))).value_or(false);
    settings.crawlerAlerts = Conversions::truthValue(store.GetSetting(QStringLiteral("CrawlerAlerts"))).value_or(false);
    // The visit processing reads numbers 0 to 100; so does this loop, whatever the store holds.
    for (int n = 0; n <= MaxRules; ++n) {
        const QString contains = store.GetSetting(containsKey(n));
        if (!contains.trimmed().isEmpty())
            settings.rules.append({ contains, store.GetSetting(soundKey(n)).trimmed() });
    }
    return settings;
}

void SaveSoundRules(SettingsStore &store, const NotifySettings &settings)
{
    // Up to 200 and more saves: the file is written once.
    const SettingsStore::Batch batch(store);
    // Every stored rule beyond the list goes, whatever its number's spelling or letter case.
    static const QRegularExpression ruleKey(
        QStringLiteral("^(?:contains|csound)(\\d+)$"), QRegularExpression::CaseInsensitiveOption);
    for (const QString &key : store.keys()) {
        const QRegularExpressionMatch match = ruleKey.match(key);
        bool ok = false;
        const qlonglong number = match.hasMatch() ? match.captured(1).toLongLong(&ok) : -1;
        if (match.hasMatch() && (!ok || number >= settings.rules.size()))
            store.removeSetting(key);
    }
    for (qsizetype i = 0; i < settings.rules.size(); ++i) {
        const int number = static_cast<int>(i);
        store.SaveSetting(containsKey(number), settings.rules.at(i).contains);
        store.SaveSetting(soundKey(number), settings.rules.at(i).soundFile);
    }
    store.SaveSetting(QStringLiteral("PopupAlert"), settings.popupAlert ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("SoundAlert"), settings.soundAlert ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("DefaultSnd"), settings.defaultSound);
    store.SaveSetting(QStringLiteral("AlertBurst"), QString::number(settings.alertBurst));
    store.SaveSetting(QStringLiteral("AlertWindowSeconds"), QString::number(settings.alertWindowSeconds));
    store.SaveSetting(QStringLiteral("QuietFrom"), settings.quietFrom);
    store.SaveSetting(QStringLiteral("QuietTo"), settings.quietTo);
    store.SaveSetting(QStringLiteral("QuietPopups"), settings.quietPopups ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("IgnoreAddresses"), settings.ignoreAddresses.trimmed());
    store.SaveSetting(
        QStringLiteral("HideOwnVisits"), settings.hideOwnVisits ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(
        QStringLiteral("CrawlerAlerts"), settings.crawlerAlerts ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("PopupStyle"),
        settings.popupStyle == PopupStyle::Notification ? QStringLiteral("notification") : QStringLiteral("popup"));
    store.sync();
}

} // namespace SoundRules
