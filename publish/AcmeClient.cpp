#include "publish/AcmeClient.h"

#include "core/AcmeChallenges.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QSslCertificate>
#include <QTimeZone>

#include <chrono>
#include <thread>

namespace {

const QString JoseJson = QStringLiteral("application/jose+json");
constexpr int BadNonceRetries = 3;

// The exception that ends an order: what the outcome reports.
struct Failure
{
    QString error;
    QString problemType;
    qint64 retryAfterSeconds = -1;
};

QString problemName(const QString &type)
{
    const QString prefix = QStringLiteral("urn:ietf:params:acme:error:");
    return type.startsWith(prefix) ? type.mid(prefix.size()) : type;
}

// A token is base64url text (RFC 8555 section 8.1); anything else could not be a path segment.
bool isToken(const QString &token)
{
    if (token.size() < 16 || token.size() > 256)
        return false;
    for (QChar c : token) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-'
            || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

// Text from a server, shown in the log: one line, bounded.
QString shown(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0))
            c = u' ';
    }
    if (text.size() > 300)
        text = text.left(300) + QStringLiteral("...");
    return text;
}

} // namespace

AcmeClient::AcmeClient(AcmeRequest request, const AcmeCrypto::Key &accountKey, AcmeChallenges &challenges)
    : m_request(std::move(request))
    , m_accountKey(accountKey)
    , m_challenges(challenges)
{
    HttpOptions options;
    options.timeoutMs = m_request.timeoutMs;
    options.caFile = m_request.caFile;
    m_http.setOptions(options);
    m_sleep = [this](qint64 ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (m_stopped || HttpRequest::aborted())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return !m_stopped && !HttpRequest::aborted();
    };
}

