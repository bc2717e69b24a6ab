#pragma once

#include <QString>
#include <optional>

// The folder that holds the external tools (ipatool and the device tools).
namespace telmora::Bin {

// CRVEL_BIN_DIR when set (used unchanged), else the package's Resources/bin.
// Fixed for the life of the process once first read.
[[nodiscard]] QString dir();

// dir() + "/" + name, e.g. tool("ipatool"). Without CRVEL_BIN_DIR, a tool the package
// does not carry is looked up on PATH (the device tools come from the system).
[[nodiscard]] QString tool(const QString& name);

// Makes every entry of dir() runnable (removes the quarantine mark where the system
// has one). Never fails; called once at start-up before any tool runs.
void clearQuarantine();

// Tests only: makes dir() answer `dir` instead of the fixed folder; nullopt restores it.
void setDirForTesting(const std::optional<QString>& dir);

} // namespace telmora::Bin
