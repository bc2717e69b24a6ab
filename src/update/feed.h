#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QHashFunctions>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <exception>
#include <optional>

class QNetworkAccessManager;

namespace telmora {

// Name of this system's entry in the update feed.
inline constexpr auto updatePlatform = "linux";
// The product's web site, named when an update could not replace the application.
inline constexpr auto productHost = "telmora.app";

// A newer build the signed feed offers.
struct UpdateOffer {
    Q_GADGET
    Q_PROPERTY(qint64 build MEMBER build)
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(QString notes MEMBER notes)
    Q_PROPERTY(QUrl url MEMBER url)
    Q_PROPERTY(QString sha256 MEMBER sha256)
    Q_PROPERTY(qint64 size MEMBER size)
public:
    qint64 build = 0;
    QString version;
    QString notes;
    QUrl url;       // absolute
    QString sha256; // 64 lower-case hexadecimal digits
    qint64 size = 0;

    bool operator==(const UpdateOffer&) const = default;
};
size_t qHash(const UpdateOffer& offer, size_t seed = 0);

// The self-update state the interface shows.
struct UpdatePhase {
    Q_GADGET
    Q_PROPERTY(Kind kind MEMBER kind)
    Q_PROPERTY(double fraction MEMBER fraction)
    // The kind as flags, for views that cannot name the enumeration.
    Q_PROPERTY(bool isAvailable READ isAvailable)
    Q_PROPERTY(bool isDownloading READ isDownloading)
    Q_PROPERTY(bool isInstalling READ isInstalling)
public:
    enum Kind { Idle, Available, Downloading, Installing };
    Q_ENUM(Kind)

    Kind kind = Idle;
    double fraction = 0; // only meaningful while downloading

    [[nodiscard]] static UpdatePhase idle() { return {}; }
    [[nodiscard]] static UpdatePhase available() { return {Available, 0}; }
    [[nodiscard]] static UpdatePhase downloading(double fraction) { return {Downloading, fraction}; }
    [[nodiscard]] static UpdatePhase installing() { return {Installing, 0}; }

    // No check and no new install while an update is downloading or being installed.
    [[nodiscard]] bool isBusy() const { return kind == Downloading || kind == Installing; }
    [[nodiscard]] bool isAvailable() const { return kind == Available; }
    [[nodiscard]] bool isDownloading() const { return kind == Downloading; }
    [[nodiscard]] bool isInstalling() const { return kind == Installing; }

    bool operator==(const UpdatePhase&) const = default;
};

// A failure of the self-update whose description is shown to the user as it is.
class UpdateError : public std::exception {
public:
    enum class Kind { server, badSignature, damaged, notWritable, invalidApp };

    [[nodiscard]] static UpdateError server(int status) { return UpdateError(Kind::server, status); }
    [[nodiscard]] static UpdateError badSignature() { return UpdateError(Kind::badSignature); }
    [[nodiscard]] static UpdateError damaged() { return UpdateError(Kind::damaged); }
    [[nodiscard]] static UpdateError notWritable() { return UpdateError(Kind::notWritable); }
    [[nodiscard]] static UpdateError invalidApp() { return UpdateError(Kind::invalidApp); }

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] int status() const { return m_status; } // HTTP status of `server`, 0 otherwise
    [[nodiscard]] QString description() const;
    [[nodiscard]] const char* what() const noexcept override;

    bool operator==(const UpdateError& other) const { return m_kind == other.m_kind && m_status == other.m_status; }

private:
    explicit UpdateError(Kind kind, int status = 0);

    Kind m_kind;
    int m_status;
    QByteArray m_what;
};

// A file-system, network or process failure of the self-update, carrying the system's
// own description of it.
class UpdateSystemError : public std::exception {
public:
    explicit UpdateSystemError(QString description);
    [[nodiscard]] QString description() const { return m_description; }
    [[nodiscard]] const char* what() const noexcept override { return m_what.constData(); }

private:
    QString m_description;
    QByteArray m_what;
};

// The text shown for any failure of the self-update.
[[nodiscard]] QString describeUpdateFailure(const std::exception& error);

// ---- configuration from the package's information dictionary ----

// "TelmoraUpdateFeed" when it is non-empty text that parses as a URL.
[[nodiscard]] std::optional<QUrl> updateFeedURL(const QVariantMap& info);
// "TelmoraUpdateKey" decoded as strict Base64; absent when missing, not text or not Base64.
// Its length is not checked here.
[[nodiscard]] std::optional<QByteArray> updatePublicKey(const QVariantMap& info);
// Both of the above are present.
[[nodiscard]] bool updateIsConfigured(const QVariantMap& info);
// "CFBundleVersion" as a decimal integer with an optional sign; 0 when missing or not a number.
[[nodiscard]] qint64 currentBuild(const QVariantMap& info);
// "CFBundleShortVersionString", "" when missing.
[[nodiscard]] QString currentVersion(const QVariantMap& info);

// Standard Base64 with nothing else tolerated (no line breaks, no missing padding).
[[nodiscard]] std::optional<QByteArray> decodeStrictBase64(const QString& text);

// ---- the feed ----

// The bytes the feed's Ed25519 signature covers.
[[nodiscard]] QByteArray signedUpdateMessage(const QString& platform, qint64 build, const QString& version,
                                             const QString& sha256, const QString& notes);

// Reads a feed. Absent when it is not a feed for `platform` or offers nothing newer than
// `currentBuild`; throws UpdateError::badSignature for any malformed, implausible or
// tampered field after that. No side effects.
[[nodiscard]] std::optional<UpdateOffer> parseUpdateFeed(const QByteArray& data, const QUrl& feedURL, qint64 currentBuild,
                                                         const QByteArray& publicKey, const QString& platform);

// Fetches the feed (never from a cache, 15 s time-out) and parses it. Throws UpdateError
// (server status, bad signature) or UpdateSystemError (network failure).
[[nodiscard]] QCoro::Task<std::optional<UpdateOffer>> fetchUpdateOffer(QNetworkAccessManager& network, QUrl feedURL,
                                                                       qint64 currentBuild, QByteArray publicKey,
                                                                       QString platform = QString::fromLatin1(updatePlatform));

} // namespace telmora
