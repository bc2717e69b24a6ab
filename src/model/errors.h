#pragma once

#include <QString>

namespace telmora {

// Host named in the "something went wrong" message.
inline constexpr auto appleAccountHost = "account.apple.com";

// Raw tool output to one short Russian message; never empty.
[[nodiscard]] QString friendlyError(const QString& text);

} // namespace telmora
