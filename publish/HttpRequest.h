#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <stdexcept>

// What every web request of the program is allowed to do.
struct HttpOptions
{
    // The whole exchange (name lookup, connection, TLS, request and answer) must end within this.
    int timeoutMs = 10000;
    // Answers with a longer body are abandoned as failures, so a hostile server cannot exhaust
    // memory.
    qint64 maxBodyBytes = qint64(1) << 20;
    // An extra certificate authority (PEM file) trusted besides the system's; empty for none.
    // Certificates are always verified.
    QString caFile;
    // Empty: the program's own ("Vistelle/<version>").
    QString userAgent;
};

// Why an exchange failed.
enum class HttpErrorKind {
    InvalidRequest, // the request itself was unusable (bad URL, control characters in a header)
    Timeout, // the time limit of HttpOptions::timeoutMs ran out
    Tls, // the server's certificate could not be verified, or the TLS handshake failed
    TooLarge, // the answer exceeded HttpOptions::maxBodyBytes (or its headers were huge)
    Transport, // name lookup, connection, an empty or broken answer
};

// A failed exchange. Network errors travel to the caller as this exception; an HTTP answer of any
// status (404, 500, ...) is not an error at this level.
class HttpError final : public std::runtime_error
{
public:
    HttpError(HttpErrorKind kind, const QString &description);
    HttpErrorKind kind() const { return m_kind; }
    QString description() const { return m_description; }

private:
    HttpErrorKind m_kind;
    QString m_description;
};

// One synchronous HTTP exchange at a time on libcurl's easy interface: open, set request headers,
// send, then read the status, the body and the response headers. The object may be opened again
// for the next request (which starts without request headers). Use it from one thread at a time;
// it needs no event loop.
//
// Methods: GET, HEAD and POST (with the body set by setRequestBody). Redirects are not followed;
// only http and https are spoken; every request carries the User-Agent of HttpOptions.
//
// Response headers: getResponseHeader returns the value of the named header (case-insensitive
// name) of the final answer. When the header occurs more than once the values are joined in
// their order: Set-Cookie values with "; " (so that the cookie pattern "NAME=[^;]+" stops at the
// end of each cookie), any other header with ", " as HTTP itself folds repeated headers.
class HttpRequest final
{
public:
    // Ends every exchange still running, in any thread, within a moment, and refuses new ones
    // (they fail as Transport errors). For the program's shut-down.
    static void abortAll();
    // Whether abortAll() was called.
    static bool aborted();

    explicit HttpRequest(HttpOptions options = {});
    ~HttpRequest();

    HttpRequest(const HttpRequest &) = delete;
    HttpRequest &operator=(const HttpRequest &) = delete;

    const HttpOptions &options() const { return m_options; }
    void setOptions(const HttpOptions &options) { m_options = options; }

    // Prepares a request; forgets the request headers and the answer of the previous one.
    void open(const QString &method, const QString &url);
    // Adds or replaces a request header. Names or values with control characters make send()
    // fail with InvalidRequest.
    void setRequestHeader(const QString &name, const QString &value);
    // The body a POST sends (forgotten by open()).
    void setRequestBody(const QByteArray &body) { m_requestBody = body; }
    // Performs the exchange. Throws HttpError.
    void send();

    QString url() const { return m_url; }
    QString requestHeader(const QString &name) const;

    // Of the last answer: HTTP status (0 before an answer), raw body, body decoded as text
    // (by the charset of Content-Type: ISO-8859-1 / Latin-1 when named, else UTF-8).
    int status() const { return m_status; }
    QByteArray responseBody() const { return m_body; }
    QString responseText() const;
    QString getResponseHeader(const QString &name) const;

    // The program's User-Agent: "Vistelle/" and the version.
    static QString defaultUserAgent();

private:
    friend struct HttpRequestCallbacks;

    void *m_curl = nullptr;
    HttpOptions m_options;
    QString m_method;
    QString m_url;
    QList<QPair<QString, QString>> m_requestHeaders;
    QByteArray m_requestBody;

    int m_status = 0;
    QByteArray m_body;
    QList<QPair<QByteArray, QByteArray>> m_responseHeaders;
    qint64 m_headerBytes = 0;
    bool m_tooLarge = false;
};
