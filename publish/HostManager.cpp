#include "publish/HostManager.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"

#include "publish/clsDyndns.h"
#include "publish/modXMLHTTP.h"

namespace HostManager {

const QString NoHostSelected = QStringLiteral("(select host to view current IP)");
const QString LoginFailed = QStringLiteral("Your username or password is incorrect. Please try again.");
const QString SelectHost = QStringLiteral("Please select the domain record whose IP you wish to update.");
const QString UpdateFailed = QStringLiteral("The IP was not updated. Check that you have entered a valid IP "
                                            "address and that you are connected to the Internet.");
const QString ManualUpdateLogLine = QStringLiteral("Updated IP Manually");
const QString NotConnected = QStringLiteral("You are not connected to the Internet");

LoginResult login(clsDyndns &client, const QString &username, const QString &password, const QString &echoPageUrl,
    const ConnectionState &connection, const HttpOptions &options)
{
    LoginResult result;
    result.ok = client.Login(username, password);
    if (!result.ok)
        return result;
    result.hosts = client.HostList();
    result.publicAddress = modXMLHTTP::GetPublicIP(echoPageUrl, connection, options);
    return result;
}

UpdateResult update(clsDyndns &client, const QString &hostName, const QString &address)
{
    UpdateResult result;
    result.address = address;
    result.ok = client.UpdateHost(hostName, result.address);
    result.hosts = client.HostList();
    return result;
}

QString currentAddressText(const OrderedDictionary &hosts, const QString &hostText)
{
    if (hostText.isEmpty())
        return NoHostSelected;
    return QStringLiteral("Current IP: ") + hosts.value(hostText);
}

QString loginPrompt(const QString &providerName)
{
    return QStringLiteral("Please login to ") + providerName + u'.';
}

QString caption(const QString &providerName)
{
    return providerName + QStringLiteral(" Update System");
}

QString successMessage(const QString &hostName, const QString &address)
{
    return QStringLiteral("The IP address of ") + hostName + QStringLiteral(" was successfully updated to: ") + address;
}

bool keptByUpdater(const SettingsStore &settings, const QString &hostName)
{
    if (Conversions::trimmedEquals(settings.GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0")))
        return false;
    const QString configured = settings.GetSetting(QStringLiteral("dyname")).trimmed();
    return !configured.isEmpty() && configured.compare(hostName.trimmed(), Qt::CaseInsensitive) == 0;
}

QString keptByUpdaterWarning(const QString &hostName)
{
    return QStringLiteral("Vistelle keeps ") + hostName
        + QStringLiteral(" pointing at this PC and will set it back within a minute. Turn off Use DynDNS in "
                         "Settings to keep the address you enter.");
}

} // namespace HostManager
