#include "adapter/upstreamrun.h"

#include "adapter/passphrase.h"
#include "adapter/session.h"
#include "tools/upstream.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <csignal>
#include <vector>

#include <sys/prctl.h>
#include <unistd.h>

namespace telmora::adapter {

std::optional<Upstream> Upstream::open(const Contract& out)
{
    const QString program = upstream::findUpstreamIpatool(QCoreApplication::applicationFilePath());
    if (program.isEmpty()) {
        out.error(upstream::missingMessage());
        return std::nullopt;
    }
    const upstream::VersionCheck version = upstream::upstreamVersion(program);
    if (!version.ran) {
        out.error(upstream::brokenMessage(program));
        return std::nullopt;
    }
    if (!upstream::isSupported(version)) {
        out.error(upstream::tooOldMessage(*version.version));
        return std::nullopt;
    }
    QString error;
    const std::optional<QString> passphrase = keychainPassphrase(&error);
    if (!passphrase) {
        out.error(error);
        return std::nullopt;
    }
    return Upstream(program, *passphrase);
}

Outcome Upstream::run(const QStringList& args) const
{
    QProcess process;
    process.setProgram(m_program);
    process.setArguments(args
                         + QStringList{QStringLiteral("--format=json"), QStringLiteral("--non-interactive"),
                                       QStringLiteral("--keychain-passphrase=") + m_passphrase});
    process.setProcessEnvironment(upstreamEnvironment());
    process.setStandardInputFile(QProcess::nullDevice());
    // Upstream must not outlive a cancelled sign-in with the password in its arguments.
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process.start();

    Outcome outcome;
    outcome.started = process.waitForStarted(-1);
    if (!outcome.started)
        return outcome;
    process.waitForFinished(-1);
    outcome.crashed = process.exitStatus() == QProcess::CrashExit;
    outcome.status = outcome.crashed ? -1 : process.exitCode();
    outcome.events = parseEvents(process.readAllStandardOutput());
    outcome.errors = QString::fromUtf8(process.readAllStandardError());
    return outcome;
}

int Upstream::exec(const QStringList& args, const Contract& out) const
{
    applyUpstreamEnvironment();
    std::vector<QByteArray> storage{QFile::encodeName(m_program)};
    for (const QString& arg : args)
        storage.push_back(arg.toUtf8());
    storage.push_back("--keychain-passphrase=" + m_passphrase.toUtf8());
    std::vector<char*> argv;
    for (QByteArray& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(storage.front().constData(), argv.data());
    return out.fail(upstream::brokenMessage(m_program));
}

} // namespace telmora::adapter
