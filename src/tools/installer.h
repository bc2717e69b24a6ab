#pragma once

#include <QCoroTask>
#include <QString>
#include <QStringList>

// The command lines for ideviceinstaller, whose syntax changed between releases.
namespace telmora::installer {

enum class Syntax {
    Commands, // 1.2 and later: `--udid U install|upgrade PATH`
    Options,  // 1.1 (Debian 12 ships 1.1.1): `-u U -i PATH` and `-g PATH`
};

// Bin::tool("ideviceinstaller").
[[nodiscard]] QString executable();

// The syntax a tool speaks, judged from what `--version` and, when that names no
// version, `--help` printed. Unknown output means the newer syntax.
[[nodiscard]] Syntax syntaxFrom(const QString& versionOutput, const QString& helpOutput);

// Asks the installed tool (`--version`, then `--help` if needed).
QCoro::Task<Syntax> askSyntax();

// Installs or upgrades (`upgrade`) the package at `path` on the phone `udid`.
[[nodiscard]] QStringList arguments(Syntax syntax, const QString& udid, bool upgrade, const QString& path);

[[nodiscard]] QString describe(Syntax syntax);

} // namespace telmora::installer
