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
    QString launchRecord; // when set, `telmora` writes `version` into this file when it runs
};

// Writes the package into `parent` and returns its folder. It holds the executable
// `telmora`, Resources/Info.plist, a data file and a symbolic link to it. Not signed.
QString makePackage(const QString& parent, const PackageSpec& spec = {});

} // namespace telmora::test
