#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <stdexcept>

// What the ACME client needs of OpenSSL: P-256 keys, ES256 JSON web signatures (RFC 7515,
// RFC 7518) with the key's JWK and its thumbprint (RFC 7638), and certificate signing requests.
namespace AcmeCrypto {

class Error final : public std::runtime_error
{
public:
    explicit Error(const QString &what);
    QString text() const { return m_text; }

private:
    QString m_text;
};

// An ECDSA P-256 key pair.
class Key final
{
public:
    // A fresh key.
    static Key generate();
    // A key from PEM text (PKCS #8 or the traditional EC layout); throws Error when it is none
    // or not a P-256 key.
    static Key fromPem(const QByteArray &pem);

    Key(Key &&) noexcept;
    Key &operator=(Key &&) noexcept;
    ~Key();

    // The private key as PEM ("EC PRIVATE KEY").
    QByteArray privatePem() const;
    // {"crv":"P-256","kty":"EC","x":...,"y":...}: members in the order RFC 7638 hashes them.
    QByteArray jwk() const;
    // base64url(SHA-256(jwk())).
    QByteArray thumbprint() const;
    // The ES256 signature of data: r and s, 32 bytes each.
    QByteArray signEs256(const QByteArray &data) const;
    // A DER certificate signing request for the names (the first also the common name),
    // signed with this key.
    QByteArray csrDer(const QStringList &dnsNames) const;

    void *handle() const { return m_key; } // EVP_PKEY

private:
    explicit Key(void *key);
    void *m_key = nullptr;
};

// base64url without padding.
QByteArray base64Url(const QByteArray &data);

// A flattened JWS (the body of an ACME POST): the protected header carries the algorithm, the
// nonce, the URL and either the account's URL (kid) or, when kid is empty, the key's JWK.
// payload: the JSON text, or empty for POST-as-GET.
QByteArray jws(const Key &key, const QString &kid, const QString &nonce, const QString &url, const QByteArray &payload);

} // namespace AcmeCrypto
