#include "update/archive.h"

#include "update/feed.h"

#include <QByteArrayList>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>

#include <zip.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace telmora {

namespace {

constexpr zip_uint64_t chunkSize = 1024 * 1024;
constexpr zip_uint64_t maximumLinkTarget = 4096;
constexpr mode_t defaultFileMode = 0644;
constexpr mode_t defaultFolderMode = 0755;

struct ArchiveDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct MemberClose {
    void operator()(zip_file_t* member) const { zip_fclose(member); }
};
using Archive = std::unique_ptr<zip_t, ArchiveDiscard>;
using MemberFile = std::unique_ptr<zip_file_t, MemberClose>;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    [[nodiscard]] int get() const { return m_fd; }
    // Closes now and reports whether the close succeeded (delayed write errors show here).
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

struct Member {
    enum Type { Folder, File, Link };
    zip_uint64_t index = 0;
    QByteArray path; // normalised, relative, components joined by "/"
    Type type = File;
    std::optional<mode_t> mode; // permission bits when the archive has Unix attributes
};

[[noreturn]] void refuse()
{
    throw UpdateError::invalidApp();
}

// "a/./b//c/" -> "a/b/c"; absent for an absolute name or one with a ".." component.
std::optional<QByteArray> normalisedPath(const QByteArray& name)
{
    if (name.isEmpty() || name.startsWith('/'))
        return std::nullopt;
    QByteArrayList kept;
    for (const QByteArray& component : name.split('/')) {
        if (component == "..")
            return std::nullopt;
        if (component.isEmpty() || component == ".")
            continue;
        kept.append(component);
    }
    return kept.join('/');
}

// Whether a link at `linkPath` pointing at `target` stays inside the folder, judged on the
// names alone; links through links are checked on the real file system afterwards.
bool targetStaysInside(const QByteArray& linkPath, const QByteArray& target)
{
    if (target.isEmpty() || target.startsWith('/') || target.contains('\0'))
        return false;
    QByteArrayList stack = linkPath.split('/');
    stack.removeLast(); // the link's own name
    for (const QByteArray& component : target.split('/')) {
        if (component.isEmpty() || component == ".")
            continue;
        if (component == "..") {
            if (stack.isEmpty())
                return false;
            stack.removeLast();
        } else {
            stack.append(component);
        }
    }
    return true;
}

bool isInside(const QByteArray& path, const QByteArray& root)
{
    return path == root || path.startsWith(root.endsWith('/') ? root : root + '/');
}

QByteArray realPath(const QByteArray& path)
{
    char resolved[PATH_MAX];
    if (!::realpath(path.constData(), resolved))
        return {};
    return QByteArray(resolved);
}

bool writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

QByteArray readLinkTarget(zip_t* archive, zip_uint64_t index)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) || stat.size > maximumLinkTarget)
        refuse();
    MemberFile member(zip_fopen_index(archive, index, 0));
    if (!member)
        refuse();
    QByteArray target(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    zip_uint64_t done = 0;
    while (done < stat.size) {
        const zip_int64_t read = zip_fread(member.get(), target.data() + done, stat.size - done);
        if (read <= 0)
            refuse();
        done += static_cast<zip_uint64_t>(read);
    }
    return target;
}

