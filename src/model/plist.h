#pragma once

#include <QByteArray>
#include <QVariantMap>
#include <optional>

namespace telmora {

// A property list (XML or binary) whose root is a dictionary, as a map: strings become
// QString, integers qint64, booleans bool, arrays of strings QStringList. Other values are
// left out. Absent when the bytes are no property list or the root is no dictionary.
[[nodiscard]] std::optional<QVariantMap> readPlistDictionary(const QByteArray& bytes);

} // namespace telmora
