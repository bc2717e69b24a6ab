#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// The release side of the self-update: what the release tool and the tests use to make
// real, signed updates.
namespace telmora {

class Ed25519PrivateKey;

struct FeedEntry {
    qint64 build = 0;
    QString version;
    QString notes;
    QString url;      // as written into the feed: absolute, or relative to the feed
    QString platform; // the feed key of the system, e.g. "linux"
};

// The feed JSON for `archive`: its SHA-256 and size are computed from the file and the
// signed message is signed with `key`. Throws UpdateSystemError when the file is unreadable.
[[nodiscard]] QByteArray makeUpdateFeed(const FeedEntry& entry, const QString& archive, const Ed25519PrivateKey& key);

} // namespace telmora
