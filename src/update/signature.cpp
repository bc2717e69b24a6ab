#include "update/signature.h"

#include "update/crypto.h"
#include "update/feed.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSaveFile>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace telmora {

namespace {

const QString signatureFolder = QStringLiteral("_CodeSignature");
const QString manifestName = QStringLiteral("_CodeSignature/Manifest");
const QString signatureName = QStringLiteral("_CodeSignature/Signature");
constexpr char manifestHeader[] = "telmora-package-manifest 1\n";

[[noreturn]] void systemFailure()
{
    throw UpdateSystemError(QString::fromLocal8Bit(std::strerror(errno)));
}

// One line per file, sorted by path: "<kind> <sha256> <path>", kind "f" for a plain file,
// "x" for a file its owner may run, "l" for a symbolic link (hash of its target text).
// Folders are not listed. Anything else in the package (pipes, devices) cannot be signed.
QByteArray manifestOf(const QString& package)
{
    const QDir root(package);
    QList<QPair<QByteArray, QByteArray>> lines;
    QDirIterator walk(package, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QString path = walk.next();
        const QString relative = root.relativeFilePath(path);
        if (relative == manifestName || relative == signatureName)
            continue;
        const QByteArray local = QFile::encodeName(path);
        const QByteArray name = QFile::encodeName(relative);
        if (name.contains('\n'))
            throw UpdateSystemError(QStringLiteral("Имя файла с переводом строки: ") + relative);
        struct stat info;
        if (::lstat(local.constData(), &info) != 0)
            systemFailure();
        QByteArray kind;
        QString digest;
        if (S_ISDIR(info.st_mode)) {
            continue;
        } else if (S_ISLNK(info.st_mode)) {
            char target[PATH_MAX];
            const ssize_t length = ::readlink(local.constData(), target, sizeof target);
            if (length < 0)
                systemFailure();
            kind = "l";
            digest = sha256Hex(QByteArray(target, length));
        } else if (S_ISREG(info.st_mode)) {
            kind = (info.st_mode & S_IXUSR) ? "x" : "f";
            digest = sha256OfFile(path);
        } else {
            throw UpdateSystemError(QStringLiteral("Не файл и не папка: ") + relative);
        }
        lines.append({name, kind + ' ' + digest.toLatin1() + ' ' + name + '\n'});
    }
    std::sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    QByteArray manifest(manifestHeader);
    for (const auto& line : lines)
        manifest += line.second;
    return manifest;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        throw UpdateSystemError(file.errorString());
}

std::optional<QByteArray> readSmallFile(const QString& path, qint64 limit)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > limit)
        return std::nullopt;
    return file.readAll();
}

} // namespace

void signPackage(const QString& package, const Ed25519PrivateKey& key)
{
    const QDir root(package);
    if (!root.exists())
        throw UpdateSystemError(QStringLiteral("Нет такой папки: ") + package);
    // An old signature is not part of what is signed.
    QFile::remove(root.filePath(manifestName));
    QFile::remove(root.filePath(signatureName));
    const QByteArray manifest = manifestOf(package);
    if (!root.mkpath(signatureFolder))
        throw UpdateSystemError(QStringLiteral("Не удалось создать папку ") + root.filePath(signatureFolder));
    writeFile(root.filePath(manifestName), manifest);
    writeFile(root.filePath(signatureName), key.sign(manifest));
}

bool verifyPackageSignature(const QString& package, const QByteArray& publicKey)
{
    const QDir root(package);
    const std::optional<QByteArray> signature = readSmallFile(root.filePath(signatureName), 64);
    // A manifest lists files of an application package: tens of megabytes would be absurd.
    const std::optional<QByteArray> manifest = readSmallFile(root.filePath(manifestName), 64 * 1024 * 1024);
    if (!signature || !manifest || !verifyEd25519(publicKey, *manifest, *signature))
        return false;
    try {
        return manifestOf(package) == *manifest;
    } catch (const UpdateSystemError&) {
        return false; // an unreadable or unsignable file is not a valid package
    }
}

} // namespace telmora
