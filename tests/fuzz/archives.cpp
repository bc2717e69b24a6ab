// Property lists, packages the user downloads, and the update archive Telmora unpacks.
#include "targets.h"

#include "model/ipa.h"
#include "model/plist.h"
#include "update/archive.h"
#include "update/feed.h"

#include <QCoroTask>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace telmora::fuzz {

namespace {

void requireUsable(const IPAInfo& info)
{
    require(!info.name.isEmpty(), "a package always has a name");
    static const QStringList platforms{QStringLiteral("iOS"), QStringLiteral("macOS"), QStringLiteral("tvOS"),
                                       QStringLiteral("watchOS")};
    require(platforms.contains(info.platform), "a package's platform is one of four");
    // Any text of the package, as app name or account, stays inside the downloads folder.
    for (const QString& name : {ipaFileName(info, std::nullopt, std::nullopt), ipaFileName(info, info.version, info.minOS)}) {
        require(!name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(u'\0')),
                "a package's file name has no separator");
        require(name.endsWith(QStringLiteral(".ipa")), "a package's file name ends in .ipa");
    }
}

// A folder of this process under the temporary folder, for files the targets need.
const QString& scratch()
{
    static QTemporaryDir folder(QDir(QDir::tempPath()).filePath(QStringLiteral("telmora-fuzz-XXXXXX")));
    require(folder.isValid(), "a scratch folder can be made");
    static const QString path = QFileInfo(folder.path()).canonicalFilePath();
    return path;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size(),
            "the input can be written to a file");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QString realPath(const QString& path)
{
    char resolved[PATH_MAX];
    return ::realpath(QFile::encodeName(path).constData(), resolved) ? QFile::decodeName(resolved) : QString();
}

bool isInside(const QString& path, const QString& root)
{
    return path == root || path.startsWith(root + u'/');
}

// Where a link leads: its target's real path; for a target that does not exist, the real
// folder it would be made in. Empty when it leads nowhere at all. (Qt's symLinkTarget()
// tidies "a/.." away by name, which is wrong when "a" is itself a link.)
QString destination(const QString& link)
{
    if (const QString resolved = realPath(link); !resolved.isEmpty())
        return resolved;
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink(QFile::encodeName(link).constData(), buffer, sizeof buffer);
    if (length <= 0)
        return {};
    QByteArray target(buffer, length);
    if (!target.startsWith('/'))
        target = QFile::encodeName(QFileInfo(link).absolutePath()) + '/' + target;
    const qsizetype slash = target.lastIndexOf('/');
    const QString folder = realPath(QFile::decodeName(target.left(slash > 0 ? slash : 1)));
    return folder.isEmpty() ? QString() : folder + u'/' + QFile::decodeName(target.mid(slash + 1));
}

} // namespace

int fuzzPlist(const uint8_t* data, size_t size)
{
    const QByteArray plist = bytes(data, size);
    const std::optional<QVariantMap> dictionary = readPlistDictionary(plist);
    const std::optional<IPAInfo> info = ipaInfoFromPlist(plist);
    require(info.has_value() == dictionary.has_value(), "every dictionary is a package's information");
    if (info)
        requireUsable(*info);
    return 0;
}

int fuzzIPA(const uint8_t* data, size_t size)
{
    const QString folder = scratch() + QStringLiteral("/ipa");
    QDir().mkpath(folder);
    const QString package = folder + QStringLiteral("/App.ipa");
    writeFile(package, bytes(data, size));
    if (const std::optional<IPAInfo> info = QCoro::waitFor(readIPAInfo(package)))
        requireUsable(*info);
    require(entries(folder) == QStringList{QStringLiteral("App.ipa")}, "reading a package writes no file");
    return 0;
}

int fuzzUnpack(const uint8_t* data, size_t size)
{
    // The work folder sits three levels down, so that anything written up to three levels
    // above it shows.
    const QString sandbox = scratch() + QStringLiteral("/unpack");
    const QString work = sandbox + QStringLiteral("/a/b/c/work");
    QDir().mkpath(work);
    const QString archive = sandbox + QStringLiteral("/update.zip");
    writeFile(archive, bytes(data, size));

    try {
        unpackArchive(archive, work);
    } catch (const UpdateError& error) {
        require(error.kind() == UpdateError::Kind::invalidApp, "an archive is refused as no valid app");
    }

    require(entries(sandbox) == QStringList({QStringLiteral("a"), QStringLiteral("update.zip")})
                && entries(sandbox + QStringLiteral("/a")) == QStringList{QStringLiteral("b")}
                && entries(sandbox + QStringLiteral("/a/b")) == QStringList{QStringLiteral("c")}
                && entries(sandbox + QStringLiteral("/a/b/c")) == QStringList{QStringLiteral("work")},
            "nothing is written outside the work folder");
    const QString root = realPath(work);
    QDirIterator walk(work, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo entry(walk.next());
        if (!entry.isSymLink())
            continue;
        const QString leads = destination(entry.filePath());
        require(leads.isEmpty() || isInside(leads, root), "no link in the work folder leads out of it");
    }
    require(QDir(work).removeRecursively(), "the work folder can be removed");
    return 0;
}

} // namespace telmora::fuzz
