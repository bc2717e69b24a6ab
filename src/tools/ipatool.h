#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// Every command line Telmora passes to ipatool, built in one place. Each function gives
// the complete argument list after the program name, sub-command first.
namespace telmora::ipatool {

// Bin::tool("ipatool").
[[nodiscard]] QString executable();

// Plain runs (runTool).
[[nodiscard]] QStringList authInfo();
[[nodiscard]] QStringList kbsyncRefresh();
[[nodiscard]] QStringList authRevoke();
[[nodiscard]] QStringList search(const QString& query);
[[nodiscard]] QStringList listPurchasesAll();
[[nodiscard]] QStringList listPurchasesSinceYear(int year);
[[nodiscard]] QStringList listVersions(const QString& appID);
[[nodiscard]] QStringList versionMetadata(const QString& appID, const QString& versionID);
[[nodiscard]] QStringList purchase(const QString& appID);

// Terminal runs (PTYTool). download() runs in the job's temporary folder; without a
// version it fetches the current one.
[[nodiscard]] QStringList authLogin();
[[nodiscard]] QStringList download(const QString& appID, const std::optional<QString>& versionID = {});

} // namespace telmora::ipatool
