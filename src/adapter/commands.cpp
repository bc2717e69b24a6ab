// The commands that upstream answers in the contract's shape already, or nearly so.

#include "adapter/commands.h"

#include "adapter/events.h"
#include "adapter/session.h"
#include "adapter/upstreamrun.h"

#include <QDir>
#include <QFile>

namespace telmora::adapter {

namespace {

// Prints the run's failure in the contract's words, or its result: the last info line
// holding `key`. Gives the exit status.
int report(const Contract& out, const Upstream& tool, const Outcome& outcome, const QString& key)
{
    if (const std::optional<QString> failure = failureOf(outcome, tool.program()))
        return out.fail(contractError(*failure));
    const Event* result = outcome.result(key);
    if (!result)
        return out.fail(unreadableMessage());
    out.info(result->fields, result->message);
    return 0;
}

// Runs `args` and reports the result line holding `key`.
int passThrough(const Contract& out, const QStringList& args, const QString& key)
{
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    return report(out, *tool, tool->run(args), key);
}

QString appID(const Request& request)
{
    return request.value({"-i", "--app-id"});
}

} // namespace

int authInfo(const Request& request, const Contract& out)
{
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    const Outcome outcome = tool->run(request.args);
    // Upstream has been seen to report an account without an address when Apple had accepted
    // nothing: that is no sign-in.
    const Event* result = outcome.result(QStringLiteral("email"));
    if (result && !failureOf(outcome, tool->program()) && result->fields.value(u"email").toString().trimmed().isEmpty())
        return out.fail(QStringLiteral("Not logged in"));
    return report(out, *tool, outcome, QStringLiteral("email"));
}

int authRevoke(const Request& request, const Contract& out)
{
    return passThrough(out, request.args, QStringLiteral("success"));
}

int kbsync(const Request&, const Contract& out)
{
    // Upstream has no such command and needs no refresh after signing in.
    out.info({{QStringLiteral("success"), true}});
    return 0;
}

int search(const Request& request, const Contract& out)
{
    return passThrough(out, request.args, QStringLiteral("apps"));
}

int versionMetadata(const Request& request, const Contract& out)
{
    // Upstream says no minimum OS version: the line goes without one.
    return passThrough(out, request.args, QStringLiteral("displayVersion"));
}

int listVersions(const Request& request, const Contract& out)
{
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    // Upstream's list-versions cannot obtain a licence: with --purchase, a missing one is
    // obtained first and the list asked for again.
    const QStringList args = request.argsWithout("--purchase");
    Outcome outcome = tool->run(args);
    if (request.has("--purchase") && failureOf(outcome, tool->program()) == QStringLiteral("license is required")) {
        const Outcome bought = tool->run({QStringLiteral("purchase"), QStringLiteral("--app-id=") + appID(request)});
        const std::optional<QString> failure = failureOf(bought, tool->program());
        if (failure && !failure->contains(QStringLiteral("already has a license")))
            return out.fail(contractError(*failure));
        outcome = tool->run(args);
    }
    return report(out, *tool, outcome, QStringLiteral("externalVersionIdentifiers"));
}

int purchase(const Request& request, const Contract& out)
{
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    const Outcome outcome = tool->run({QStringLiteral("purchase"), QStringLiteral("--app-id=") + appID(request)});
    // A licence the account already holds is what the caller wanted.
    const std::optional<QString> failure = failureOf(outcome, tool->program());
    if (failure && failure->contains(QStringLiteral("already has a license"))) {
        out.info({{QStringLiteral("alreadyOwned"), true}, {QStringLiteral("success"), true}});
        return 0;
    }
    return report(out, *tool, outcome, QStringLiteral("success"));
}

int download(const Request& request, const Contract& out)
{
    // Upstream would fail with a keyring error; the contract's words let Telmora ask for a
    // sign-in instead.
    if (!QFile::exists(QDir(sessionFolder()).filePath(QStringLiteral("account"))))
        return out.fail(QStringLiteral("Not logged in"));
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    return tool->exec(request.args, out);
}

} // namespace telmora::adapter
