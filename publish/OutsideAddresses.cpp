#include "publish/OutsideAddresses.h"

#include "core/SettingsStore.h"

const QString OutsideAddresses::EchoPageURLKey = QStringLiteral("EchoPageURL");
const QString OutsideAddresses::AccountSiteURLKey = QStringLiteral("AccountSiteURL");
const QString OutsideAddresses::UpdateHostURLKey = QStringLiteral("UpdateHostURL");
const QString OutsideAddresses::ProviderNameKey = QStringLiteral("ProviderName");
const QString OutsideAddresses::ProviderSiteURLKey = QStringLiteral("ProviderSiteURL");
const QString OutsideAddresses::UpdateStatusURLKey = QStringLiteral("UpdateStatusURL");
const QString OutsideAddresses::UpdateVersionURLKey = QStringLiteral("UpdateVersionURL");
const QString OutsideAddresses::SoundsPageURLKey = QStringLiteral("SoundsPageURL");
const QString OutsideAddresses::CAFileKey = QStringLiteral("CAFile");

OutsideAddresses OutsideAddresses::defaults()
{
    OutsideAddresses a;
    a.echoPageUrl = QStringLiteral("https://api.ipify.org/");
    a.accountSiteUrl = QStringLiteral("https://account.dyn.com/");
    a.updateHostUrl = QStringLiteral("https://members.dyndns.org");
    a.providerName = QStringLiteral("DynDNS");
    a.providerSiteUrl = QStringLiteral("https://account.dyn.com/");
    a.updateStatusUrl = QStringLiteral("https://vistelle.sourceforge.io/update/status.txt");
    a.updateVersionUrl = QStringLiteral("https://vistelle.sourceforge.io/update/download.txt");
    a.soundsPageUrl = QStringLiteral("https://freesound.org/");
    return a;
}

OutsideAddresses OutsideAddresses::read(const SettingsStore &settings)
{
    const OutsideAddresses d = defaults();
    OutsideAddresses a;
    a.echoPageUrl = settings.GetSetting(EchoPageURLKey, d.echoPageUrl);
    a.accountSiteUrl = settings.GetSetting(AccountSiteURLKey, d.accountSiteUrl);
    a.updateHostUrl = settings.GetSetting(UpdateHostURLKey, d.updateHostUrl);
    a.providerName = settings.GetSetting(ProviderNameKey, d.providerName);
    a.providerSiteUrl = settings.GetSetting(ProviderSiteURLKey, d.providerSiteUrl);
    a.updateStatusUrl = settings.GetSetting(UpdateStatusURLKey, d.updateStatusUrl);
    a.updateVersionUrl = settings.GetSetting(UpdateVersionURLKey, d.updateVersionUrl);
    a.soundsPageUrl = settings.GetSetting(SoundsPageURLKey, d.soundsPageUrl);
    a.caFile = settings.GetSetting(CAFileKey, d.caFile);
    return a;
}

HttpOptions OutsideAddresses::httpOptions() const
{
    HttpOptions options;
    options.caFile = caFile;
    return options;
}
