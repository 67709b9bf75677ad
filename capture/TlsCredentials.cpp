#include "capture/TlsCredentials.h"

#include "core/LogSink.h"
#include <QFile>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr qint64 MaxPemBytes = 1 << 20;

QByteArray readPem(const QString &path, QString *error)
{
    // Opened without waiting and read only when it is a regular file: a FIFO or a device named
    // here would otherwise hold the thread that serves the visitors.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        *error = QStringLiteral("not a regular file");
        return {};
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file.errorString();
        return {};
    }
    const QByteArray data = file.read(MaxPemBytes + 1);
    if (data.size() > MaxPemBytes) {
        *error = QStringLiteral("larger than 1 MiB");
        return {};
    }
    return data;
}

// Whether the private key (PEM) belongs to the certificate (PEM of the leaf).
bool keyMatches(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    BIO *certificateBio = BIO_new_mem_buf(certificatePem.constData(), int(certificatePem.size()));
    BIO *keyBio = BIO_new_mem_buf(keyPem.constData(), int(keyPem.size()));
    X509 *certificate = certificateBio ? PEM_read_bio_X509(certificateBio, nullptr, nullptr, nullptr) : nullptr;
    EVP_PKEY *key = keyBio ? PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr) : nullptr;
    const bool matches = certificate && key && X509_check_private_key(certificate, key) == 1;
    X509_free(certificate);
    EVP_PKEY_free(key);
    BIO_free(certificateBio);
    BIO_free(keyBio);
    return matches;
}

} // namespace

TlsCredentials::TlsCredentials(FilesFn files, const Clock &clock)
    : m_files(std::move(files))
    , m_clock(clock)
{ }

void TlsCredentials::log(const QString &line) const
{
    LogMsg(line);
}

TlsCredentials::Stamp TlsCredentials::currentStamp(const Files &files) const
{
    Stamp stamp;
    stamp.files = files;
    struct stat info;
    if (!files.certificate.isEmpty() && ::stat(QFile::encodeName(files.certificate).constData(), &info) == 0) {
        stamp.certificateModifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        stamp.certificateSize = qint64(info.st_size);
        stamp.certificateInode = quint64(info.st_ino);
    }
    if (!files.key.isEmpty() && ::stat(QFile::encodeName(files.key).constData(), &info) == 0) {
        stamp.keyModifiedNs = qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        stamp.keySize = qint64(info.st_size);
        stamp.keyInode = quint64(info.st_ino);
    }
    return stamp;
}

void TlsCredentials::refresh()
{
    m_lastCheckMs = m_clock.monotonicMs();
    Files files = m_files ? m_files() : Files();
    files.certificate = files.certificate.trimmed();
    files.key = files.key.trimmed();
    const Stamp stamp = currentStamp(files);
    if (m_checked && stamp == m_stamp)
        return;
    m_checked = true;
    const bool sameFiles = stamp.files == m_stamp.files;
    m_stamp = stamp;
    if (!sameFiles) {
        // Other files (or none): what was loaded from the old ones no longer counts.
        m_configuration.reset();
        m_chain.clear();
    }
    load(stamp);
}

void TlsCredentials::load(const Stamp &stamp)
{
    const Files &files = stamp.files;
    if (files.certificate.isEmpty() && files.key.isEmpty())
        return;
    const auto refuse = [this, &files](const QString &why) {
        log(QStringLiteral("TLS certificate %1 not used: %2").arg(files.certificate, why));
    };
    if (files.certificate.isEmpty() || files.key.isEmpty()) {
        refuse(QStringLiteral("both a certificate file and a key file are needed"));
        return;
    }
    QString error;
    const QByteArray certificatePem = readPem(files.certificate, &error);
    if (certificatePem.isEmpty()) {
        refuse(error.isEmpty() ? QStringLiteral("the file is empty") : error);
        return;
    }
    const QByteArray keyPem = readPem(files.key, &error);
    if (keyPem.isEmpty()) {
        refuse(QStringLiteral("key file %1: %2")
                   .arg(files.key, error.isEmpty() ? QStringLiteral("the file is empty") : error));
        return;
    }
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        refuse(QStringLiteral("no PEM certificate in the file"));
        return;
    }
    QSslKey key;
    for (QSsl::KeyAlgorithm algorithm : { QSsl::Ec, QSsl::Rsa, QSsl::Dsa }) {
        key = QSslKey(keyPem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    if (key.isNull()) {
        refuse(QStringLiteral("key file %1 holds no usable private key").arg(files.key));
        return;
    }
    if (!keyMatches(chain.first().toPem(), keyPem)) {
        refuse(QStringLiteral("the key in %1 does not belong to the certificate").arg(files.key));
        return;
    }

    struct stat info;
    if (::stat(QFile::encodeName(files.key).constData(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0)
        log(QStringLiteral("Warning: TLS key file %1 can be read by other users: make it readable by its owner only "
                           "(chmod 600)")
                .arg(files.key));

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    // Visitors show no certificates: no authorities to load into every connection's context.
    configuration.setCaCertificates({});
    configuration.setAllowedNextProtocols({ QByteArrayLiteral("http/1.1") });
    m_configuration = configuration;
    m_chain = chain;
    ++m_loads;
    const QStringList names = chain.first().subjectAlternativeNames().values(QSsl::DnsEntry);
    log(QStringLiteral("TLS certificate loaded from %1 for %2, valid until %3")
            .arg(files.certificate,
                names.isEmpty() ? chain.first().subjectDisplayName() : names.join(QStringLiteral(", ")),
                chain.first().expiryDate().toUTC().toString(QStringLiteral("yyyy-MM-dd hh:mm 'UTC'"))));
}

std::optional<QSslConfiguration> TlsCredentials::configuration()
{
    const qint64 now = m_clock.monotonicMs();
    if (!m_checked || now - m_lastCheckMs >= m_recheckMs || now < m_lastCheckMs)
        refresh();
    return m_configuration;
}
