#pragma once

#include <QString>
#include <QStringList>
#include <initializer_list>

namespace telmora::adapter {

// The command line Telmora gave, as the contract spells it (TOOLS.md).
struct Request {
    QStringList args; // without the output options below
    bool json = false; // --format json was asked for

    // --format, --non-interactive and --verbose are taken out: the adapter sets the output
    // format and the mode of each upstream run itself, and never asks for verbose logs (older
    // releases printed the password in them).
    [[nodiscard]] static Request parse(const QStringList& arguments);

    // "auth login", "search", …: the first word, and the second after "auth".
    [[nodiscard]] QString command() const;
    // The value of the first option spelled as one of `names` ("-i", "--app-id"), also
    // written "--app-id=V"; empty when absent.
    [[nodiscard]] QString value(std::initializer_list<const char*> names) const;
    [[nodiscard]] bool has(const char* flag) const;
    // The arguments without `flag`.
    [[nodiscard]] QStringList argsWithout(const char* flag) const;
};

} // namespace telmora::adapter
