#include "publish/HttpRequest.h"

#include <atomic>

#include <QFile>

#include <curl/curl.h>

#include <mutex>

namespace {

constexpr qint64 kMaxHeaderBytes = 256 * 1024;

void ensureCurlInitialised()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool hasControlCharacters(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

QByteArray readFile(const QString &path, qint64 limit)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return {};
    return file.read(limit);
}

} // namespace

HttpError::HttpError(HttpErrorKind kind, const QString &description)
    : std::runtime_error(description.toStdString())
    , m_kind(kind)
    , m_description(description)
{ }

namespace {
// Set once at shut-down: every exchange still running ends at its next progress report.
std::atomic<bool> g_abortAll { false };
} // namespace

void HttpRequest::abortAll()
{
    g_abortAll = true;
}

bool HttpRequest::aborted()
{
    return g_abortAll;
}

// The libcurl callbacks; a friend so they can fill the request's answer.
struct HttpRequestCallbacks
{
    static int onProgress(void *, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return g_abortAll ? 1 : 0; }

    static size_t onBody(char *data, size_t size, size_t count, void *user)
    {
        auto *request = static_cast<HttpRequest *>(user);
        const size_t bytes = size * count;
        if (request->m_body.size() + qint64(bytes) > request->m_options.maxBodyBytes) {
            request->m_tooLarge = true;
            return 0; // abandons the transfer
        }
        request->m_body.append(data, qsizetype(bytes));
        return bytes;
    }

    static size_t onHeader(char *data, size_t size, size_t count, void *user)
    {
        auto *request = static_cast<HttpRequest *>(user);
        const size_t bytes = size * count;
        request->m_headerBytes += qint64(bytes);
        if (request->m_headerBytes > kMaxHeaderBytes) {
            request->m_tooLarge = true;
            return 0;
        }
        QByteArray line(data, qsizetype(bytes));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith("HTTP/")) {
            // A new answer begins (after an interim "100 Continue", say): only the final one's
            // headers count.
            request->m_responseHeaders.clear();
            return bytes;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request->m_responseHeaders.append({ line.left(colon).trimmed(), line.mid(colon + 1).trimmed() });
        return bytes;
    }
};

HttpRequest::HttpRequest(HttpOptions options)
    : m_options(std::move(options))
{
    ensureCurlInitialised();
    m_curl = curl_easy_init();
}

HttpRequest::~HttpRequest()
{
    if (m_curl)
        curl_easy_cleanup(static_cast<CURL *>(m_curl));
}

QString HttpRequest::defaultUserAgent()
{
#define VISTELLE_STR2(x) #x
#define VISTELLE_STR(x) VISTELLE_STR2(x)
    return QStringLiteral("Vistelle/" VISTELLE_STR(VISTELLE_VERSION_MAJOR) "." VISTELLE_STR(
        VISTELLE_VERSION_MINOR) "." VISTELLE_STR(VISTELLE_VERSION_PATCH));
#undef VISTELLE_STR
#undef VISTELLE_STR2
}

void HttpRequest::open(const QString &method, const QString &url)
{
    m_method = method;
    m_url = url;
    m_requestHeaders.clear();
    m_requestBody.clear();
    m_status = 0;
    m_body.clear();
    m_responseHeaders.clear();
    m_headerBytes = 0;
    m_tooLarge = false;
}

void HttpRequest::setRequestHeader(const QString &name, const QString &value)
{
    for (auto &header : m_requestHeaders) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0) {
            header.second = value;
            return;
        }
    }
    m_requestHeaders.append({ name, value });
}

QString HttpRequest::requestHeader(const QString &name) const
{
    for (const auto &header : m_requestHeaders) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return header.second;
    }
    return {};
}

