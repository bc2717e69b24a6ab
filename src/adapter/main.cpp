// telmora-ipatool: the package's ipatool. It speaks the command lines and output Telmora
// expects (TOOLS.md) and does the work by running upstream ipatool (github.com/majd/ipatool).

#include "adapter/commands.h"

#include <QCoreApplication>
#include <QHash>

using namespace telmora::adapter;

int main(int argc, char** argv)
{
    // Gives QProcess its event dispatcher; nothing here runs an event loop.
    QCoreApplication application(argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const Request request = Request::parse(arguments);
    const Contract out(request.json);

    using Command = int (*)(const Request&, const Contract&);
    static const QHash<QString, Command> commands = {
        {QStringLiteral("auth login"), authLogin},          {QStringLiteral("auth info"), authInfo},
        {QStringLiteral("auth revoke"), authRevoke},        {QStringLiteral("kbsync"), kbsync},
        {QStringLiteral("search"), search},                 {QStringLiteral("list-purchases"), listPurchases},
        {QStringLiteral("list-versions"), listVersions},    {QStringLiteral("get-version-metadata"), versionMetadata},
        {QStringLiteral("purchase"), purchase},             {QStringLiteral("download"), download},
    };
    const auto command = commands.constFind(request.command());
    if (command == commands.cend())
        return out.fail(QStringLiteral("unknown command \"%1\" for \"ipatool\"").arg(request.command()));
    return (*command)(request, out);
}
