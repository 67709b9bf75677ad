#include "publish/AcmeCrypto.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace AcmeCrypto {

namespace {

EVP_PKEY *pkey(void *handle)
{
    return static_cast<EVP_PKEY *>(handle);
}

QString opensslReason(const char *what)
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QString::fromLatin1(what);
    char buffer[256];
    ERR_error_string_n(code, buffer, sizeof buffer);
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLatin1(buffer);
}

[[noreturn]] void fail(const char *what)
{
    throw Error(opensslReason(what));
}

struct BioFree
{
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

QByteArray bioText(BIO *bio)
{
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, qsizetype(size));
}

// The public point's coordinates, 32 bytes each.
void publicXY(EVP_PKEY *key, QByteArray &x, QByteArray &y)
{
    BIGNUM *bx = nullptr;
    BIGNUM *by = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &bx) != 1
        || EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &by) != 1) {
        BN_free(bx);
        BN_free(by);
        fail("cannot read the public key");
    }
    x.resize(32);
    y.resize(32);
    const bool ok = BN_bn2binpad(bx, reinterpret_cast<unsigned char *>(x.data()), 32) == 32
        && BN_bn2binpad(by, reinterpret_cast<unsigned char *>(y.data()), 32) == 32;
    BN_free(bx);
    BN_free(by);
    if (!ok)
        fail("the public key is not a P-256 point");
}

bool isP256(EVP_PKEY *key)
{
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC)
        return false;
    char group[64] = {};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &length) != 1)
        return false;
    return QByteArrayView(group, qsizetype(length)) == "prime256v1"
        || QByteArrayView(group, qsizetype(length)) == "P-256";
}

} // namespace

Error::Error(const QString &what)
    : std::runtime_error(what.toStdString())
    , m_text(what)
{ }

Key::Key(void *key)
    : m_key(key)
{ }

Key::Key(Key &&other) noexcept
    : m_key(other.m_key)
{
    other.m_key = nullptr;
}

Key &Key::operator=(Key &&other) noexcept
{
    std::swap(m_key, other.m_key);
    return *this;
}

Key::~Key()
{
    EVP_PKEY_free(pkey(m_key));
}

Key Key::generate()
{
    EVP_PKEY *key = EVP_EC_gen("P-256");
    if (!key)
        fail("cannot make a P-256 key");
    return Key(key);
}

Key Key::fromPem(const QByteArray &pem)
{
    BioPtr bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    EVP_PKEY *key = bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr;
    if (!key)
        fail("not a private key");
    if (!isP256(key)) {
        EVP_PKEY_free(key);
        throw Error(QStringLiteral("not a P-256 key"));
    }
    return Key(key);
}

QByteArray Key::privatePem() const
{
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio
        || PEM_write_bio_PrivateKey_traditional(bio.get(), pkey(m_key), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("cannot write the key");
    return bioText(bio.get());
}

QByteArray Key::jwk() const
{
    QByteArray x;
    QByteArray y;
    publicXY(pkey(m_key), x, y);
    return "{\"crv\":\"P-256\",\"kty\":\"EC\",\"x\":\"" + base64Url(x) + "\",\"y\":\"" + base64Url(y) + "\"}";
}

QByteArray Key::thumbprint() const
{
    const QByteArray json = jwk();
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(json.constData()), size_t(json.size()), digest);
    return base64Url(QByteArray(reinterpret_cast<const char *>(digest), SHA256_DIGEST_LENGTH));
}

