#include "publish/clsDyndns.h"

#include "core/ConnectionState.h"
#include "publish/modXMLHTTP.h"

#include <QRegularExpression>

#include <stdexcept>

namespace {

const QString kDynService = QStringLiteral("dyndns");
const QString kStatService = QStringLiteral("statdns");
const QString kErrorMarker = QStringLiteral("<p class=\"error\">");
const QString kMxPrefix = QStringLiteral("name=\"mx\" value=\"");

// A page that cannot be read as the client expects (no session cookie, a row without a host
// or address, a repeated host, a settings page without a mail exchanger).
class PageError final : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class AlwaysOnline final : public ConnectionState
{
public:
    Result query() const override { return { true, QString(), Lan }; }
};

} // namespace

clsDyndns::clsDyndns(Endpoints endpoints, std::shared_ptr<const ConnectionState> connection)
    : m_endpoints(std::move(endpoints))
    , m_connection(connection ? std::move(connection) : std::make_shared<AlwaysOnline>())
{ }

void clsDyndns::OpenGetRequest(HttpRequest &request, const QString &url)
{
    modXMLHTTP::OpenGet(request, url);
    myCurrentURL = url;
}

QString clsDyndns::SendRequest(HttpRequest &request)
{
    m_lastExchange = Exchange { request.url(), 0, std::nullopt, QString() };
    try {
        const QString body = modXMLHTTP::SendAndWait(request);
        m_lastExchange.httpStatus = request.status();
        myCurrentHTML = body;
        return body;
    } catch (const HttpError &error) {
        m_lastExchange.error = error.kind();
        m_lastExchange.errorText = error.description();
        throw;
    }
}

void clsDyndns::AddCookieHeader(HttpRequest &request) const
{
    request.setRequestHeader(QStringLiteral("Cookie"), myCookie);
}

void clsDyndns::AddAuthHeader(HttpRequest &request) const
{
    request.setRequestHeader(QStringLiteral("Authorization"),
        QStringLiteral("Basic ") + modXMLHTTP::Base64Encode(myUsername + u':' + myPassword));
}

void clsDyndns::ClearSession()
{
    mySessionID.clear();
    myCookie.clear();
    myUsername.clear();
    myPassword.clear();
}

bool clsDyndns::Login(const QString &username, const QString &password)
{
    m_loginFailure = LoginFailure();
    try {
        const QString url = m_endpoints.accountSiteUrl + QStringLiteral("account/login.html?__login=1&username=")
            + modXMLHTTP::URLEncode(username) + QStringLiteral("&password=") + modXMLHTTP::URLEncode(password)
            + QStringLiteral("&submit=Login");
        HttpRequest request(m_endpoints.http);
        OpenGetRequest(request, url);
        const QString body = SendRequest(request);

        // The provider refused the credentials: nothing changes but the last URL and page.
        if (body.contains(kErrorMarker)) {
            m_loginFailure.refused = true;
            m_loginFailure.reason = QStringLiteral("the provider refused the login");
            return false;
        }

        myUsername = username;
        myPassword = password;

        static const QRegularExpression cookiePattern(QStringLiteral("ACS_ID=[^;]+"));
        const QRegularExpressionMatch match
            = cookiePattern.match(request.getResponseHeader(QStringLiteral("Set-Cookie")));
        if (!match.hasMatch())
            throw PageError("its login answer carried no session cookie");
        mySessionID = match.captured(0).remove(QStringLiteral("ACS_ID="));
        myCookie = QStringLiteral("ACS_ID=") + mySessionID;

        LoadHostLists();
        return true;
    } catch (const HttpError &error) {
        m_loginFailure.reason = error.description();
    } catch (const std::exception &error) {
        // An error page says more than the parts missing from it.
        const int status = m_lastExchange.httpStatus;
        m_loginFailure.reason = status >= 300
            ? QStringLiteral("the account site answered HTTP ") + QString::number(status)
            : QString::fromUtf8(error.what());
    }
    ClearSession();
    return false;
}

void clsDyndns::LoadHostLists()
{
    LoadHostList(kDynService, myDynHosts);
    LoadHostList(kStatService, myStatHosts);
}

void clsDyndns::LoadHostList(const QString &service, OrderedDictionary &dictionary)
{
    HttpRequest request(m_endpoints.http);
    OpenGetRequest(request, m_endpoints.accountSiteUrl + QStringLiteral("services/") + service + u'/');
    AddCookieHeader(request);
    const QString body = SendRequest(request);

    dictionary.clear();
    QString error;
    if (!ParseHostList(body, dictionary, &error))
        throw PageError(error.toStdString());
}

