#include "alerts/SoundRules.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

namespace SoundRules {
namespace {
bool isTrue(const SettingsStore &store, const QString &key)
{
    return Conversions::truthValue(store.GetSetting(key, QStringLiteral("1"))).value_or(false);
}
} // namespace

QString containsKey(int n)
{
    return QStringLiteral("Contains") + QString::number(n);
}

QString soundKey(int n)
{
    return QStringLiteral("CSound") + QString::number(n);
}

NotifySettings LoadSoundRules(const SettingsStore &store)
{
    NotifySettings settings;
    settings.popupAlert = isTrue(store, QStringLiteral("PopupAlert"));
    settings.soundAlert = isTrue(store, QStringLiteral("SoundAlert"));
    settings.defaultSound = store.GetSetting(QStringLiteral("DefaultSnd"), QStringLiteral("doorbell.wav"));
    // The visit processing reads at most number 100; so does this loop, whatever the store holds.
    for (int n = 0; n <= MaxRules; ++n) {
        if (n > 0 && store.GetSetting(containsKey(n)).isEmpty())
            break;
        const QString contains = store.GetSetting(containsKey(n));
        if (!contains.trimmed().isEmpty())
            settings.rules.append({ contains, store.GetSetting(soundKey(n)).trimmed() });
    }
    return settings;
}

void SaveSoundRules(SettingsStore &store, const NotifySettings &settings)
{
    int n = 0;
    do {
        store.SaveSetting(soundKey(n), QString());
        store.SaveSetting(containsKey(n), QString());
        ++n;
    } while (!store.GetSetting(soundKey(n)).trimmed().isEmpty());

    for (qsizetype i = 0; i < settings.rules.size(); ++i) {
        const int number = static_cast<int>(i);
        store.SaveSetting(containsKey(number), settings.rules.at(i).contains);
        store.SaveSetting(soundKey(number), settings.rules.at(i).soundFile);
    }
    store.SaveSetting(QStringLiteral("PopupAlert"), settings.popupAlert ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("SoundAlert"), settings.soundAlert ? QStringLiteral("1") : QStringLiteral("0"));
    store.SaveSetting(QStringLiteral("DefaultSnd"), settings.defaultSound);
    store.sync();
}

} // namespace SoundRules