QByteArray Key::signEs256(const QByteArray &data) const
{
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    if (!context)
        fail("cannot sign");
    size_t length = 0;
    QByteArray der;
    bool ok = EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, pkey(m_key)) == 1
        && EVP_DigestSign(context, nullptr, &length, reinterpret_cast<const unsigned char *>(data.constData()),
               size_t(data.size()))
            == 1;
    if (ok) {
        der.resize(qsizetype(length));
        ok = EVP_DigestSign(context, reinterpret_cast<unsigned char *>(der.data()), &length,
                 reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()))
            == 1;
        der.resize(qsizetype(length));
    }
    EVP_MD_CTX_free(context);
    if (!ok)
        fail("cannot sign");
    // DER (SEQUENCE of r and s) to the fixed-length form of JWS.
    const unsigned char *p = reinterpret_cast<const unsigned char *>(der.constData());
    ECDSA_SIG *signature = d2i_ECDSA_SIG(nullptr, &p, long(der.size()));
    if (!signature)
        fail("cannot read the signature");
    const BIGNUM *r = nullptr;
    const BIGNUM *s = nullptr;
    ECDSA_SIG_get0(signature, &r, &s);
    QByteArray raw(64, '\0');
    ok = BN_bn2binpad(r, reinterpret_cast<unsigned char *>(raw.data()), 32) == 32
        && BN_bn2binpad(s, reinterpret_cast<unsigned char *>(raw.data()) + 32, 32) == 32;
    ECDSA_SIG_free(signature);
    if (!ok)
        fail("cannot convert the signature");
    return raw;
}

QByteArray Key::csrDer(const QStringList &dnsNames) const
{
    if (dnsNames.isEmpty())
        throw Error(QStringLiteral("no name for the certificate"));
    X509_REQ *request = X509_REQ_new();
    if (!request)
        fail("cannot make a signing request");
    struct Guard
    {
        X509_REQ *request;
        ~Guard() { X509_REQ_free(request); }
    } guard { request };

    X509_NAME *subject = X509_REQ_get_subject_name(request);
    const QByteArray common = dnsNames.first().toUtf8();
    if (X509_REQ_set_version(request, 0) != 1
        || X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
               reinterpret_cast<const unsigned char *>(common.constData()), int(common.size()), -1, 0)
            != 1
        || X509_REQ_set_pubkey(request, pkey(m_key)) != 1)
        fail("cannot fill the signing request");

    QByteArray names;
    for (const QString &name : dnsNames) {
        if (!names.isEmpty())
            names += ',';
        names += "DNS:" + name.toUtf8();
    }
    X509_EXTENSION *san = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, names.constData());
    if (!san)
        fail("cannot name the certificate");
    STACK_OF(X509_EXTENSION) *extensions = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(extensions, san);
    const bool added = X509_REQ_add_extensions(request, extensions) == 1;
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    if (!added || X509_REQ_sign(request, pkey(m_key), EVP_sha256()) <= 0)
        fail("cannot sign the signing request");

    const int length = i2d_X509_REQ(request, nullptr);
    if (length <= 0)
        fail("cannot encode the signing request");
    QByteArray der(length, '\0');
    unsigned char *out = reinterpret_cast<unsigned char *>(der.data());
    i2d_X509_REQ(request, &out);
    return der;
}

QByteArray base64Url(const QByteArray &data)
{
    return data.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray jws(const Key &key, const QString &kid, const QString &nonce, const QString &url, const QByteArray &payload)
{
    QJsonObject header;
    header.insert(QStringLiteral("alg"), QStringLiteral("ES256"));
    header.insert(QStringLiteral("nonce"), nonce);
    header.insert(QStringLiteral("url"), url);
    if (kid.isEmpty())
        header.insert(QStringLiteral("jwk"), QJsonDocument::fromJson(key.jwk()).object());
    else
        header.insert(QStringLiteral("kid"), kid);
    const QByteArray protectedPart = base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact));
    const QByteArray payloadPart = base64Url(payload);
    const QByteArray signature = base64Url(key.signEs256(protectedPart + '.' + payloadPart));
    return "{\"protected\":\"" + protectedPart + "\",\"payload\":\"" + payloadPart + "\",\"signature\":\"" + signature
        + "\"}";
}

} // namespace AcmeCrypto