void extractFile(zip_t* archive, const Member& member, const QByteArray& destination)
{
    MemberFile source(zip_fopen_index(archive, member.index, 0));
    if (!source)
        refuse();
    // O_NOFOLLOW: never write through a link, even one that appeared behind our back.
    FileDescriptor target(::open(destination.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (target.get() < 0)
        refuse();
    std::unique_ptr<char[]> buffer(new char[chunkSize]);
    for (;;) {
        const zip_int64_t read = zip_fread(source.get(), buffer.get(), chunkSize);
        if (read < 0)
            refuse(); // damaged data or a checksum mismatch
        if (read == 0)
            break;
        if (!writeAll(target.get(), buffer.get(), static_cast<size_t>(read)))
            refuse();
    }
    if (::fchmod(target.get(), member.mode.value_or(defaultFileMode)) != 0 || !target.close())
        refuse();
}

mode_t permissionBits(mode_t mode)
{
    return mode & 0777; // no set-user-id, set-group-id or sticky bits from an archive
}

} // namespace

void unpackArchive(const QString& archivePath, const QString& folder)
{
    int error = 0;
    const Archive archive(zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &error));
    if (!archive)
        refuse();
    const QByteArray root = realPath(QFile::encodeName(folder));
    if (root.isEmpty())
        refuse();

    // First every name is judged, before anything is written.
    QList<Member> members;
    QSet<QByteArray> links;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        Member member;
        member.index = static_cast<zip_uint64_t>(i);
        const char* rawName = zip_get_name(archive.get(), member.index, ZIP_FL_ENC_RAW);
        if (!rawName)
            refuse();
        const QByteArray name(rawName);
        // A name that is no UTF-8 could not even be removed again through Qt.
        const std::optional<QByteArray> path = normalisedPath(name);
        if (!path || !name.isValidUtf8())
            refuse();
        member.path = *path;
        member.type = name.endsWith('/') ? Member::Folder : Member::File;

        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(archive.get(), member.index, 0, &system, &attributes) == 0
            && system == ZIP_OPSYS_UNIX) {
            const mode_t mode = static_cast<mode_t>(attributes >> 16);
            switch (mode & S_IFMT) {
            case S_IFLNK: member.type = Member::Link; break;
            case S_IFDIR: member.type = Member::Folder; break;
            case S_IFREG:
            case 0: break;
            default: refuse(); // devices, pipes and sockets have no place in a package
            }
            if ((mode & 07777) != 0 || (mode & S_IFMT) != 0)
                member.mode = permissionBits(mode);
        }
        if (member.path.isEmpty()) {
            if (member.type != Member::Folder)
                refuse();
            continue; // "./" names the folder itself
        }
        if (member.type == Member::Link)
            links.insert(member.path);
        members.append(member);
    }
    // Nothing may be written through, or on top of, a link of the archive.
    for (const Member& member : members) {
        QByteArray prefix;
        const QByteArrayList components = member.path.split('/');
        for (qsizetype c = 0; c < components.size(); ++c) {
            prefix += (c ? "/" : "") + components[c];
            const bool itself = c == components.size() - 1;
            if (links.contains(prefix) && !(itself && member.type == Member::Link))
                refuse();
        }
    }
    QList<QPair<Member, QByteArray>> linkTargets;
    for (const Member& member : members) {
        if (member.type != Member::Link)
            continue;
        const QByteArray target = readLinkTarget(archive.get(), member.index);
        if (!targetStaysInside(member.path, target))
            refuse();
        linkTargets.append({member, target});
    }

    // Folders and files first; links last, so no write can ever pass through one.
    const auto absolute = [&root](const QByteArray& path) { return root + '/' + path; };
    for (const Member& member : members) {
        const QByteArray destination = absolute(member.path);
        const QByteArray parent = destination.left(destination.lastIndexOf('/'));
        if (!QDir().mkpath(QFile::decodeName(parent)))
            refuse();
        if (member.type == Member::Folder) {
            if (!QDir().mkpath(QFile::decodeName(destination)))
                refuse();
        } else if (member.type == Member::File) {
            extractFile(archive.get(), member, destination);
        }
    }
    // A chain of links can leave the folder even when each one looks harmless by name. When
    // the archive is refused, none of its links stays behind to lead anywhere.
    QByteArrayList made;
    auto removeLinks = qScopeGuard([&made] {
        for (const QByteArray& link : std::as_const(made))
            ::unlink(link.constData());
    });
    for (const auto& [member, target] : linkTargets) {
        const QByteArray link = absolute(member.path);
        if (::symlink(target.constData(), link.constData()) != 0)
            refuse();
        made.append(link);
    }
    for (const QByteArray& link : std::as_const(made)) {
        const QByteArray resolved = realPath(link);
        if (resolved.isEmpty() || !isInside(resolved, root))
            refuse();
    }
    removeLinks.dismiss();
    // Folder permissions last: a read-only folder must not stop its own files being written.
    for (const Member& member : members) {
        if (member.type == Member::Folder && member.mode)
            ::chmod(absolute(member.path).constData(), *member.mode | 0700);
    }
}

