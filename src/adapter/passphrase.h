#pragma once

#include <QString>
#include <optional>

namespace telmora::adapter {

// The passphrase that locks upstream's keyring file (~/.ipatool/account), which holds the
// Apple ID password. Made once at random and kept in the desktop's Secret Service when a
// session bus offers one, otherwise in a file only the user may read in Telmora's data
// folder; a file once written stays the place. One passphrase serves every account, since
// account switching moves the keyring file itself. Never printed.
// Absent, with `error` set, when none can be read or kept.
[[nodiscard]] std::optional<QString> keychainPassphrase(QString* error);

} // namespace telmora::adapter
