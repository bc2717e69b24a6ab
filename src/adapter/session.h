#pragma once

#include <QProcessEnvironment>
#include <QString>

namespace telmora::adapter {

// Telmora's data folder (the Store's: the first generic data location + "Telmora").
[[nodiscard]] QString dataFolder();

// ~/.ipatool: where Telmora's account switching expects the session files.
[[nodiscard]] QString sessionFolder();

// The environment upstream runs in, made so that it keeps its session in ~/.ipatool:
//  - no session bus (an address that cannot be reached, so it neither finds
//    $XDG_RUNTIME_DIR/bus nor starts a bus): its keyring falls back to the encrypted file
//    ~/.ipatool/account, next to ~/.ipatool/cookies;
//  - XDG_STATE_HOME at a folder of Telmora's whose "ipatool" entry is a link to ~/.ipatool.
//    Since 2.6 upstream keeps its state in $XDG_STATE_HOME/ipatool (else
//    $XDG_DATA_HOME/ipatool) and moves ~/.ipatool there once, unless that place already
//    exists; with the link in place it stays in ~/.ipatool, and a release that uses the
//    variable without moving anything ends up there too.
// Creates ~/.ipatool (0700) and the link when missing.
[[nodiscard]] QProcessEnvironment upstreamEnvironment();

// The same changes applied to this process, before it becomes upstream (download).
void applyUpstreamEnvironment();

} // namespace telmora::adapter