bool clsDyndns::ParseHostList(QString body, OrderedDictionary &dictionary, QString *error)
{
    static const QRegularExpression rowPattern(
        QStringLiteral("<tr class=\"light\">[\\S\\s]+?</tr>"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression hostPattern(
        QStringLiteral(">[0-9a-z\\-\\.]+"), QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression addressPattern(QStringLiteral(">[0-9\\.]+"));

    // No row can end after the last closing row tag; cutting the page there keeps the lazy row
    // pattern from rescanning the rest of a page full of unclosed rows (quadratic time).
    const qsizetype lastClose = body.lastIndexOf(QLatin1String("</tr>"), -1, Qt::CaseInsensitive);
    if (lastClose < 0)
        return true;
    body.truncate(lastClose + 5);

    QRegularExpressionMatchIterator rows = rowPattern.globalMatch(body);
    while (rows.hasNext()) {
        const QString row = rows.next().captured(0);
        const QRegularExpressionMatch host = hostPattern.match(row);
        const QRegularExpressionMatch address = addressPattern.match(row);
        if (!host.hasMatch() || !address.hasMatch()) {
            if (error)
                *error = QStringLiteral("a row of its host list had no host name or no address");
            return false;
        }
        if (!dictionary.add(host.captured(0).mid(1), address.captured(0).mid(1))) {
            if (error)
                *error = QStringLiteral("its host list named a host twice");
            return false;
        }
    }
    return true;
}

std::optional<QString> clsDyndns::MailExchanger(const QString &settingsPage)
{
    static const QRegularExpression mxPattern(QStringLiteral("name=\"mx\" value=\"[^\"]*"));
    const QRegularExpressionMatch mxMatch = mxPattern.match(settingsPage);
    if (!mxMatch.hasMatch())
        return std::nullopt;
    QString mx = mxMatch.captured(0);
    mx.remove(mx.indexOf(kMxPrefix), kMxPrefix.size());
    return mx;
}

bool clsDyndns::IsAcceptedAnswer(const QString &answer)
{
    return answer.startsWith(QLatin1String("good")) || answer.startsWith(QLatin1String("nochg"));
}

OrderedDictionary clsDyndns::HostList() const
{
    OrderedDictionary all;
    for (const auto &[host, address] : myDynHosts)
        (void)all.add(host, address);
    for (const auto &[host, address] : myStatHosts)
        (void)all.add(host, address); // a host of both services keeps its dynamic address
    return all;
}

bool clsDyndns::UpdateHost(const QString &hostName, QString &address)
{
    QString service;
    if (myDynHosts.contains(hostName))
        service = kDynService;
    else if (myStatHosts.contains(hostName))
        service = kStatService;
    else
        return false;

    if (!address.isEmpty()) {
        static const QRegularExpression notAddress(QStringLiteral("[^0-9\\.]"));
        if (notAddress.match(address).hasMatch())
            return false;
    } else {
        address = modXMLHTTP::GetPublicIP(m_endpoints.echoPageUrl, *m_connection, m_endpoints.http);
    }
    return SubmitUpdate(service, hostName, address);
}

bool clsDyndns::SubmitUpdate(const QString &service, const QString &hostName, const QString &address)
{
    try {
        HttpRequest request(m_endpoints.http);
        OpenGetRequest(request, m_endpoints.accountSiteUrl + QStringLiteral("services/") + service + u'/' + hostName);
        AddCookieHeader(request);
        const QString settingsPage = SendRequest(request);

        const std::optional<QString> mailExchanger = MailExchanger(settingsPage);
        if (!mailExchanger)
            return false;
        const QString mx = *mailExchanger;

        const QString updateUrl = m_endpoints.updateHostUrl + QStringLiteral("/nic/update?system=") + service
            + QStringLiteral("&hostname=") + modXMLHTTP::URLEncode(hostName) + QStringLiteral("&myip=")
            + modXMLHTTP::URLEncode(address) + QStringLiteral("&wildcard=OFF&mx=") + modXMLHTTP::URLEncode(mx)
            + QStringLiteral("&backmx=NO&offline=NO");
        // Opened again: the update carries the Authorization header and no Cookie.
        OpenGetRequest(request, updateUrl);
        AddAuthHeader(request);
        m_lastUpdate = UpdateAnswer { true, Exchange { updateUrl, 0, std::nullopt, QString() }, QString() };
        QString answer;
        try {
            answer = SendRequest(request);
        } catch (const HttpError &) {
            m_lastUpdate.exchange = m_lastExchange;
            throw;
        }
        m_lastUpdate.exchange = m_lastExchange;
        m_lastUpdate.body = answer;

        const bool accepted = IsAcceptedAnswer(answer);

        // Show the provider's addresses after the attempt, whatever its answer.
        LoadHostLists();
        return accepted;
    } catch (const std::exception &) {
        return false;
    }
}
