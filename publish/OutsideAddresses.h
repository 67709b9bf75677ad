#pragma once

#include "publish/HttpRequest.h"

#include <QString>

class SettingsStore;

// The addresses of the outside services, each a setting of the program's store with a default,
// so a user can point the program at another provider and the tests at local servers.
//
//   EchoPageURL       public-address echo page          https://api.ipify.org/
//   AccountSiteURL    provider's account site (https, ending in "/")   https://account.dyn.com/
//   UpdateHostURL     provider's update host (without "/nic/update"; plain http is possible but
//                     sends the account's password unencrypted)
//                                                       https://members.dyndns.org
//   ProviderName      provider's display name           DynDNS
//   ProviderSiteURL   provider's web site               https://account.dyn.com/
//   UpdateStatusURL   update-check status file (newest version text)
//                                                       https://vistelle.sourceforge.io/update/status.txt
//   UpdateVersionURL  update-check version file (download address)
//                                                       https://vistelle.sourceforge.io/update/download.txt
//   SoundsPageURL     sound-effects web page            https://freesound.org/
//   CAFile            extra certificate authority (PEM) empty
struct OutsideAddresses
{
    QString echoPageUrl;
    QString accountSiteUrl;
    QString updateHostUrl;
    QString providerName;
    QString providerSiteUrl;
    QString updateStatusUrl;
    QString updateVersionUrl;
    QString soundsPageUrl;
    QString caFile;

    // Every address at its default.
    static OutsideAddresses defaults();
    // Read from the store (user-interface thread), missing keys at their defaults.
    static OutsideAddresses read(const SettingsStore &settings);

    // HttpOptions that trust caFile besides the system's authorities.
    HttpOptions httpOptions() const;

    static const QString EchoPageURLKey;
    static const QString AccountSiteURLKey;
    static const QString UpdateHostURLKey;
    static const QString ProviderNameKey;
    static const QString ProviderSiteURLKey;
    static const QString UpdateStatusURLKey;
    static const QString UpdateVersionURLKey;
    static const QString SoundsPageURLKey;
    static const QString CAFileKey;
};
