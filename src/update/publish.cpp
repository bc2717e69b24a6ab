#include "update/publish.h"

#include "update/crypto.h"
#include "update/feed.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace telmora {

QByteArray makeUpdateFeed(const FeedEntry& entry, const QString& archive, const Ed25519PrivateKey& key)
{
    const QString sha256 = sha256OfFile(archive);
    const qint64 size = QFileInfo(archive).size();
    const QByteArray signature
        = key.sign(signedUpdateMessage(entry.platform, entry.build, entry.version, sha256, entry.notes));

    QJsonObject platform;
    platform.insert(QStringLiteral("url"), entry.url);
    platform.insert(QStringLiteral("sha256"), sha256);
    platform.insert(QStringLiteral("size"), size);
    platform.insert(QStringLiteral("signature"), QString::fromLatin1(signature.toBase64()));
    QJsonObject feed;
    feed.insert(QStringLiteral("build"), entry.build);
    feed.insert(QStringLiteral("version"), entry.version);
    feed.insert(QStringLiteral("notes"), entry.notes);
    feed.insert(entry.platform, platform);
    return QJsonDocument(feed).toJson(QJsonDocument::Indented);
}

} // namespace telmora
