#include "update/crypto.h"

#include "update/feed.h"

#include <QFile>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <stdexcept>

namespace telmora {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

constexpr qint64 chunkSize = 1024 * 1024;

QString hex(const unsigned char* bytes, unsigned int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), length).toHex());
}

Key publicKey(const QByteArray& raw)
{
    if (raw.size() != 32)
        return nullptr;
    return Key(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                           reinterpret_cast<const unsigned char*>(raw.constData()), 32));
}

Key privateKey(const QByteArray& raw)
{
    return Key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr,
                                            reinterpret_cast<const unsigned char*>(raw.constData()),
                                            static_cast<size_t>(raw.size())));
}

} // namespace

QString sha256OfFile(const QString& path)
{
    QFile file(path);
    // Unbuffered: the 1 MiB reads go straight into our buffer without a second copy.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        throw UpdateSystemError(file.errorString());
    DigestContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 is not available");
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        const qint64 read = file.read(buffer.data(), chunkSize);
        if (read < 0)
            throw UpdateSystemError(file.errorString());
        if (read == 0)
            break;
        EVP_DigestUpdate(context.get(), buffer.constData(), static_cast<size_t>(read));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return hex(digest, length);
}

QString sha256Hex(const QByteArray& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.constData(), static_cast<size_t>(data.size()), digest, &length, EVP_sha256(), nullptr);
    return hex(digest, length);
}

bool isValidEd25519PublicKey(const QByteArray& raw)
{
    return publicKey(raw) != nullptr;
}

bool verifyEd25519(const QByteArray& raw, const QByteArray& message, const QByteArray& signature)
{
    const Key key = publicKey(raw);
    DigestContext context(EVP_MD_CTX_new());
    if (!key || !context || signature.size() != 64)
        return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<size_t>(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<size_t>(message.size()))
        == 1;
}

void releaseThreadCryptoState()
{
    OPENSSL_thread_stop();
}

Ed25519PrivateKey Ed25519PrivateKey::generate()
{
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr), &EVP_PKEY_CTX_free);
    EVP_PKEY* generated = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 || EVP_PKEY_keygen(context.get(), &generated) != 1)
        throw std::runtime_error("cannot generate an Ed25519 key");
    const Key key(generated);
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = 32;
    EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length);
    return Ed25519PrivateKey(raw);
}

std::optional<Ed25519PrivateKey> Ed25519PrivateKey::fromPem(const QByteArray& pem)
{
    const std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size())));
    const Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519)
        return std::nullopt;
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = 32;
    if (EVP_PKEY_get_raw_private_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length) != 1 || length != 32)
        return std::nullopt;
    return Ed25519PrivateKey(raw);
}

std::optional<Ed25519PrivateKey> Ed25519PrivateKey::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return fromPem(file.readAll());
}

QByteArray Ed25519PrivateKey::pem() const
{
    const Key key = privateKey(m_raw);
    const std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!key || !bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        throw std::runtime_error("cannot write the key");
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, static_cast<qsizetype>(length));
}

QByteArray Ed25519PrivateKey::rawPublicKey() const
{
    const Key key = privateKey(m_raw);
    QByteArray raw(32, Qt::Uninitialized);
    size_t length = 32;
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), reinterpret_cast<unsigned char*>(raw.data()), &length) != 1)
        throw std::runtime_error("cannot derive the public key");
    return raw;
}

QByteArray Ed25519PrivateKey::sign(const QByteArray& message) const
{
    const Key key = privateKey(m_raw);
    DigestContext context(EVP_MD_CTX_new());
    QByteArray signature(64, Qt::Uninitialized);
    size_t length = 64;
    if (!key || !context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1
        || EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                          reinterpret_cast<const unsigned char*>(message.constData()),
                          static_cast<size_t>(message.size()))
            != 1)
        throw std::runtime_error("cannot sign");
    return signature;
}

} // namespace telmora
