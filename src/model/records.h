#pragma once

#include <QDateTime>
#include <QHashFunctions>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <optional>

namespace telmora {

// QML sees an absent optional as undefined.
template<typename T>
[[nodiscard]] QVariant optionalVariant(const std::optional<T>& value)
{
    return value ? QVariant::fromValue(*value) : QVariant();
}

// Hash of an optional: a presence flag, then the value when present.
template<typename T>
[[nodiscard]] size_t hashOptional(const std::optional<T>& value, size_t seed)
{
    seed = qHashMulti(seed, value.has_value());
    return value ? qHashMulti(seed, *value) : seed;
}

// An App Store app as a list shows it. Identity: `id`.
struct AppItem {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QVariant bundleID READ bundleIDValue)
    Q_PROPERTY(QVariant version READ versionValue)
    Q_PROPERTY(QVariant kind READ kindValue)
    Q_PROPERTY(QVariant purchaseDate READ purchaseDateValue)
public:
    QString id;
    QString name;
    std::optional<QString> bundleID;
    std::optional<QString> version;
    std::optional<QString> kind;
    std::optional<QString> purchaseDate;

    bool operator==(const AppItem&) const = default;

    [[nodiscard]] QVariant bundleIDValue() const { return optionalVariant(bundleID); }
    [[nodiscard]] QVariant versionValue() const { return optionalVariant(version); }
    [[nodiscard]] QVariant kindValue() const { return optionalVariant(kind); }
    [[nodiscard]] QVariant purchaseDateValue() const { return optionalVariant(purchaseDate); }

    // The cache-file form: optional fields written only when present.
    [[nodiscard]] QJsonObject toJson() const;
    // Requires string "id" and "name"; optional keys may be missing or null.
    [[nodiscard]] static std::optional<AppItem> fromJson(const QJsonValue& value);
};
size_t qHash(const AppItem& item, size_t seed = 0);

// The same form for a whole list, written directly: building a QJsonArray of 10,000
// objects first costs several times more than the rest of loading a purchase history.
[[nodiscard]] QByteArray encodeAppItems(const QList<AppItem>& items);
// Absent when the array or any element is unreadable.
[[nodiscard]] std::optional<QList<AppItem>> appItemsFromJson(const QJsonValue& value);

// What a package's Info.plist says about it.
struct IPAInfo {
    Q_GADGET
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(QString minOS MEMBER minOS)
    Q_PROPERTY(QString platform MEMBER platform)
public:
    QString name;
    QString version;
    QString minOS;
    QString platform;

    bool operator==(const IPAInfo&) const = default;
};
size_t qHash(const IPAInfo& info, size_t seed = 0);

// The time a file without a reported modification time gets.
[[nodiscard]] QDateTime earliestTime();

// One stored package in the downloads folder. Identity: `url`.
struct IPAFile {
    Q_GADGET
    Q_PROPERTY(QString url MEMBER url)
    Q_PROPERTY(QVariant info READ infoValue)
    Q_PROPERTY(qint64 size MEMBER size)
    Q_PROPERTY(QDateTime modified MEMBER modified)
    Q_PROPERTY(QVariant appID READ appIDValue)
    Q_PROPERTY(QString fileName READ fileName)
public:
    QString url; // absolute path
    std::optional<IPAInfo> info;
    qint64 size = 0;
    QDateTime modified = earliestTime();
    std::optional<QString> appID;

    bool operator==(const IPAFile&) const = default;

    [[nodiscard]] QVariant infoValue() const { return optionalVariant(info); }
    [[nodiscard]] QVariant appIDValue() const { return optionalVariant(appID); }
    [[nodiscard]] QString fileName() const;
};
size_t qHash(const IPAFile& file, size_t seed = 0);

// Store details from the lookup service.
struct AppDetails {
    Q_GADGET
    Q_PROPERTY(QVariant artwork READ artworkValue)
    Q_PROPERTY(QVariant seller READ sellerValue)
    Q_PROPERTY(QVariant version READ versionValue)
    Q_PROPERTY(QVariant price READ priceValue)
    Q_PROPERTY(QVariant minOS READ minOSValue)
public:
    std::optional<QUrl> artwork;
    std::optional<QString> seller;
    std::optional<QString> version;
    std::optional<QString> price;
    std::optional<QString> minOS;

    bool operator==(const AppDetails&) const = default;

    [[nodiscard]] QVariant artworkValue() const { return optionalVariant(artwork); }
    [[nodiscard]] QVariant sellerValue() const { return optionalVariant(seller); }
    [[nodiscard]] QVariant versionValue() const { return optionalVariant(version); }
    [[nodiscard]] QVariant priceValue() const { return optionalVariant(price); }
    [[nodiscard]] QVariant minOSValue() const { return optionalVariant(minOS); }
};
size_t qHash(const AppDetails& details, size_t seed = 0);

// Metadata of one historical version.
struct VersionMeta {
    Q_GADGET
    Q_PROPERTY(QVariant display READ displayValue)
    Q_PROPERTY(QVariant minOS READ minOSValue)
public:
    std::optional<QString> display;
    std::optional<QString> minOS;

    [[nodiscard]] QVariant displayValue() const { return optionalVariant(display); }
    [[nodiscard]] QVariant minOSValue() const { return optionalVariant(minOS); }
};

// One row of a version history. Identity: `id`.
struct VersionRow {
    Q_GADGET
    Q_PROPERTY(QString id MEMBER id)
    Q_PROPERTY(QVariant meta READ metaValue)
public:
    QString id;
    std::optional<VersionMeta> meta;

    [[nodiscard]] QVariant metaValue() const { return optionalVariant(meta); }
};

// Progress read from one chunk of tool output.
struct Progress {
    Q_GADGET
    Q_PROPERTY(QVariant fraction READ fractionValue)
    Q_PROPERTY(QVariant speed READ speedValue)
public:
    std::optional<double> fraction;
    std::optional<QString> speed;

    bool operator==(const Progress&) const = default;

    [[nodiscard]] QVariant fractionValue() const { return optionalVariant(fraction); }
    [[nodiscard]] QVariant speedValue() const { return optionalVariant(speed); }
};

} // namespace telmora
