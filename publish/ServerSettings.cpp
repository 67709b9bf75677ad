#include "publish/ServerSettings.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

namespace {

QString boxText(const std::optional<bool> &checked)
{
    return checked.value_or(false) ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

ServerSettings ServerSettings::load(const SettingsStore &store)
{
    ServerSettings s;
    const QString blank = QStringLiteral(" ");
    s.user = store.GetSetting(QStringLiteral("dyuser"), blank);
    s.password = store.GetSetting(QStringLiteral("dypass"), blank);
    s.hostName = store.GetSetting(QStringLiteral("dyname"), blank);
    s.port = store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80"));
    // The ASP box takes the leading number of the text (0 when missing).
    const double asp = Conversions::leadingNumber(store.GetSetting(QStringLiteral("useasp"), QStringLiteral("0")));
    if (asp == 1.0)
        s.useAsp = true;
    else if (asp == 0.0)
        s.useAsp = false;
    if (s.port.isEmpty())
        s.port = QStringLiteral("80");
    s.remoteHost = store.GetSetting(QStringLiteral("RemoteHost"), QStringLiteral("localhost"));
    s.remotePath = store.GetSetting(QStringLiteral("RemotePath"), QStringLiteral("/sendip.asp"));
    // The provider box takes a whole number only; a missing or other value leaves it alone.
    if (store.contains(QStringLiteral("usedyndns"))) {
        const std::optional<qint16> value = Conversions::toInt16(store.GetSetting(QStringLiteral("usedyndns")));
        if (value == 1)
            s.useDynDns = true;
        else if (value == 0)
            s.useDynDns = false;
    }
    return s;
}

void ServerSettings::store(SettingsStore &store) const
{
    store.SaveSetting(QStringLiteral("ListenPort"), port);
    store.SaveSetting(QStringLiteral("RemoteHost"), remoteHost);
    store.SaveSetting(QStringLiteral("RemotePath"), remotePath);
    store.SaveSetting(QStringLiteral("MainSettings"), QStringLiteral("OK"));
    store.SaveSetting(QStringLiteral("usedyndns"), boxText(useDynDns));
    store.SaveSetting(QStringLiteral("dyuser"), user);
    store.SaveSetting(QStringLiteral("dypass"), password);
    store.SaveSetting(QStringLiteral("dyname"), hostName);
    store.SaveSetting(QStringLiteral("useasp"), boxText(useAsp));
    store.sync();
}

std::optional<qint16> ServerSettings::portNumber(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 5)
        return std::nullopt;
    for (const QChar c : trimmed) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    const int value = trimmed.toInt();
    if (value < 1 || value > 32767)
        return std::nullopt;
    return qint16(value);
}
