#include "publish/RemoteScriptPublisher.h"

#include "core/ConnectionState.h"
#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "publish/BackgroundTask.h"
#include "publish/HttpRequest.h"
#include "publish/OutsideAddresses.h"
#include "publish/modXMLHTTP.h"

#include <QTimer>

RemoteScriptPublisher::RemoteScriptPublisher(
    SettingsStore *settings, std::shared_ptr<const ConnectionState> connection, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_connection(connection ? std::move(connection) : std::make_shared<RouteConnectionState>())
    , tmrUpdateIP(new QTimer(this))
{
    tmrUpdateIP->setObjectName(QStringLiteral("tmrUpdateIP"));
    tmrUpdateIP->setInterval(1000);
    connect(tmrUpdateIP, &QTimer::timeout, this, &RemoteScriptPublisher::tmrUpdateIP_Timer);
}

RemoteScriptPublisher::~RemoteScriptPublisher() = default;

bool RemoteScriptPublisher::isEnabled() const
{
    return tmrUpdateIP->isActive();
}

void RemoteScriptPublisher::enable()
{
    tmrUpdateIP->start();
}

void RemoteScriptPublisher::disable()
{
    tmrUpdateIP->stop();
}

QString RemoteScriptPublisher::scriptAddress(const QString &remoteHost, const QString &remotePath)
{
    QString address = remoteHost + u'/' + remotePath;
    address.replace(QLatin1String("//"), QLatin1String("/"));
    return QStringLiteral("http://") + address;
}

bool RemoteScriptPublisher::isValidAnswer(const QString &answer)
{
    return answer.contains(QLatin1String("IP Updated to:"), Qt::CaseInsensitive);
}

void RemoteScriptPublisher::tmrUpdateIP_Timer()
{
    SettingsStore &settings = m_settings ? *m_settings : SettingsStore::instance();
    const bool online = m_connection->query().online;
    if (Conversions::leadingNumber(settings.GetSetting(QStringLiteral("useasp"))) == 0 || !online)
        return;

    disable(); // one sending per enabling
    const QString address
        = scriptAddress(settings.GetSetting(QStringLiteral("RemoteHost"), QStringLiteral("localhost")),
            settings.GetSetting(QStringLiteral("RemotePath"), QStringLiteral("/sendip.asp")));
    log(QStringLiteral("Sending IP to: ") + address);

    HttpOptions options = OutsideAddresses::read(settings).httpOptions();
    options.timeoutMs = m_timeoutMs;
    m_sending = true;
    runInBackground<Outcome>(
        this,
        [address, options] {
            Outcome outcome;
            try {
                HttpRequest request(options);
                modXMLHTTP::OpenGet(request, address);
                outcome.answer = modXMLHTTP::SendAndWait(request);
                outcome.transferred = true;
            } catch (const HttpError &error) {
                outcome.error = error.description();
            }
            return outcome;
        },
        [this](const Outcome &outcome) { apply(outcome); });
}

void RemoteScriptPublisher::apply(const Outcome &outcome)
{
    m_sending = false;
    if (!outcome.transferred) {
        log(QStringLiteral("Error updating IP: ") + outcome.error);
        emit restoreWindowRequested();
        emit sendingFinished(false);
        return;
    }
    const bool ok = isValidAnswer(outcome.answer);
    log(ok ? QStringLiteral("... done.") : QStringLiteral("... Invalid response from script!"));
    emit sendingFinished(ok);
}

void RemoteScriptPublisher::log(const QString &text) const
{
    LogMsg(text);
}
