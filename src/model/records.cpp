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

void appendJsonString(QByteArray& out, const QString& text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (byte < 0x20) {
                out.append("\\u00");
                out.append(hex[byte >> 4]);
                out.append(hex[byte & 0xf]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

void appendMember(QByteArray& out, const char* key, const std::optional<QString>& value)
{
    if (!value)
        return;
    out.append(",\"").append(key).append("\":");
    appendJsonString(out, *value);
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

QByteArray encodeAppItems(const QList<AppItem>& items)
{
    QByteArray out;
    out.reserve(items.size() * 112 + 2);
    out.append('[');
    for (qsizetype i = 0; i < items.size(); ++i) {
        const AppItem& item = items.at(i);
        out.append(i == 0 ? "{\"id\":" : ",{\"id\":");
        appendJsonString(out, item.id);
        appendMember(out, "name", item.name);
        appendMember(out, "bundleID", item.bundleID);
        appendMember(out, "version", item.version);
        appendMember(out, "kind", item.kind);
        appendMember(out, "purchaseDate", item.purchaseDate);
        out.append('}');
    }
    out.append(']');
    return out;
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
