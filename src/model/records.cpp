#include "model/records.h"

#include <QFileInfo>

namespace telmora {

namespace {

void putOptional(QJsonObject& object, const QString& key, const std::optional<QString>& value)
{
    if (value)
        object.insert(key, *value);
}

// Missing or null gives absent; any other non-string makes the document unreadable.
bool readOptional(const QJsonObject& object, const QString& key, std::optional<QString>& out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

} // namespace

QJsonObject AppItem::toJson() const
{
    QJsonObject object{{QStringLiteral("id"), id}, {QStringLiteral("name"), name}};
    putOptional(object, QStringLiteral("bundleID"), bundleID);
    putOptional(object, QStringLiteral("version"), version);
    putOptional(object, QStringLiteral("kind"), kind);
    putOptional(object, QStringLiteral("purchaseDate"), purchaseDate);
    return object;
}

std::optional<AppItem> AppItem::fromJson(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const QJsonValue id = object.value(QStringLiteral("id"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    if (!id.isString() || !name.isString())
        return std::nullopt;
    AppItem item{id.toString(), name.toString()};
    if (!readOptional(object, QStringLiteral("bundleID"), item.bundleID)
        || !readOptional(object, QStringLiteral("version"), item.version)
        || !readOptional(object, QStringLiteral("kind"), item.kind)
        || !readOptional(object, QStringLiteral("purchaseDate"), item.purchaseDate))
        return std::nullopt;
    return item;
}

QJsonArray appItemsToJson(const QList<AppItem>& items)
{
    QJsonArray array;
    for (const AppItem& item : items)
        array.append(item.toJson());
    return array;
}

std::optional<QList<AppItem>> appItemsFromJson(const QJsonValue& value)
{
    if (!value.isArray())
        return std::nullopt;
    QList<AppItem> items;
    const QJsonArray array = value.toArray();
    items.reserve(array.size());
    for (const QJsonValue& element : array) {
        std::optional<AppItem> item = AppItem::fromJson(element);
        if (!item)
            return std::nullopt;
        items.append(std::move(*item));
    }
    return items;
}

size_t qHash(const AppItem& item, size_t seed)
{
    seed = qHashMulti(seed, item.id, item.name);
    seed = hashOptional(item.bundleID, seed);
    seed = hashOptional(item.version, seed);
    seed = hashOptional(item.kind, seed);
    return hashOptional(item.purchaseDate, seed);
}

size_t qHash(const IPAInfo& info, size_t seed)
{
    return qHashMulti(seed, info.name, info.version, info.minOS, info.platform);
}

QDateTime earliestTime()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QString IPAFile::fileName() const
{
    return QFileInfo(url).fileName();
}

size_t qHash(const IPAFile& file, size_t seed)
{
    seed = qHashMulti(seed, file.url);
    seed = hashOptional(file.info, seed);
    seed = qHashMulti(seed, file.size, file.modified);
    return hashOptional(file.appID, seed);
}

size_t qHash(const AppDetails& details, size_t seed)
{
    seed = hashOptional(details.artwork, seed);
    seed = hashOptional(details.seller, seed);
    seed = hashOptional(details.version, seed);
    seed = hashOptional(details.price, seed);
    return hashOptional(details.minOS, seed);
}

} // namespace telmora
