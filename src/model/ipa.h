#pragma once

#include "model/records.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <optional>

namespace telmora {

// Reads the app's own Info.plist (Payload/<name>.app/Info.plist, never a deeper one)
// out of a package on a worker thread. Absent when the package is not a readable ZIP,
// has no such member, or the property list is damaged. Writes no file.
// (Coroutine parameters are taken by value: a reference would dangle across the await.)
[[nodiscard]] QCoro::Task<std::optional<IPAInfo>> readIPAInfo(QString path);

// The metadata of an Info.plist (XML or binary); absent when it is not a dictionary.
[[nodiscard]] std::optional<IPAInfo> ipaInfoFromPlist(const QByteArray& plist);

// File name under which a downloaded package is stored. Never holds a path separator
// or NUL, so it always stays inside the downloads folder.
[[nodiscard]] QString ipaFileName(const IPAInfo& info, const std::optional<QString>& appName,
                                  const std::optional<QString>& account);

} // namespace telmora
