#include "tools/ipatool.h"

#include "tools/bin.h"

namespace telmora::ipatool {

QString executable()
{
    return Bin::tool(QStringLiteral("ipatool"));
}

QStringList authInfo()
{
    return {QStringLiteral("auth"), QStringLiteral("info")};
}

QStringList authLogin()
{
    return {QStringLiteral("auth"), QStringLiteral("login")};
}

QStringList kbsyncRefresh()
{
    return {QStringLiteral("kbsync"), QStringLiteral("--refresh")};
}

QStringList authRevoke()
{
    return {QStringLiteral("auth"), QStringLiteral("revoke")};
}

QStringList search(const QString& query)
{
    return {QStringLiteral("search"), query,          QStringLiteral("--limit"),          QStringLiteral("25"),
            QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--non-interactive")};
}

QStringList listPurchasesAll()
{
    return {QStringLiteral("list-purchases"), QStringLiteral("--all")};
}

QStringList listPurchasesSinceYear(int year)
{
    return {QStringLiteral("list-purchases"), QStringLiteral("--since-year"), QString::number(year)};
}

QStringList listVersions(const QString& appID)
{
    return {QStringLiteral("list-versions"), QStringLiteral("-i"), appID, QStringLiteral("--purchase")};
}

QStringList versionMetadata(const QString& appID, const QString& versionID)
{
    return {QStringLiteral("get-version-metadata"), QStringLiteral("-i"), appID,
            QStringLiteral("--external-version-id"), versionID};
}

QStringList download(const QString& appID, const std::optional<QString>& versionID)
{
    if (versionID)
        return {QStringLiteral("download"), QStringLiteral("-i"), appID, QStringLiteral("--external-version-id"),
                *versionID};
    return {QStringLiteral("download"), QStringLiteral("-i"), appID, QStringLiteral("--purchase")};
}

QStringList purchase(const QString& appID)
{
    return {QStringLiteral("purchase"), QStringLiteral("-i"), appID};
}

} // namespace telmora::ipatool