void HttpRequest::send()
{
    m_status = 0;
    m_body.clear();
    m_responseHeaders.clear();
    m_headerBytes = 0;
    m_tooLarge = false;

    if (!m_curl)
        throw HttpError(HttpErrorKind::Transport, QStringLiteral("The web request library could not be started"));
    const bool head = m_method == QLatin1String("HEAD");
    const bool post = m_method == QLatin1String("POST");
    if (m_method != QLatin1String("GET") && !head && !post)
        throw HttpError(HttpErrorKind::InvalidRequest, QStringLiteral("Unsupported request method"));
    if (m_url.isEmpty() || hasControlCharacters(m_url) || m_url.contains(u' '))
        throw HttpError(HttpErrorKind::InvalidRequest, QStringLiteral("Invalid address"));

    CURL *curl = static_cast<CURL *>(m_curl);
    curl_easy_reset(curl);

    curl_slist *headers = nullptr;
    struct SlistGuard
    {
        curl_slist *&list;
        ~SlistGuard() { curl_slist_free_all(list); }
    } guard { headers };
    for (const auto &[name, value] : m_requestHeaders) {
        if (name.isEmpty() || hasControlCharacters(name) || name.contains(u':') || hasControlCharacters(value))
            throw HttpError(HttpErrorKind::InvalidRequest, QStringLiteral("Invalid request header"));
        // "Name;" is libcurl's spelling of a header with an empty value.
        QByteArray line = name.toLatin1();
        if (value.isEmpty())
            line += ';';
        else
            line += ": " + value.toUtf8();
        headers = curl_slist_append(headers, line.constData());
    }

    const QByteArray url = m_url.toUtf8();
    const QByteArray agent = (m_options.userAgent.isEmpty() ? defaultUserAgent() : m_options.userAgent).toUtf8();

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    if (head) {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (post) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_requestBody.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, m_requestBody.constData());
    } else {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    }
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(m_options.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.timeoutMs));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &HttpRequestCallbacks::onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &HttpRequestCallbacks::onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &HttpRequestCallbacks::onProgress);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);

    // An extra authority is trusted in addition to the system's: hand libcurl both, as one blob.
    QByteArray authorities;
    if (!m_options.caFile.isEmpty()) {
        const QByteArray extra = readFile(m_options.caFile, 4 << 20);
        if (!extra.isEmpty()) {
            char *systemBundle = nullptr;
            if (curl_easy_getinfo(curl, CURLINFO_CAINFO, &systemBundle) == CURLE_OK && systemBundle)
                authorities = readFile(QFile::decodeName(systemBundle), 16 << 20);
            authorities += '\n' + extra;
            curl_blob blob { authorities.data(), size_t(authorities.size()), CURL_BLOB_COPY };
            curl_easy_setopt(curl, CURLOPT_CAINFO_BLOB, &blob);
        }
    }

    const CURLcode code = g_abortAll ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(curl);
    // The header list and the error buffer live on this stack frame; drop libcurl's pointers.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, nullptr);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);

    if (code == CURLE_OK) {
        m_status = int(status);
        return;
    }

    const QString description
        = errorBuffer[0] ? QString::fromUtf8(errorBuffer) : QString::fromUtf8(curl_easy_strerror(code));
    m_body.clear();
    m_responseHeaders.clear();
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        throw HttpError(HttpErrorKind::Timeout, description);
    case CURLE_WRITE_ERROR:
        if (m_tooLarge)
            throw HttpError(HttpErrorKind::TooLarge, QStringLiteral("The answer is too large"));
        throw HttpError(HttpErrorKind::Transport, description);
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        throw HttpError(HttpErrorKind::Tls, description);
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        throw HttpError(HttpErrorKind::InvalidRequest, description);
    default:
        if (m_tooLarge)
            throw HttpError(HttpErrorKind::TooLarge, QStringLiteral("The answer is too large"));
        throw HttpError(HttpErrorKind::Transport, description);
    }
}

QString HttpRequest::responseText() const
{
    const QString type = getResponseHeader(QStringLiteral("Content-Type")).toLower();
    const qsizetype at = type.indexOf(QLatin1String("charset="));
    if (at >= 0) {
        QString charset = type.mid(at + 8).section(u';', 0, 0).trimmed();
        charset.remove(u'"');
        if (charset == QLatin1String("iso-8859-1") || charset == QLatin1String("latin1")
            || charset == QLatin1String("us-ascii"))
            return QString::fromLatin1(m_body);
    }
    return QString::fromUtf8(m_body);
}

QString HttpRequest::getResponseHeader(const QString &name) const
{
    const QByteArray wanted = name.toLatin1();
    const bool isCookie = wanted.compare("Set-Cookie", Qt::CaseInsensitive) == 0;
    QByteArray joined;
    bool found = false;
    for (const auto &[headerName, value] : m_responseHeaders) {
        if (headerName.compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        if (found)
            joined += isCookie ? "; " : ", ";
        joined += value;
        found = true;
    }
    // Header bytes are ASCII by the protocol; anything else is taken byte for byte.
    return QString::fromLatin1(joined);
}
