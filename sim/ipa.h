#pragma once

#include "world.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace telmora::sim {

// Writes a ZIP archive (stored members) to a file descriptor piece by piece, so a
// download can grow on disk at the pace of the simulated network.
class ZipStream {
public:
    void addDirectory(const QString& name);
    void addFile(const QString& name, const QByteArray& data, bool executable = false);
    // A member of `size` zero bytes, written in chunks: the bulk of a package.
    void addZeros(const QString& name, qint64 size, bool executable = false);

    [[nodiscard]] qint64 totalSize() const;

    // `step` is called after every piece with the bytes written so far; returning false
    // stops the writing there. False when stopped or when a write failed.
    bool write(int fd, qint64 chunk, const std::function<bool(qint64 written)>& step) const;

private:
    struct Member {
        QByteArray name;
        QByteArray data;
        qint64 zeros = 0;
        quint32 crc = 0;
        bool directory = false;
        bool executable = false;
        [[nodiscard]] qint64 size() const { return zeros > 0 ? zeros : data.size(); }
    };
    QList<Member> m_members;
};

// What ipatool would fetch for one app version: Info.plist (XML or binary) with the
// package's identity, a widget extension with its own Info.plist deeper in the tree,
// the SC_Info signature, iTunesMetadata.plist and an executable that pads the package
// to the version's size.
[[nodiscard]] ZipStream buildPackage(const App& app, const Version& version, const QString& account);

// What ideviceinstaller needs to know about a package.
struct PackageInfo {
    QString bundleID;
    QString name;
    QString version;
    QString minOS;
    QString appFolder;     // "Payload/<name>.app"
    bool signature = true; // SC_Info/<executable>.sinf present
    QStringList warnings;  // what the installer prints on standard error before copying
};

// Reads Payload/<name>.app/Info.plist of a package; `error` gets the installer's
// complaint when the file is not an app package (its text names the missing Payload).
[[nodiscard]] std::optional<PackageInfo> inspectPackage(const QString& path, QString* error);

} // namespace telmora::sim
