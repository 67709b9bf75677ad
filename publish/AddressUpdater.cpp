#include "publish/AddressUpdater.h"

#include "core/Conversions.h"
#include "core/SettingsStore.h"
#include "publish/BackgroundTask.h"
#include "publish/OutsideAddresses.h"
#include "publish/UpdateCheck.h"
#include "publish/clsDyndns.h"
#include "publish/modXMLHTTP.h"

#include <QLocale>
#include <QTimer>

namespace {
const QString CurrentIp = QStringLiteral(" Current IP:");

// The first word of a provider's answer, bounded and free of control characters.
QString answerWord(const QString &answer)
{
    QString word = answer.trimmed().section(u' ', 0, 0).section(u'\n', 0, 0).left(40);
    for (QChar &c : word) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    return word.trimmed();
}

struct UpdateResult
{
    bool ok = false;
    QString address;
    QString answer;
    int httpStatus = 0;
    bool timedOut = false;
};

struct LoginResult
{
    bool ok = false;
    int httpStatus = 0;
    bool failedExchange = false;
    bool timedOut = false;
};
} // namespace

AddressUpdater::AddressUpdater(SettingsStore &settings, std::shared_ptr<const ConnectionState> connection,
    UpdateCheck *updateCheck, IAddressUpdaterView &view, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_connection(std::move(connection))
    , m_updateCheck(updateCheck)
    , m_view(view)
    , m_clock(clock)
    , m_client(std::make_shared<clsDyndns>(clsDyndns::Endpoints {}, m_connection))
    , m_waitTimer(new QTimer(this))
{
    m_waitTimer->setSingleShot(true);
    connect(m_waitTimer, &QTimer::timeout, this, &AddressUpdater::checkUpdateWait);
}

AddressUpdater::~AddressUpdater() = default;

bool AddressUpdater::isFinalAnswer(const QString &word)
{
    static const QStringList Final = { QStringLiteral("badauth"), QStringLiteral("nohost"), QStringLiteral("notfqdn"),
        QStringLiteral("numhost"), QStringLiteral("abuse"), QStringLiteral("badagent"), QStringLiteral("!donator"),
        QStringLiteral("badsys") };
    return Final.contains(word);
}

bool AddressUpdater::isWaitAnswer(const QString &word)
{
    return word == u"911" || word == u"dnserr";
}

void AddressUpdater::log(const QString &text) const
{
    m_view.putLog(text);
}

bool AddressUpdater::dynamicDnsOff() const
{
    // A missing key is not "0": dynamic DNS counts as on.
    return Conversions::trimmedEquals(m_settings.GetSetting(QStringLiteral("usedyndns")), QStringLiteral("0"));
}

QStringList AddressUpdater::settingsSnapshot() const
{
    QStringList values;
    for (const QString &key : { QStringLiteral("usedyndns"), QStringLiteral("dyuser"), QStringLiteral("dypass"),
             QStringLiteral("dyname"), OutsideAddresses::AccountSiteURLKey, OutsideAddresses::UpdateHostURLKey })
        values << m_settings.GetSetting(key);
    return values;
}

void AddressUpdater::Timer2_Timer()
{
    if (m_busy)
        return;
    if (!m_connection->query().online)
        return;
    ++m_updateTicks;

    // A failed check stays pending for the next tick; the rest of this tick runs regardless.
    if (m_updateCheck && m_updateCheck->UpdateCheckPending())
        m_updateCheck->run();

    if (dynamicDnsOff()) {
        emit tickFinished();
        return;
    }
    if (m_updateTicks == 1) {
        m_view.listen();
        finishTick();
        return;
    }

    if (m_paused) {
        if (settingsSnapshot() == m_pausedSettings) {
            finishTick();
            return;
        }
        m_paused = false;
        m_backoffMs = 0;
        m_retryNotBeforeMs = 0;
    }
    if (m_retryNotBeforeMs > 0 && m_clock.monotonicMs() < m_retryNotBeforeMs) {
        finishTick();
        return;
    }
    compareAndUpdate();
}

void AddressUpdater::compareAndUpdate()
{
    m_busy = true;
    m_view.setBusyCursor(true);
    m_user = m_settings.GetSetting(QStringLiteral("dyuser"));
    m_password = m_settings.GetSetting(QStringLiteral("dypass"));
    m_hostName = m_settings.GetSetting(QStringLiteral("dyname"));

    const OutsideAddresses addresses = OutsideAddresses::read(m_settings);
    m_providerName = addresses.providerName;
    m_echoPageUrl = addresses.echoPageUrl;
    m_httpOptions = addresses.httpOptions();
    m_httpOptions.timeoutMs = m_timeoutMs;
    m_client->setEndpoints({ addresses.accountSiteUrl, addresses.updateHostUrl, m_echoPageUrl, m_httpOptions });

    const QString echo = m_echoPageUrl;
    const HttpOptions options = m_httpOptions;
    auto connection = m_connection;
    runInBackground<QString>(
        this, [echo, connection, options] { return modXMLHTTP::GetPublicIP(echo, *connection, options); },
        [this](const QString &address) { onPublicAddress(address); });
}

void AddressUpdater::onPublicAddress(const QString &address)
{
    if (m_view.addressLabel() == CurrentIp + address) {
        finishTick();
        return;
    }
    m_view.setTray(true, QStringLiteral("Updating ") + m_providerName + QStringLiteral(" IP"));
    m_attemptStartMs = m_clock.monotonicMs();
    log(QStringLiteral("Checking IP..."));
    m_view.setAddressLabel(QStringLiteral("Updating IP. Logging in. Please wait..."));

    auto client = m_client;
    const QString user = m_user;
    const QString password = m_password;
    runInBackground<LoginResult>(
        this,
        [client, user, password] {
            LoginResult result;
            result.ok = client->Login(user, password);
            const clsDyndns::Exchange &exchange = client->LastExchange();
            result.httpStatus = exchange.httpStatus;
            result.failedExchange = exchange.error.has_value();
            result.timedOut = exchange.error == HttpErrorKind::Timeout;
            return result;
        },
        [this](const LoginResult &r) { onLogin(r.ok, r.httpStatus, r.failedExchange, r.timedOut); });
}

void AddressUpdater::onLogin(bool ok, int httpStatus, bool failedExchange, bool timedOut)
{
    if (!ok) {
        log(QStringLiteral("Your ") + m_providerName
            + QStringLiteral(" username or password is incorrect. Please edit your settings and try again."));
        m_view.setAddressLabel(QStringLiteral("IP Update Failed"));
        if (timedOut)
            backOff(QStringLiteral("the login timed out"));
        else if (httpStatus >= 500)
            backOff(QStringLiteral("the account site answered HTTP ") + QString::number(httpStatus));
        else if (!failedExchange)
            pause(QStringLiteral("the provider refused the login"));
        finishTick();
        return;
    }
    m_view.setAddressLabel(QStringLiteral("Updating IP. Please wait..."));

    auto client = m_client;
    auto connection = m_connection;
    const QString host = m_hostName;
    const QString echo = m_echoPageUrl;
    const HttpOptions options = m_httpOptions;
    runInBackground<UpdateResult>(
        this,
        [client, connection, host, echo, options] {
            UpdateResult result;
            result.address = modXMLHTTP::GetPublicIP(echo, *connection, options);
            result.ok = client->UpdateHost(host, result.address);
            const clsDyndns::UpdateAnswer &answer = client->LastUpdate();
            if (answer.sent) {
                result.answer = answer.body.left(200);
                result.httpStatus = answer.exchange.httpStatus;
                result.timedOut = answer.exchange.error == HttpErrorKind::Timeout;
            }
            return result;
        },
        [this](const UpdateResult &r) { onUpdate(r.ok, r.address, r.answer, r.httpStatus, r.timedOut); });
}

void AddressUpdater::onUpdate(bool ok, const QString &address, const QString &answer, int httpStatus, bool timedOut)
{
    if (!ok) {
        m_view.setAddressLabel(QStringLiteral("Automatic Update Failed"));
        log(QStringLiteral("IP Update Failed. Please check username and password"));
        const QString word = answerWord(answer);
        if (isFinalAnswer(word))
            pause(QStringLiteral("the provider answered \"") + word + u'"');
        else if (isWaitAnswer(word))
            backOff(QStringLiteral("the provider answered \"") + word + u'"');
        else if (httpStatus >= 500)
            backOff(QStringLiteral("the update host answered HTTP ") + QString::number(httpStatus));
        else if (timedOut)
            backOff(QStringLiteral("the update timed out"));
        finishTick();
        return;
    }
    m_backoffMs = 0;
    m_retryNotBeforeMs = 0;
    m_view.setAddressLabel(CurrentIp + address);
    m_waitingAfterUpdate = true;
    checkUpdateWait();
}

void AddressUpdater::checkUpdateWait()
{
    if (!m_waitingAfterUpdate)
        return;
    const qint64 waited = m_clock.monotonicMs() - m_attemptStartMs;
    if (waited <= UpdateWaitMs) {
        m_waitTimer->start(int(UpdateWaitMs - waited) + 1);
        return;
    }
    m_waitingAfterUpdate = false;
    onUpdated();
}

void AddressUpdater::onUpdated()
{
    log(QStringLiteral("Updated IP:") + QLocale().toString(m_clock.currentDateTime(), QLocale::ShortFormat));
    m_view.listen();
    finishTick();
}

void AddressUpdater::finishTick()
{
    m_view.setTray(false, QStringLiteral("Vistelle"));
    m_view.setBusyCursor(false);
    m_busy = false;
    emit tickFinished();
}

void AddressUpdater::pause(const QString &reason)
{
    m_paused = true;
    m_pausedSettings = settingsSnapshot();
    log(QStringLiteral("Automatic IP updates paused: ") + reason
        + QStringLiteral(". They resume when a dynamic DNS setting is changed."));
}

void AddressUpdater::backOff(const QString &reason)
{
    m_backoffMs = m_backoffMs == 0 ? FirstBackoffMs : qMin(m_backoffMs * 2, MaxBackoffMs);
    m_retryNotBeforeMs = m_clock.monotonicMs() + m_backoffMs;
    log(QStringLiteral("Next automatic IP update attempt in ") + QString::number(m_backoffMs / 60'000)
        + QStringLiteral(" minutes: ") + reason + u'.');
}
