#pragma once

#include "update/crypto.h"
#include "update/feed.h"

#include <QString>
#include <QUrl>

namespace telmora::test {

// A small but real application package as a release would ship it.
struct PackageSpec {
    QString name = QStringLiteral("Telmora.app");
    QString bundleID = QStringLiteral("app.telmora.Telmora");
    QString version = QStringLiteral("2.0");
    // When set, the package's `telmora` writes `version` into this file when it starts,
    // so a test can see which package was launched.
    QString launchRecord;
};

// Writes the package into `parent` and returns its folder. It holds the executable
// `telmora`, Resources/Info.plist, a data file and a symbolic link to it. Not signed.
QString makePackage(const QString& parent, const PackageSpec& spec = {});

// The offer a feed would make for `archive` served at `url`.
UpdateOffer offerFor(const QString& archive, const QUrl& url, qint64 build = 2);

} // namespace telmora::test
