#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// SHA-256 and Ed25519 through OpenSSL's EVP interface.
namespace telmora {

// Lower-case hexadecimal SHA-256 of a file, read in 1 MiB chunks. Blocks: run it off the
// interface thread. Throws UpdateSystemError when the file cannot be opened or read.
[[nodiscard]] QString sha256OfFile(const QString& path);
[[nodiscard]] QString sha256Hex(const QByteArray& data);

// True when `signature` is a valid Ed25519 signature (RFC 8032) of `message` under the
// 32-byte raw public key. A key of another length never verifies.
[[nodiscard]] bool verifyEd25519(const QByteArray& publicKey, const QByteArray& message, const QByteArray& signature);
[[nodiscard]] bool isValidEd25519PublicKey(const QByteArray& publicKey);

// Frees what OpenSSL keeps for the calling thread (its error queue above all). Worker
// threads call it when their work is done: a pool thread may still be on its way out when
// the process ends, after OpenSSL's exit clean-up has removed the hook that would have
// freed that state.
void releaseThreadCryptoState();

// The signing half, used by the release tool and by tests that make real updates.
class Ed25519PrivateKey {
public:
    // A fresh random key.
    [[nodiscard]] static Ed25519PrivateKey generate();
    // From PEM (PKCS#8) text; absent when it is not an Ed25519 private key.
    [[nodiscard]] static std::optional<Ed25519PrivateKey> fromPem(const QByteArray& pem);
    // Absent when the file cannot be read or holds no Ed25519 private key.
    [[nodiscard]] static std::optional<Ed25519PrivateKey> load(const QString& path);

    [[nodiscard]] QByteArray pem() const;
    [[nodiscard]] QByteArray rawPublicKey() const; // 32 bytes
    [[nodiscard]] QByteArray sign(const QByteArray& message) const; // 64 bytes

private:
    explicit Ed25519PrivateKey(QByteArray raw) : m_raw(std::move(raw)) {}
    QByteArray m_raw; // the 32-byte private seed
};

} // namespace telmora
