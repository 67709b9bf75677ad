#pragma once

#include "publish/HttpRequest.h"
#include "publish/OrderedDictionary.h"

#include <QString>

#include <memory>
#include <optional>

class ConnectionState;

// The client of the dynamic-DNS provider: logs into the account site (https), reads the host
// lists of the account's "dyndns" and "statdns" services from its pages, and points one host
// name at an address through the update protocol on the update host ("/nic/update", Basic
// authorization; https unless the user set a plain http host).
//
// Synchronous and free of any window: every exchange blocks for at most the time limit of its
// HttpOptions. Run it on a worker thread, one thread at a time per instance. It shows and logs
// nothing; it reports through its Boolean results and its properties.
class clsDyndns final
{
public:
    struct Endpoints
    {
        QString accountSiteUrl; // https, ending in "/"
        QString updateHostUrl; // without "/nic/update"
        QString echoPageUrl; // for UpdateHost with an empty address
        HttpOptions http;
    };

    // How the last exchange of any kind ended.
    struct Exchange
    {
        QString url;
        int httpStatus = 0; // 0 when no answer came
        std::optional<HttpErrorKind> error; // set when the exchange failed
        QString errorText;
    };

    // What the last update request (of SubmitUpdate) got; empty until one was sent.
    struct UpdateAnswer
    {
        bool sent = false;
        Exchange exchange;
        QString body; // the provider's answer ("good 1.2.3.4", "nochg", "badauth", ...)
    };

    // connection: for GetPublicIP when UpdateHost is given no address (null: always online).
    explicit clsDyndns(Endpoints endpoints, std::shared_ptr<const ConnectionState> connection = {});

    // The addresses may change between uses (they are settings); not during one.
    void setEndpoints(const Endpoints &endpoints) { m_endpoints = endpoints; }
    const Endpoints &endpoints() const { return m_endpoints; }

    QString SessionID() const { return mySessionID; }
    // Replaces the session identifier only; the cookie is not rebuilt.
    void setSessionID(const QString &id) { mySessionID = id; }
    // The body of the last answer received by any exchange.
    QString GetCurrentHTML() const { return myCurrentHTML; }
    // The URL of the last request opened.
    QString GetCurrentURL() const { return myCurrentURL; }
    // The value sent in the Cookie header ("ACS_ID=" and the session identifier).
    QString cookie() const { return myCookie; }
    QString username() const { return myUsername; }
    bool hasPassword() const { return !myPassword.isEmpty(); }

    bool Login(const QString &username, const QString &password);
    // Every dynamic host, then every static host, with the address the account pages show.
    OrderedDictionary HostList() const;
    const OrderedDictionary &dynHosts() const { return myDynHosts; }
    const OrderedDictionary &statHosts() const { return myStatHosts; }
    // True when the provider accepted the update. An empty address is replaced by the public
    // address (and the caller's variable receives it).
    bool UpdateHost(const QString &hostName, QString &address);

    // Why the last Login returned false.
    struct LoginFailure
    {
        // The provider refused the user name or password (its login page showed its error).
        bool refused = false;
        // Otherwise why the account site could not be used: the transport's error (name lookup,
        // connection, certificate, time-out, an answer over the size limit), an HTTP error status
        // or a page without the expected parts. Empty after a successful login.
        QString reason;
    };

    // The page parsers, on their own for tests and fuzzing.
    // The rows of class "light" of a service page, each giving a host name and its address, into
    // the dictionary (in page order). False, with the reason, for a row without either or a host
    // listed twice.
    static bool ParseHostList(QString page, OrderedDictionary &dictionary, QString *error = nullptr);
    // The value of the settings page's mail-exchanger field; nullopt when it has none.
    static std::optional<QString> MailExchanger(const QString &settingsPage);
    // An update answer that begins with "good" or "nochg".
    static bool IsAcceptedAnswer(const QString &answer);

    const Exchange &LastExchange() const { return m_lastExchange; }
    const LoginFailure &LastLoginFailure() const { return m_loginFailure; }
    const UpdateAnswer &LastUpdate() const { return m_lastUpdate; }

private:
    void OpenGetRequest(HttpRequest &request, const QString &url);
    QString SendRequest(HttpRequest &request);
    void AddCookieHeader(HttpRequest &request) const;
    void AddAuthHeader(HttpRequest &request) const;
    void LoadHostLists();
    void LoadHostList(const QString &service, OrderedDictionary &dictionary);
    bool SubmitUpdate(const QString &service, const QString &hostName, const QString &address);
    void ClearSession();

    Endpoints m_endpoints;
    std::shared_ptr<const ConnectionState> m_connection;

    QString myCookie;
    QString mySessionID;
    QString myUsername;
    QString myPassword;
    QString myCurrentHTML;
    QString myCurrentURL;
    OrderedDictionary myDynHosts;
    OrderedDictionary myStatHosts;

    Exchange m_lastExchange;
    UpdateAnswer m_lastUpdate;
    LoginFailure m_loginFailure;
};
