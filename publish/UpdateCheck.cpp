#include "publish/UpdateCheck.h"

#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "publish/BackgroundTask.h"
#include "publish/HttpRequest.h"
#include "publish/OutsideAddresses.h"
#include "publish/modXMLHTTP.h"

namespace {

// The panel shows at most this much of a version text that came from the network.
constexpr qsizetype kMaxShownVersion = 100;
// The log shows at most this much of a refused download address.
constexpr qsizetype kMaxLoggedAddress = 200;
// The panel's tool tip shows at most this much of the reason a check failed.
constexpr qsizetype kMaxShownError = 200;

QString fetchText(const QString &url, const HttpOptions &options)
{
    HttpRequest request(options);
    modXMLHTTP::OpenGet(request, url);
    const QString body = modXMLHTTP::SendAndWait(request);
    // An error page (404, 500, ...) is no version text.
    if (request.status() < 200 || request.status() > 299)
        throw HttpError(HttpErrorKind::Transport, QStringLiteral("HTTP status %1").arg(request.status()));
    return body;
}

// A network text made fit for one log line: control characters become blanks, the length is
// bounded.
QString oneLine(const QString &text, qsizetype maxLength)
{
    QString line = text.left(maxLength);
    for (QChar &c : line) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return line;
}

} // namespace

UpdateCheck::UpdateCheck(SettingsStore *settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_runningVersion(buildVersionText())
{ }

QString UpdateCheck::buildVersionText()
{
    return QString::number(VISTELLE_VERSION_MAJOR) + u'.' + QString::number(VISTELLE_VERSION_MINOR) + u'.'
        + QString::number(VISTELLE_VERSION_PATCH);
}

std::optional<QList<QStringView>> UpdateCheck::versionNumbers(QStringView version)
{
    const QStringView text = version.trimmed();
    if (text.isEmpty() || text.size() > kMaxShownVersion)
        return std::nullopt;
    QList<QStringView> numbers;
    for (QStringView part : text.split(u'.')) {
        if (part.isEmpty())
            return std::nullopt;
        for (const QChar c : part) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        // Leading zeros say nothing: "007" is 7.
        while (part.size() > 1 && part.front() == u'0')
            part = part.sliced(1);
        numbers << part;
    }
    return numbers;
}

bool UpdateCheck::isNewer(const QString &remoteVersion, const QString &runningVersion)
{
    const std::optional<QList<QStringView>> remote = versionNumbers(remoteVersion);
    const std::optional<QList<QStringView>> running = versionNumbers(runningVersion);
    // A text that is no version (an error page, an empty file) announces nothing.
    if (!remote || !running)
        return false;
    const qsizetype parts = qMax(remote->size(), running->size());
    for (qsizetype i = 0; i < parts; ++i) {
        // A missing part counts as 0: "1.2" is "1.2.0".
        const QStringView a = i < remote->size() ? remote->at(i) : QStringView(u"0");
        const QStringView b = i < running->size() ? running->at(i) : QStringView(u"0");
        // Numbers of any length, compared without converting them: more digits is larger.
        if (a.size() != b.size())
            return a.size() > b.size();
        const int order = a.compare(b);
        if (order != 0)
            return order > 0;
    }
    return false;
}

QUrl UpdateCheck::downloadUrl(const QString &downloadAddress)
{
    const QUrl url(downloadAddress.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty())
        return {};
    return url;
}

void UpdateCheck::run()
{
    if (m_running)
        return;
    m_running = true;
    emit panelTextChanged(QStringLiteral("Checking for updates"));

    const OutsideAddresses addresses = OutsideAddresses::read(m_settings ? *m_settings : SettingsStore::instance());
    const int timeoutMs = m_timeoutMs;
    runInBackground<Fetched>(
        this,
        [statusUrl = addresses.updateStatusUrl, versionUrl = addresses.updateVersionUrl, caFile = addresses.caFile,
            timeoutMs] { return fetch(statusUrl, versionUrl, caFile, timeoutMs); },
        [this](const Fetched &fetched) { apply(fetched); });
}

UpdateCheck::Fetched UpdateCheck::fetch(
    const QString &statusUrl, const QString &versionUrl, const QString &caFile, int timeoutMs)
{
    HttpOptions options;
    options.caFile = caFile;
    options.timeoutMs = timeoutMs;
    Fetched fetched;
    try {
        fetched.remoteVersion = fetchText(statusUrl, options);
        fetched.downloadAddress = fetchText(versionUrl, options);
        fetched.ok = true;
    } catch (const HttpError &error) {
        fetched.error = error.description();
    }
    return fetched;
}

void UpdateCheck::apply(const Fetched &fetched)
{
    m_running = false;
    if (!fetched.ok) {
        // The check is abandoned; it stays pending and runs again at the next opportunity. The
        // panel does not go on saying "Checking for updates" meanwhile: it is emptied again and
        // its tool tip says what went wrong.
        setPanel(QString(), QStringLiteral("Update check failed: ") + oneLine(fetched.error, kMaxShownError), false);
        emit finished(false);
        return;
    }
    // Blanks and line ends around the version are no part of it.
    m_remoteVersion = fetched.remoteVersion.trimmed();
    m_downloadAddress = fetched.downloadAddress;
    if (isNewer(m_remoteVersion, m_runningVersion)) {
        setPanel(QStringLiteral("Update Available ") + m_remoteVersion.left(kMaxShownVersion),
            QStringLiteral("Click to Download"), true);
    } else {
        setPanel(QStringLiteral("No Updates Available"), QStringLiteral("No Updates Available"), false);
    }
    m_pending = false;
    emit finished(true);
}

void UpdateCheck::setPanel(const QString &text, const QString &toolTip, bool enabled)
{
    m_panelEnabled = enabled;
    emit panelToolTipChanged(toolTip);
    emit panelTextChanged(text);
    emit panelEnabledChanged(enabled);
}

void UpdateCheck::Panel_Click()
{
    if (!m_panelEnabled)
        return;
    const QUrl url = downloadUrl(m_downloadAddress);
    if (!url.isValid()) {
        // The text came from the network: only a web address is handed to the desktop.
        log(QStringLiteral("Error: the update download address is not an http or https address: ")
            + oneLine(m_downloadAddress, kMaxLoggedAddress));
        return;
    }
    if (m_openDocument)
        m_openDocument(url);
}

void UpdateCheck::log(const QString &text) const
{
    LogMsg(text);
}
