#include "publish/CertificateKeeper.h"

#include "core/AcmeChallenges.h"
#include "core/LogSink.h"
#include "core/Paths.h"
#include "core/PrivateFiles.h"
#include "core/SettingsStore.h"
#include "publish/BackgroundTask.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSslCertificate>
#include <QTimer>
#include <QUrl>

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

const QString CertificateKeeper::DefaultDirectoryUrl = QStringLiteral("https://acme-v02.api.letsencrypt.org/directory");

namespace {

// A host name the CA can be asked for: letters, digits, hyphens and dots, at most 253 characters.
bool isHostName(const QString &name)
{
    if (name.isEmpty() || name.size() > 253 || name.startsWith(u'.') || name.endsWith(u'.')
        || name.contains(QStringLiteral("..")))
        return false;
    for (QChar c : name) {
        const char16_t u = c.unicode();
        if (!((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'-'
                || u == u'.'))
            return false;
    }
    // A bare address ("127.0.0.1") has the same characters; certificate authorities issue none
    // for it. A name's last label is never all digits.
    const QStringView last = QStringView(name).sliced(name.lastIndexOf(u'.') + 1);
    return std::any_of(last.begin(), last.end(), [](QChar c) { return !c.isDigit(); });
}

// Whether an ACME directory may be used: https anywhere, plain http only on this machine
// (a test authority on loopback).
bool directoryAllowed(const QString &url)
{
    const QUrl parsed(url);
    if (parsed.scheme() == u"https")
        return true;
    if (parsed.scheme() != u"http")
        return false;
    const QString host = parsed.host();
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

QString waitText(qint64 ms)
{
    const qint64 minutes = (ms + 59'999) / 60'000;
    if (minutes < 60)
        return QStringLiteral("%1 min").arg(minutes);
    const qint64 hours = minutes / 60;
    const qint64 rest = minutes % 60;
    return rest == 0 ? QStringLiteral("%1 h").arg(hours) : QStringLiteral("%1 h %2 min").arg(hours).arg(rest);
}

// Writes a file readable by its owner only, by atomic replacement, never through a link.
bool writePrivateFile(const QString &path, const QByteArray &data, QString *error)
{
    return PrivateFiles::writeFile(path, data, error);
}

// The folder, 0700; one that exists already is made so too (it holds keys).
bool makeStorageDir(QString *error)
{
    const QString dir = CertificateKeeper::storageDir();
    if (!PrivateFiles::makeDir(dir, error))
        return false;
    ::chmod(QFile::encodeName(dir).constData(), 0700);
    return true;
}

} // namespace

CertificateKeeper::CertificateKeeper(
    SettingsStore &settings, std::shared_ptr<AcmeChallenges> challenges, const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_challenges(std::move(challenges))
    , m_clock(clock)
    , m_timer(new QTimer(this))
    , m_stop(std::make_shared<std::atomic<bool>>(false))
{
    m_exchange = [challenges = m_challenges](const AcmeRequest &request, const std::atomic<bool> &stop) {
        return obtainAndSave(request, *challenges, stop);
    };
    m_timer->setInterval(TickIntervalMs);
    connect(m_timer, &QTimer::timeout, this, &CertificateKeeper::tick);
}

CertificateKeeper::~CertificateKeeper()
{
    *m_stop = true;
}

void CertificateKeeper::start()
{
    m_timer->start();
    tick();
}

QString CertificateKeeper::storageDir()
{
    return Paths::userDataDir() + QStringLiteral("/tls");
}

QString CertificateKeeper::accountKeyFile()
{
    return storageDir() + QStringLiteral("/account-key.pem");
}

QString CertificateKeeper::certificateFile()
{
    return storageDir() + QStringLiteral("/certificate.pem");
}

QString CertificateKeeper::keyFile()
{
    return storageDir() + QStringLiteral("/certificate-key.pem");
}

void CertificateKeeper::log(const QString &line) const
{
    LogMsg(line);
}

bool CertificateKeeper::certificateIsFresh(const QString &domain, const QDateTime &now)
{
    QFile file(certificateFile());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(file.read(1 << 20), QSsl::Pem);
    if (chain.isEmpty() || !QFile::exists(keyFile()))
        return false;
    const QSslCertificate &leaf = chain.first();
    if (!leaf.subjectAlternativeNames().values(QSsl::DnsEntry).contains(domain, Qt::CaseInsensitive))
        return false;
    const QDateTime from = leaf.effectiveDate();
    const QDateTime until = leaf.expiryDate();
    if (!from.isValid() || !until.isValid() || until <= from)
        return false;
    const qint64 lifetime = from.secsTo(until);
    return now.secsTo(until) > lifetime / 3;
}

QString CertificateKeeper::replacementProblem(const QString &domain, const QByteArray &certificatePem,
    const QByteArray &keyPem, const QDateTime &now, const QDateTime &oldExpiry)
{
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    if (chain.isEmpty())
        return QStringLiteral("it holds no certificate");
    const QSslCertificate &leaf = chain.first();
    if (!leaf.subjectAlternativeNames().values(QSsl::DnsEntry).contains(domain, Qt::CaseInsensitive))
        return QStringLiteral("it is not for %1").arg(domain);
    if (!leaf.effectiveDate().isValid() || !leaf.expiryDate().isValid() || now < leaf.effectiveDate()
        || now >= leaf.expiryDate())
        return QStringLiteral("it is not valid now");
    if (oldExpiry.isValid() && leaf.expiryDate() <= oldExpiry)
        return QStringLiteral("it expires no later than the one in use");
    // The certificate's public key is the request's key.
    const QByteArray der = leaf.toDer();
    const unsigned char *derData = reinterpret_cast<const unsigned char *>(der.constData());
    X509 *x509 = d2i_X509(nullptr, &derData, long(der.size()));
    BIO *bio = BIO_new_mem_buf(keyPem.constData(), int(keyPem.size()));
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
    const bool matches = x509 && key && X509_check_private_key(x509, key) == 1;
    EVP_PKEY_free(key);
    BIO_free(bio);
    X509_free(x509);
    ERR_clear_error();
    if (!matches)
        return QStringLiteral("its public key is not the key of the request");
    return {};
}

void CertificateKeeper::tick()
{
    if (m_running)
        return;
    const QString domain = m_settings.GetSetting(QStringLiteral("AcmeDomain")).trimmed();
    if (domain.isEmpty())
        return;
    if (!isHostName(domain)) {
        if (m_refusedDomain != domain)
            log(QStringLiteral("AcmeDomain \"%1\" is no host name: no TLS certificate is requested")
                    .arg(domain.left(260)));
        m_refusedDomain = domain;
        return;
    }
    AcmeRequest request;
    request.domain = domain.toLower();
    request.directoryUrl = m_settings.GetSetting(QStringLiteral("AcmeDirectoryURL"), DefaultDirectoryUrl).trimmed();
    if (!directoryAllowed(request.directoryUrl)) {
        if (m_refusedDirectory != request.directoryUrl)
            log(QStringLiteral("AcmeDirectoryURL \"%1\" refused: an ACME directory needs https (plain http only "
                               "on this machine): no TLS certificate is requested")
                    .arg(request.directoryUrl.left(260)));
        m_refusedDirectory = request.directoryUrl;
        return;
    }
    request.email = m_settings.GetSetting(QStringLiteral("AcmeEmail")).trimmed();
    request.caFile = m_settings.GetSetting(QStringLiteral("CAFile")).trimmed();

    const QString target = request.domain + u'\n' + request.directoryUrl;
    if (target != m_lastTarget) {
        m_lastTarget = target;
        m_backoffMs = 0;
        m_nextAttemptMs = 0;
    }
    const qint64 now = m_clock.monotonicMs();
    if (m_nextAttemptMs != 0 && now < m_nextAttemptMs)
        return;
    if (certificateIsFresh(request.domain, m_clock.currentDateTime().toUTC()))
        return;

    m_running = true;
    log(QStringLiteral("Requesting a TLS certificate for %1 from %2").arg(request.domain, request.directoryUrl));
    const ExchangeFn exchange = m_exchange;
    const std::shared_ptr<std::atomic<bool>> stop = m_stop;
    runInBackground<AcmeOutcome>(
        this, [exchange, request, stop] { return exchange(request, *stop); },
        [this, domain = request.domain](const AcmeOutcome &outcome) { onFinished(domain, outcome); });
}

void CertificateKeeper::onFinished(const QString &domain, const AcmeOutcome &outcome)
{
    m_running = false;
    const qint64 now = m_clock.monotonicMs();
    if (outcome.ok) {
        m_backoffMs = 0;
        m_nextAttemptMs = 0;
        const QList<QSslCertificate> chain = QSslCertificate::fromData(outcome.certificatePem, QSsl::Pem);
        const QString until = chain.isEmpty()
            ? QStringLiteral("?")
            : chain.first().expiryDate().toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"));
        log(QStringLiteral("TLS certificate for %1 obtained, valid until %2").arg(domain, until));
        emit finished(true);
        return;
    }
    m_backoffMs = m_backoffMs == 0 ? FirstBackoffMs : std::min(m_backoffMs * 2, MaxBackoffMs);
    qint64 wait = m_backoffMs;
    if (outcome.retryAfterSeconds > 0)
        wait = std::max(wait, std::min(outcome.retryAfterSeconds, AcmeClient::MaxRetryAfterSeconds) * 1000);
    m_nextAttemptMs = now + wait;
    log(QStringLiteral("Could not obtain a TLS certificate for %1: %2; next try in %3")
            .arg(domain, outcome.error, waitText(wait)));
    emit failed(domain, outcome.error);
    emit finished(false);
}

AcmeOutcome CertificateKeeper::obtainAndSave(
    const AcmeRequest &request, AcmeChallenges &challenges, const std::atomic<bool> &stop)
{
    AcmeOutcome outcome;
    QString error;
    if (!makeStorageDir(&error)) {
        outcome.error = error;
        return outcome;
    }
    std::optional<AcmeCrypto::Key> accountKey;
    try {
        QFile file(accountKeyFile());
        if (file.exists()) {
            if (!file.open(QIODevice::ReadOnly)) {
                outcome.error = QStringLiteral("cannot read ") + accountKeyFile();
                return outcome;
            }
            accountKey.emplace(AcmeCrypto::Key::fromPem(file.read(64 * 1024)));
        } else {
            accountKey.emplace(AcmeCrypto::Key::generate());
            if (!writePrivateFile(accountKeyFile(), accountKey->privatePem(), &error)) {
                outcome.error = QStringLiteral("cannot write ") + accountKeyFile() + QStringLiteral(": ") + error;
                return outcome;
            }
        }
    } catch (const AcmeCrypto::Error &e) {
        outcome.error
            = QStringLiteral("the account key ") + accountKeyFile() + QStringLiteral(" is unusable: ") + e.text();
        return outcome;
    }

    AcmeClient client(request, *accountKey, challenges);
    client.setSleep([&stop](qint64 ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (stop || HttpRequest::aborted())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return !stop && !HttpRequest::aborted();
    });
    outcome = client.obtain();
    if (!outcome.ok)
        return outcome;
    // What the authority sent replaces the files in use only when it is a better certificate for
    // this name and this key; otherwise the old files stay.
    QDateTime oldExpiry;
    if (QFile old(certificateFile()); old.open(QIODevice::ReadOnly)) {
        const QList<QSslCertificate> chain = QSslCertificate::fromData(old.read(1 << 20), QSsl::Pem);
        if (!chain.isEmpty()
            && chain.first()
                   .subjectAlternativeNames()
                   .values(QSsl::DnsEntry)
                   .contains(request.domain, Qt::CaseInsensitive))
            oldExpiry = chain.first().expiryDate();
    }
    if (const QString problem = replacementProblem(
            request.domain, outcome.certificatePem, outcome.keyPem, QDateTime::currentDateTimeUtc(), oldExpiry);
        !problem.isEmpty()) {
        outcome.ok = false;
        outcome.error = QStringLiteral("the certificate the authority sent was not used: ") + problem;
        return outcome;
    }
    // The key first: the listener loads the pair when the certificate changes.
    if (!writePrivateFile(keyFile(), outcome.keyPem, &error)
        || !writePrivateFile(certificateFile(), outcome.certificatePem, &error)) {
        outcome.ok = false;
        outcome.error = QStringLiteral("cannot save the certificate in ") + storageDir() + QStringLiteral(": ") + error;
    }
    return outcome;
}
