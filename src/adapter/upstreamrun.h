#pragma once

#include "adapter/contract.h"
#include "adapter/events.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace telmora::adapter {

// Upstream ipatool, found, checked and ready to run with the keychain passphrase.
//
// Upstream reads the Apple ID password, the two-factor code and the keychain passphrase
// only from its command line (-p, --auth-code, --keychain-passphrase; it reads no
// environment variable for them), so they are in its argument list, visible to this
// user's other processes, while it runs. They never appear in this program's own
// arguments, output or files other than the passphrase's own.
class Upstream {
public:
    // Finds upstream (upstream::findUpstreamIpatool), refuses a release that can no longer
    // sign in, and gets the passphrase. On failure prints the contract's error and gives
    // nothing.
    [[nodiscard]] static std::optional<Upstream> open(const Contract& out);

    // A run without a terminal (standard input empty), its JSON output read into events.
    // The passphrase and --non-interactive are added. Ends with this program.
    [[nodiscard]] Outcome run(const QStringList& args) const;

    // Becomes upstream on this terminal (interactive, passphrase added), so its live output
    // reaches the caller untouched. Returns only when that fails, with the exit status.
    [[nodiscard]] int exec(const QStringList& args, const Contract& out) const;

    [[nodiscard]] const QString& program() const { return m_program; }

private:
    Upstream(QString program, QString passphrase) : m_program(std::move(program)), m_passphrase(std::move(passphrase)) {}

    QString m_program;
    QString m_passphrase;
};

} // namespace telmora::adapter
