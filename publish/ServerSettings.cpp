#include "publish/ServerSettings.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

#include <QUrl>

namespace {

QString boxText(const std::optional<bool> &checked)
{
    return checked.value_or(false) ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

ServerSettings ServerSettings::load(const SettingsStore &store)
{
    ServerSettings s;
    s.user = store.GetSetting(QStringLiteral("dyuser"));
    s.password = store.GetSetting(QStringLiteral("dypass"));
    s.hostName = store.GetSetting(QStringLiteral("dyname"));
    s.port = store.GetSetting(QStringLiteral("ListenPort"), QStringLiteral("80"));
    // The boxes show what the program does with the stored texts, so that OK keeps it: the
    // address script runs for any leading number but 0 (none when missing), dynamic DNS is on
    // unless the text is "0" (on when missing).
    s.useAsp = Conversions::leadingNumber(store.GetSetting(QStringLiteral("useasp"), QStringLiteral("0"))) != 0.0;
    s.useDynDns = !Conversions::trimmedEquals(store.GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
    if (s.port.isEmpty())
        s.port = QStringLiteral("80");
    s.remoteHost = store.GetSetting(QStringLiteral("RemoteHost"), QStringLiteral("localhost"));
    s.remotePath = store.GetSetting(QStringLiteral("RemotePath"), QStringLiteral("/sendip.asp"));
    QUrl relay(store.GetSetting(QStringLiteral("RelaySubscribeURL")).trimmed());
    s.relayUser = relay.userName();
    relay.setUserInfo(QString());
    s.relayUrl = relay.toString();
    s.relayPassword = store.GetSetting(QStringLiteral("RelayPassword"));
    return s;
}

void ServerSettings::store(SettingsStore &store) const
{
    const SettingsStore::Batch batch(store); // one write of the file
    store.SaveSetting(QStringLiteral("ListenPort"), port);
    store.SaveSetting(QStringLiteral("RemoteHost"), remoteHost);
    store.SaveSetting(QStringLiteral("RemotePath"), remotePath);
    store.SaveSetting(QStringLiteral("MainSettings"), QStringLiteral("OK"));
    store.SaveSetting(QStringLiteral("usedyndns"), boxText(useDynDns));
    // Blanks around a user or host name are typing slips the provider would refuse.
    store.SaveSetting(QStringLiteral("dyuser"), user.trimmed());
    store.SaveSetting(QStringLiteral("dypass"), password);
    store.SaveSetting(QStringLiteral("dyname"), hostName.trimmed());
    store.SaveSetting(QStringLiteral("useasp"), boxText(useAsp));
    store.SaveSetting(QStringLiteral("RelaySubscribeURL"), relayAddress());
    store.SaveSetting(QStringLiteral("RelayPassword"), relayPassword);
    store.sync();
}

QString ServerSettings::relayAddress() const
{
    if (relayUrl.trimmed().isEmpty())
        return {};
    QUrl url(relayUrl.trimmed());
    if (!relayUser.trimmed().isEmpty())
        url.setUserName(relayUser.trimmed());
    return url.toString();
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
