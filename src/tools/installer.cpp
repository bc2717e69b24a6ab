#include "tools/installer.h"

#include "model/text.h"
#include "tools/bin.h"
#include "tools/runner.h"

#include <QRegularExpression>

namespace telmora::installer {

QString executable()
{
    return Bin::tool(QStringLiteral("ideviceinstaller"));
}

namespace {

std::optional<Syntax> syntaxOfVersion(const QString& versionOutput)
{
    static const QRegularExpression version(QStringLiteral("ideviceinstaller\\s+(\\d+(?:\\.\\d+)*)"));
    const QRegularExpressionMatch match = version.match(versionOutput);
    if (!match.hasMatch())
        return std::nullopt;
    return compareVersions(match.captured(1), QStringLiteral("1.2")) < 0 ? Syntax::Options : Syntax::Commands;
}

} // namespace

Syntax syntaxFrom(const QString& versionOutput, const QString& helpOutput)
{
    if (const std::optional<Syntax> syntax = syntaxOfVersion(versionOutput))
        return *syntax;
    // A build without a release number: 1.1's help lists install as an option.
    return helpOutput.contains(QStringLiteral("--install ARCHIVE")) ? Syntax::Options : Syntax::Commands;
}

QCoro::Task<Syntax> askSyntax()
{
    // Tasks named before they are awaited: GCC 12 destroys temporaries inside a co_await twice.
    const QString tool = executable();
    const QStringList versionArgs{QStringLiteral("--version")};
    QCoro::Task<ToolResult> askingVersion = runTool(tool, versionArgs);
    const ToolResult version = co_await askingVersion;
    if (const std::optional<Syntax> syntax = syntaxOfVersion(version.out + version.err))
        co_return *syntax;
    const QStringList helpArgs{QStringLiteral("--help")};
    QCoro::Task<ToolResult> askingHelp = runTool(tool, helpArgs);
    const ToolResult help = co_await askingHelp;
    co_return syntaxFrom({}, help.out + help.err);
}

QStringList arguments(Syntax syntax, const QString& udid, bool upgrade, const QString& path)
{
    if (syntax == Syntax::Options)
        return {QStringLiteral("-u"), udid, upgrade ? QStringLiteral("-g") : QStringLiteral("-i"), path};
    return {QStringLiteral("--udid"), udid, upgrade ? QStringLiteral("upgrade") : QStringLiteral("install"), path};
}

QString describe(Syntax syntax)
{
    return syntax == Syntax::Options ? QStringLiteral("1.1 (-u UDID -i PATH, -g PATH)")
                                     : QStringLiteral("1.2 (--udid UDID install|upgrade PATH)");
}

} // namespace telmora::installer
