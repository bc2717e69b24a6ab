#pragma once

#include <QString>
#include <compare>
#include <optional>

// The App Store tool a Linux user installs (github.com/majd/ipatool), which the package's
// own ipatool adapter drives: where it is, which version it is, and what to tell the user
// when it is missing or too old. Used by the adapter and by diagnostics.
namespace telmora::upstream {

struct Version {
    int major = 0;
    int minor = 0;
    int patch = 0;

    auto operator<=>(const Version&) const = default;
    [[nodiscard]] QString text() const;
};

// The oldest release that can still sign in (Apple changed its sign-in in 2026; 2.3 fails),
// and the release the messages recommend.
inline constexpr Version oldestSupported{2, 6, 0};
inline constexpr Version recommended{2, 8, 0};

// TELMORA_IPATOOL when set and not empty (used only if it is an executable file other than `selfPath`),
// else the first executable "ipatool" on PATH that is not `selfPath` itself (canonical
// paths compared, so a link to the adapter is skipped). Empty when there is none.
[[nodiscard]] QString findUpstreamIpatool(const QString& selfPath);

// The number in `ipatool --version` output ("ipatool version 2.8.0"); absent when the text
// holds none (a build from source says "dev").
[[nodiscard]] std::optional<Version> parseVersion(const QString& text);

struct VersionCheck {
    bool ran = false;                // the tool started and exited with status 0
    std::optional<Version> version;  // what it said, when it said a number
    QString output;                  // its standard output, trimmed
};

// Runs `path --version` and reads the answer. Blocks for at most 10 seconds: call it from
// a worker thread in an interactive program.
[[nodiscard]] VersionCheck upstreamVersion(const QString& path);

// False only for a version number older than oldestSupported.
[[nodiscard]] bool isSupported(const VersionCheck& check);

// The release archive for this computer, e.g. "ipatool-2.8.0-linux-amd64.tar.gz".
[[nodiscard]] QString releaseArchive();

// Russian messages for the user: the tool is missing, does not run, or is too old.
[[nodiscard]] QString missingMessage();
[[nodiscard]] QString brokenMessage(const QString& path);
[[nodiscard]] QString tooOldMessage(const Version& found);

} // namespace telmora::upstream
