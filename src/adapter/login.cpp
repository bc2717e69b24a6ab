// auth login: Telmora types the answers to "Enter email:", "Enter password:" and, when asked,
// "Enter 2FA code:" on this program's terminal; upstream gets them as arguments of
// non-interactive runs (see Upstream about that window).

#include "adapter/commands.h"

#include "adapter/events.h"
#include "adapter/prompt.h"
#include "adapter/upstreamrun.h"

#include <algorithm>

namespace telmora::adapter {

namespace {

QStringList loginArgs(const QString& email, const QString& password, const QString& code)
{
    QStringList args{QStringLiteral("auth"), QStringLiteral("login"), QStringLiteral("--email=") + email,
                     QStringLiteral("--password=") + password};
    if (!code.isEmpty())
        args.append(QStringLiteral("--auth-code=") + code);
    return args;
}

// Non-interactive upstream says so in an info line and exits with status 0; interactive
// releases fail with "auth code is required".
bool asksForCode(const Outcome& outcome, const std::optional<QString>& failure)
{
    if (failure)
        return failure->contains(QStringLiteral("auth code is required"));
    return std::any_of(outcome.events.cbegin(), outcome.events.cend(), [](const Event& event) {
        return event.message.contains(QStringLiteral("2FA code is required"));
    });
}

// Apple's own words for wrong credentials become the contract's.
QString loginError(const QString& failure)
{
    static const QStringList wrongCredentials = {
        QStringLiteral("password was incorrect"), QStringLiteral("password was entered incorrectly"),
        QStringLiteral("Check the account information you entered"), QStringLiteral("invalid credentials")};
    for (const QString& text : wrongCredentials) {
        if (failure.contains(text, Qt::CaseInsensitive))
            return QStringLiteral("password was incorrect");
    }
    return failure;
}

int finish(const Contract& out, const Outcome& outcome, const std::optional<QString>& failure, bool codeGiven)
{
    if (failure)
        return out.fail(loginError(*failure));
    const Event* result = outcome.result(QStringLiteral("email"));
    if (!result || !result->succeeded())
        return out.fail(codeGiven ? QStringLiteral("auth code is required") : unreadableMessage());
    const QString email = result->fields.value(u"email").toString();
    // An empty account is what upstream reports when Apple accepted nothing.
    if (email.trimmed().isEmpty())
        return out.fail(QStringLiteral("something went wrong"));
    out.info({{QStringLiteral("email"), email},
              {QStringLiteral("name"), result->fields.value(u"name").toString()},
              {QStringLiteral("success"), true}});
    return 0;
}

} // namespace

int authLogin(const Request&, const Contract& out)
{
    const std::optional<Upstream> tool = Upstream::open(out);
    if (!tool)
        return 1;
    const std::optional<QString> email = ask("Enter email: ", true);
    if (!email)
        return out.fail(QStringLiteral("failed to read email: EOF"));
    const std::optional<QString> password = ask("Enter password: ", false);
    if (!password)
        return out.fail(QStringLiteral("failed to read password: EOF"));

    Outcome outcome = tool->run(loginArgs(email->trimmed(), *password, {}));
    std::optional<QString> failure = failureOf(outcome, tool->program());
    const bool codeNeeded = asksForCode(outcome, failure);
    if (codeNeeded) {
        const std::optional<QString> code = ask("Enter 2FA code: ", true);
        if (!code)
            return out.fail(QStringLiteral("failed to read 2FA code: EOF"));
        outcome = tool->run(loginArgs(email->trimmed(), *password, code->trimmed()));
        failure = failureOf(outcome, tool->program());
    }
    return finish(out, outcome, failure, codeNeeded);
}

} // namespace telmora::adapter
