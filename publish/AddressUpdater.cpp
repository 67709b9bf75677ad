#include "publish/AddressUpdater.h"

#include "core/Conversions.h"
#include "core/LogSink.h"
#include "core/SettingsStore.h"
#include "publish/BackgroundTask.h"
#include "publish/OutsideAddresses.h"
#include "publish/UpdateCheck.h"
#include "publish/clsDyndns.h"
#include "publish/modXMLHTTP.h"

#include <QLocale>
#include <QTimer>

QString AddressUpdater::answerWord(const QString &answer)
{
    QString word = answer.trimmed().section(u' ', 0, 0).section(u'\n', 0, 0).left(40);
    for (QChar &c : word) {
        if (c.unicode() < 0x20)
            c = u' ';
    }
    return word.trimmed();
}

namespace {
const QString CurrentIp = QStringLiteral(" Current IP:");

// A reason that came from the network or the transport, made fit for one log line.
QString oneLine(const QString &text)
{
    QString line = text.left(200);
    for (QChar &c : line) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() <= 0x9f))
            c = u' ';
    }
    return line.trimmed();
}

bool noAccountText(const QString &text)
{
    return text.trimmed().isEmpty();
}
} // namespace

struct AddressUpdater::UpdateResult
{
    bool ok = false;
    QString address;
    QString answer;
    int httpStatus = 0;
    bool timedOut = false;
    // An exchange of the update failed (no answer, or one over the size limit), and why.
    bool failedExchange = false;
    QString failure;
};

struct AddressUpdater::LoginResult
{
    bool ok = false;
    bool refused = false;
    QString reason;
};

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
    LogMsg(text);
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
    const bool noAccount = noAccountText(m_settings.GetSetting(QStringLiteral("dyuser")))
        || noAccountText(m_settings.GetSetting(QStringLiteral("dyname")));
    if (m_updateTicks == 1) {
        m_view.listen();
        if (!noAccount) {
            finishTick();
            return;
        }
    }
    if (noAccount) {
        showAddressWithoutAccount();
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

void AddressUpdater::showAddressWithoutAccount()
{
    // No provider is contacted without an account; the label shows the public address, as with
    // dynamic DNS off.
    if (!m_noAccountLogged) {
        m_noAccountLogged = true;
        log(QStringLiteral("Dynamic DNS is on but no account is set: open Settings... to set one"));
    }
    m_busy = true;
    const OutsideAddresses addresses = OutsideAddresses::read(m_settings);
    const QString echo = addresses.echoPageUrl;
    HttpOptions options = addresses.httpOptions();
    options.timeoutMs = m_timeoutMs;
    auto connection = m_connection;
    runInBackground<QString>(
        this, [echo, connection, options] { return modXMLHTTP::GetPublicIP(echo, *connection, options); },
        [this](const QString &address) {
            if (!address.isEmpty() && m_view.addressLabel() != CurrentIp + address)
                m_view.setAddressLabel(CurrentIp + address);
            finishTick();
        });
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
    if (const QString warning = OutsideAddresses::plainHttpWarningOnce(addresses.updateHostUrl); !warning.isEmpty())
        log(warning);

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
            result.refused = client->LastLoginFailure().refused;
            result.reason = client->LastLoginFailure().reason;
            return result;
        },
        [this](const LoginResult &r) { onLogin(r); });
}

void AddressUpdater::onLogin(const LoginResult &login)
{
    if (!login.ok) {
        m_view.setAddressLabel(QStringLiteral("IP Update Failed"));
        if (login.refused) {
            log(QStringLiteral("Your ") + m_providerName
                + QStringLiteral(" username or password is incorrect. Please edit your settings and try again."));
            pause(QStringLiteral("the provider refused the login"));
        } else {
            // The provider was not reached, or its pages could not be used: nothing says the
            // password is wrong, so the attempt is repeated after the usual wait.
            log(QStringLiteral("Could not reach ") + m_providerName + QStringLiteral(": ") + oneLine(login.reason));
            backOff(QStringLiteral("the account site could not be used"));
        }
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
            if (!result.ok && client->LastExchange().error) {
                result.failedExchange = true;
                result.timedOut = result.timedOut || client->LastExchange().error == HttpErrorKind::Timeout;
                result.failure = client->LastExchange().errorText;
            }
            return result;
        },
        [this](const UpdateResult &r) { onUpdate(r); });
}

void AddressUpdater::onUpdate(const UpdateResult &result)
{
    if (!result.ok) {
        m_view.setAddressLabel(QStringLiteral("Automatic Update Failed"));
        log(QStringLiteral("IP Update Failed. Please check username and password"));
        const QString word = answerWord(result.answer);
        if (isFinalAnswer(word))
            pause(QStringLiteral("the provider answered \"") + word + u'"');
        else if (isWaitAnswer(word))
            backOff(QStringLiteral("the provider answered \"") + word + u'"');
        else if (result.httpStatus >= 500)
            backOff(QStringLiteral("the update host answered HTTP ") + QString::number(result.httpStatus));
        else if (result.timedOut)
            backOff(QStringLiteral("the update timed out"));
        else if (result.failedExchange)
            backOff(QStringLiteral("the provider could not be reached: ") + oneLine(result.failure));
        finishTick();
        return;
    }
    m_backoffMs = 0;
    m_retryNotBeforeMs = 0;
    m_view.setAddressLabel(CurrentIp + result.address);
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
