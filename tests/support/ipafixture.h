#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariantMap>

namespace telmora::test {

// Property lists and IPA archives made by the tests themselves.
enum class PlistFormat { xml, binary };

// A dictionary of strings and string arrays as an Info.plist.
[[nodiscard]] QByteArray makeInfoPlist(const QVariantMap& entries, PlistFormat format = PlistFormat::xml);

// Writes a ZIP with the given members in this order (stored uncompressed when `store` is set).
// Returns false when the archive could not be written.
bool writeZip(const QString& path, const QList<QPair<QString, QByteArray>>& members, bool store = false);

// A minimal package: Payload/<app>.app/Info.plist with the given entries.
bool writeIPA(const QString& path, const QString& app, const QVariantMap& entries, PlistFormat format = PlistFormat::xml);

} // namespace telmora::test