void packFolder(const QString& folder, const QString& archivePath)
{
    const QFileInfo top(folder);
    if (!top.isDir())
        throw UpdateSystemError(QStringLiteral("Нет такой папки: ") + folder);
    int error = 0;
    zip_t* opened = zip_open(QFile::encodeName(archivePath).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!opened) {
        zip_error_t zipError;
        zip_error_init_with_code(&zipError, error);
        const QString message = QString::fromUtf8(zip_error_strerror(&zipError));
        zip_error_fini(&zipError);
        throw UpdateSystemError(message);
    }
    Archive archive(opened);
    const auto fail = [&archive]() {
        throw UpdateSystemError(QString::fromUtf8(zip_strerror(archive.get())));
    };
    const auto setMode = [&](zip_int64_t index, mode_t mode) {
        if (zip_file_set_external_attributes(archive.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(mode) << 16)
            != 0)
            fail();
    };
    const auto addFolder = [&](const QByteArray& name, mode_t mode) {
        const zip_int64_t index = zip_dir_add(archive.get(), name.constData(), ZIP_FL_ENC_UTF_8);
        if (index < 0)
            fail();
        setMode(index, S_IFDIR | (mode & 07777));
    };

    const QByteArray base = QFile::encodeName(top.fileName());
    struct stat info;
    if (::lstat(QFile::encodeName(top.absoluteFilePath()).constData(), &info) != 0)
        throw UpdateSystemError(QString::fromLocal8Bit(std::strerror(errno)));
    addFolder(base + '/', info.st_mode);

    QStringList entries;
    QDirIterator walk(top.absoluteFilePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        entries.append(walk.next());
    entries.sort(); // a stable order: the same package gives the same archive
    const QDir rootDir(top.absoluteFilePath());
    for (const QString& path : entries) {
        const QByteArray local = QFile::encodeName(path);
        const QByteArray name = base + '/' + QFile::encodeName(rootDir.relativeFilePath(path));
        if (::lstat(local.constData(), &info) != 0)
            throw UpdateSystemError(QString::fromLocal8Bit(std::strerror(errno)));
        if (S_ISDIR(info.st_mode)) {
            addFolder(name + '/', info.st_mode);
            continue;
        }
        zip_source_t* source = nullptr;
        if (S_ISLNK(info.st_mode)) {
            char target[PATH_MAX];
            const ssize_t length = ::readlink(local.constData(), target, sizeof target);
            if (length < 0)
                throw UpdateSystemError(QString::fromLocal8Bit(std::strerror(errno)));
            void* copy = std::malloc(static_cast<size_t>(length) + 1);
            std::memcpy(copy, target, static_cast<size_t>(length));
            source = zip_source_buffer(archive.get(), copy, static_cast<zip_uint64_t>(length), 1);
            if (!source)
                std::free(copy);
        } else if (S_ISREG(info.st_mode)) {
            source = zip_source_file(archive.get(), local.constData(), 0, -1);
        } else {
            throw UpdateSystemError(QStringLiteral("Не файл и не папка: ") + path);
        }
        if (!source)
            fail();
        const zip_int64_t index = zip_file_add(archive.get(), name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            fail();
        }
        setMode(index, info.st_mode);
    }
    if (zip_close(archive.get()) != 0)
        fail();
    archive.release(); // zip_close has freed it
}

} // namespace telmora