qint64 AcmeClient::retryAfterSeconds(const QString &value, const QDateTime &now)
{
    const QString text = value.trimmed();
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const qint64 seconds = text.toLongLong(&ok);
    if (ok)
        return seconds >= 0 ? std::min(seconds, MaxRetryAfterSeconds) : -1;
    // An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT".
    QDateTime at = QLocale::c().toDateTime(text, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (!at.isValid())
        return -1;
    at.setTimeZone(QTimeZone::utc());
    return std::clamp<qint64>(now.secsTo(at), 0, MaxRetryAfterSeconds);
}

void AcmeClient::fail(const Answer &answer, const QString &what)
{
    Failure failure;
    const QString type = answer.json.value(QStringLiteral("type")).toString();
    const QString detail = answer.json.value(QStringLiteral("detail")).toString();
    failure.problemType = type;
    failure.retryAfterSeconds = retryAfterSeconds(answer.retryAfter, QDateTime::currentDateTimeUtc());
    failure.error = what + QStringLiteral(" (HTTP ") + QString::number(answer.status) + u')';
    if (!type.isEmpty() || !detail.isEmpty())
        failure.error += QStringLiteral(": ") + shown(problemName(type))
            + (detail.isEmpty() ? QString() : QStringLiteral(": ") + shown(detail));
    throw failure;
}

QJsonObject AcmeClient::getDirectory()
{
    m_http.open(QStringLiteral("GET"), m_request.directoryUrl);
    m_http.send();
    Answer answer;
    answer.status = m_http.status();
    answer.json = QJsonDocument::fromJson(m_http.responseBody()).object();
    if (answer.status != 200 || answer.json.value(QStringLiteral("newOrder")).toString().isEmpty())
        fail(answer, QStringLiteral("the address is no ACME directory"));
    return answer.json;
}

void AcmeClient::newNonce()
{
    m_http.open(QStringLiteral("HEAD"), m_directory.value(QStringLiteral("newNonce")).toString());
    m_http.send();
    m_nonce = m_http.getResponseHeader(QStringLiteral("Replay-Nonce"));
    if (m_nonce.isEmpty())
        throw Failure { QStringLiteral("the server gave no nonce (HTTP %1)").arg(m_http.status()) };
}

AcmeClient::Answer AcmeClient::post(const QString &url, const QByteArray &payload, const QString &accept)
{
    for (int attempt = 0;; ++attempt) {
        if (m_nonce.isEmpty())
            newNonce();
        const QByteArray body = AcmeCrypto::jws(m_accountKey, m_kid, m_nonce, url, payload);
        m_nonce.clear();
        m_http.open(QStringLiteral("POST"), url);
        m_http.setRequestHeader(QStringLiteral("Content-Type"), JoseJson);
        if (!accept.isEmpty())
            m_http.setRequestHeader(QStringLiteral("Accept"), accept);
        m_http.setRequestBody(body);
        m_http.send();
        Answer answer;
        answer.status = m_http.status();
        answer.body = m_http.responseBody();
        answer.json = QJsonDocument::fromJson(answer.body).object();
        answer.location = m_http.getResponseHeader(QStringLiteral("Location"));
        answer.retryAfter = m_http.getResponseHeader(QStringLiteral("Retry-After"));
        m_nonce = m_http.getResponseHeader(QStringLiteral("Replay-Nonce"));
        if (answer.status >= 400
            && answer.json.value(QStringLiteral("type")).toString()
                == QLatin1String("urn:ietf:params:acme:error:badNonce")
            && attempt < BadNonceRetries)
            continue; // the answer carried a fresh nonce (or the next round asks for one)
        return answer;
    }
}

AcmeClient::Answer AcmeClient::postAsGet(const QString &url, const QString &accept)
{
    return post(url, QByteArray(), accept);
}

void AcmeClient::wait(const Answer &answer, qint64 &waitedMs)
{
    qint64 ms = 1000;
    const qint64 seconds = retryAfterSeconds(answer.retryAfter, QDateTime::currentDateTimeUtc());
    if (seconds >= 0)
        ms = std::clamp<qint64>(seconds * 1000, 100, 60'000);
    if (waitedMs + ms > m_request.pollLimitMs)
        throw Failure { QStringLiteral("the server took too long (more than %1 s)").arg(m_request.pollLimitMs / 1000) };
    waitedMs += ms;
    if (!m_sleep(ms))
        throw Failure { QStringLiteral("stopped") };
}

void AcmeClient::validate(const QString &authorizationUrl)
{
    Answer authorization = postAsGet(authorizationUrl);
    if (authorization.status != 200)
        fail(authorization, QStringLiteral("the authorization could not be read"));
    if (authorization.json.value(QStringLiteral("status")).toString() == QLatin1String("valid"))
        return; // validated for an earlier order
    QString token;
    QString challengeUrl;
    const QJsonArray challenges = authorization.json.value(QStringLiteral("challenges")).toArray();
    for (const QJsonValue &value : challenges) {
        const QJsonObject challenge = value.toObject();
        if (challenge.value(QStringLiteral("type")).toString() == QLatin1String("http-01")) {
            token = challenge.value(QStringLiteral("token")).toString();
            challengeUrl = challenge.value(QStringLiteral("url")).toString();
        }
    }
    if (challengeUrl.isEmpty())
        throw Failure { QStringLiteral("the server offers no http-01 challenge") };
    if (!isToken(token))
        throw Failure { QStringLiteral("the server's challenge token is not usable") };

    const QByteArray tokenBytes = token.toLatin1();
    m_challenges.publish(tokenBytes, tokenBytes + '.' + m_accountKey.thumbprint());
    struct Withdraw
    {
        AcmeChallenges &challenges;
        QByteArray token;
        ~Withdraw() { challenges.withdraw(token); }
    } withdraw { m_challenges, tokenBytes };

    const Answer started = post(challengeUrl, QByteArrayLiteral("{}"));
    if (started.status != 200)
        fail(started, QStringLiteral("the challenge could not be started"));
    qint64 waited = 0;
    for (;;) {
        authorization = postAsGet(authorizationUrl);
        if (authorization.status != 200)
            fail(authorization, QStringLiteral("the authorization could not be read"));
        const QString status = authorization.json.value(QStringLiteral("status")).toString();
        if (status == QLatin1String("valid"))
            return;
        if (status != QLatin1String("pending")) {
            // The challenge's error document says why.
            for (const QJsonValue &value : authorization.json.value(QStringLiteral("challenges")).toArray()) {
                const QJsonObject error = value.toObject().value(QStringLiteral("error")).toObject();
                if (!error.isEmpty()) {
                    Answer problem = authorization;
                    problem.json = error;
                    fail(problem, QStringLiteral("the server could not validate ") + m_request.domain);
                }
            }
            throw Failure { QStringLiteral("the authorization is %1").arg(shown(status)) };
        }
        wait(authorization, waited);
    }
}

AcmeOutcome AcmeClient::obtain()
{
    AcmeOutcome outcome;
    try {
        m_directory = getDirectory();
        m_kid.clear();
        m_nonce.clear();

        QJsonObject account;
        account.insert(QStringLiteral("termsOfServiceAgreed"), true);
        if (!m_request.email.trimmed().isEmpty())
            account.insert(QStringLiteral("contact"),
                QJsonArray { QString(QStringLiteral("mailto:") + m_request.email.trimmed()) });
        const Answer created = post(m_directory.value(QStringLiteral("newAccount")).toString(),
            QJsonDocument(account).toJson(QJsonDocument::Compact));
        if ((created.status != 200 && created.status != 201) || created.location.isEmpty())
            fail(created, QStringLiteral("the account was refused"));
        m_kid = created.location;

        QJsonObject order;
        order.insert(QStringLiteral("identifiers"),
            QJsonArray { QJsonObject {
                { QStringLiteral("type"), QStringLiteral("dns") }, { QStringLiteral("value"), m_request.domain } } });
        Answer placed = post(m_directory.value(QStringLiteral("newOrder")).toString(),
            QJsonDocument(order).toJson(QJsonDocument::Compact));
        if (placed.status != 201 || placed.location.isEmpty())
            fail(placed, QStringLiteral("the order was refused"));
        const QString orderUrl = placed.location;

        for (const QJsonValue &value : placed.json.value(QStringLiteral("authorizations")).toArray())
            validate(value.toString());

        // The certificate's own key, new for every certificate.
        const AcmeCrypto::Key certificateKey = AcmeCrypto::Key::generate();
        QJsonObject finalize;
        finalize.insert(QStringLiteral("csr"),
            QString::fromLatin1(AcmeCrypto::base64Url(certificateKey.csrDer({ m_request.domain }))));
        Answer state = post(placed.json.value(QStringLiteral("finalize")).toString(),
            QJsonDocument(finalize).toJson(QJsonDocument::Compact));
        if (state.status != 200)
            fail(state, QStringLiteral("the order could not be finalised"));
        qint64 waited = 0;
        while (state.json.value(QStringLiteral("status")).toString() != QLatin1String("valid")) {
            const QString status = state.json.value(QStringLiteral("status")).toString();
            if (status != QLatin1String("processing") && status != QLatin1String("pending")
                && status != QLatin1String("ready")) {
                Answer problem = state;
                problem.json = state.json.value(QStringLiteral("error")).toObject();
                fail(problem, QStringLiteral("the order is %1").arg(shown(status)));
            }
            wait(state, waited);
            state = postAsGet(orderUrl);
            if (state.status != 200)
                fail(state, QStringLiteral("the order could not be read"));
        }

        const Answer certificate = postAsGet(state.json.value(QStringLiteral("certificate")).toString(),
            QStringLiteral("application/pem-certificate-chain"));
        if (certificate.status != 200)
            fail(certificate, QStringLiteral("the certificate could not be fetched"));
        const QList<QSslCertificate> chain = QSslCertificate::fromData(certificate.body, QSsl::Pem);
        if (chain.isEmpty())
            throw Failure { QStringLiteral("the server's certificate is no PEM certificate chain") };
        outcome.ok = true;
        outcome.certificatePem = certificate.body;
        outcome.keyPem = certificateKey.privatePem();
    } catch (const Failure &failure) {
        outcome.error = failure.error;
        outcome.problemType = failure.problemType;
        outcome.retryAfterSeconds = failure.retryAfterSeconds;
    } catch (const HttpError &error) {
        outcome.error = QStringLiteral("could not reach the ACME server: ") + shown(error.description());
    } catch (const AcmeCrypto::Error &error) {
        outcome.error = error.text();
    }
    return outcome;
}
