#pragma once

#include "core/Clock.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

#include <functional>
#include <optional>

// The certificate and key the listener speaks TLS with, from two PEM files (the certificate file
// may hold the whole chain, leaf first). Which files is asked anew at every check (the settings
// TlsCertFile and TlsKeyFile, else the files of the certificate keeper), and the files are
// looked at again at most once a second: a renewed certificate serves the next connection, with
// no restart. A pair that cannot be used (unreadable, no certificate, no key, a key that does not
// belong to the certificate) is reported once and the pair used before, if any, stays in use; a
// key file that other users can read is used with a warning.
class TlsCredentials final
{
public:
    struct Files
    {
        QString certificate;
        QString key;
        bool operator==(const Files &) const = default;
    };
    using FilesFn = std::function<Files()>;

    explicit TlsCredentials(FilesFn files, const Clock &clock = Clock::system());

    void setRecheckIntervalMs(qint64 ms) { m_recheckMs = ms; }

    // The server configuration for the next TLS connection (TLS 1.2 and 1.3, HTTP/1.1 offered), or
    // none when no usable certificate is configured.
    std::optional<QSslConfiguration> configuration();
    // Checks the files now.
    void refresh();
    // The configuration as last loaded, without looking at the files.
    std::optional<QSslConfiguration> loadedConfiguration() const { return m_configuration; }

    // The certificate in use (leaf first); empty when none.
    QList<QSslCertificate> chain() const { return m_chain; }
    int loadCount() const { return m_loads; }

private:
    struct Stamp
    {
        Files files;
        qint64 certificateModifiedNs = -1;
        qint64 certificateSize = -1;
        quint64 certificateInode = 0;
        qint64 keyModifiedNs = -1;
        qint64 keySize = -1;
        quint64 keyInode = 0;
        bool operator==(const Stamp &) const = default;
    };
    Stamp currentStamp(const Files &files) const;
    void load(const Stamp &stamp);
    void log(const QString &line) const;

    FilesFn m_files;
    const Clock &m_clock;
    qint64 m_recheckMs = 1000;
    qint64 m_lastCheckMs = 0;
    bool m_checked = false;
    Stamp m_stamp; // the files as last looked at
    std::optional<QSslConfiguration> m_configuration;
    QList<QSslCertificate> m_chain;
    int m_loads = 0;
};
