#pragma once

#include "publish/HttpRequest.h"
#include "publish/OrderedDictionary.h"

#include <QString>

class ConnectionState;
class SettingsStore;
class clsDyndns;

// The work behind the host manager window (frmMain2): its two web exchanges, each blocking for
// seconds and meant for a worker thread (runInBackground), and its texts. The window keeps its
// own client (myDNS) and host list (myHostList) and applies the results on the user-interface
// thread.
namespace HostManager {

struct LoginResult
{
    bool ok = false;
    OrderedDictionary hosts; // every dynamic host, then every static one, in page order
    QString publicAddress; // for the address box; empty when it cannot be found
};

// Logs the client in with the texts as they stand and, on success, reads the public address.
LoginResult login(clsDyndns &client, const QString &username, const QString &password, const QString &echoPageUrl,
    const ConnectionState &connection, const HttpOptions &options);

struct UpdateResult
{
    bool ok = false;
    QString address; // the address sent (the public one when the box was empty)
    OrderedDictionary hosts; // the provider's addresses after the attempt
};

// Points hostName at address (an empty address: the public one).
UpdateResult update(clsDyndns &client, const QString &hostName, const QString &address);

// The text of lblCurrentIP for the host list's text.
QString currentAddressText(const OrderedDictionary &hosts, const QString &hostText);

QString loginPrompt(const QString &providerName); // "Please login to " + name + "."
QString caption(const QString &providerName); // name + " Update System"
QString successMessage(const QString &hostName, const QString &address);

// Whether the program's own updater keeps hostName pointing at this PC (dynamic DNS on, and the
// host is the configured one), so that a manual update of it is undone within a minute.
bool keptByUpdater(const SettingsStore &settings, const QString &hostName);
// What the window says before such an update.
QString keptByUpdaterWarning(const QString &hostName);

extern const QString NoHostSelected; // "(select host to view current IP)"
extern const QString LoginFailed;
extern const QString SelectHost;
extern const QString UpdateFailed;
extern const QString ManualUpdateLogLine; // "Updated IP Manually"
extern const QString NotConnected; // "You are not connected to the Internet"

} // namespace HostManager
