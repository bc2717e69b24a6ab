#include "model/ipa.h"

#include "model/plist.h"

#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>
#include <QCoroFuture>

#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace telmora {

namespace {

// An Info.plist is a few kilobytes; anything far larger is not one we want in memory.
constexpr zip_uint64_t maximumPlistSize = 16 * 1024 * 1024;

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct MemberCloser {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// "Payload/<name>.app/Info.plist" with nothing deeper: a name without "/".
bool isTopLevelInfoPlist(const char* name)
{
    static const char prefix[] = "Payload/";
    static const char suffix[] = ".app/Info.plist";
    const std::string_view path(name);
    if (!path.starts_with(prefix) || !path.ends_with(suffix))
        return false;
    const std::string_view app = path.substr(sizeof prefix - 1, path.size() - (sizeof prefix - 1) - (sizeof suffix - 1));
    return !app.empty() && app.find('/') == std::string_view::npos;
}

// A read-only libzip source over a buffered C stream. libzip's own file source asks the
// file system for the file's status once per archive member and reads each central
// directory record with a system call of its own; with thousands of members that is most
// of the time spent. This source answers the status from the size read once at open and
// reads through a 256 KiB buffer.
class CachedFileSource {
public:
    static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
    {
        return static_cast<CachedFileSource*>(state)->handle(data, length, command);
    }

    explicit CachedFileSource(const QString& path)
        : m_path(QFile::encodeName(path))
    {
        zip_error_init(&m_error);
    }
    ~CachedFileSource()
    {
        if (m_file)
            std::fclose(m_file);
        zip_error_fini(&m_error);
    }

    bool open()
    {
        m_file = std::fopen(m_path.constData(), "rb");
        if (!m_file || std::setvbuf(m_file, nullptr, _IOFBF, 256 * 1024) != 0 || std::fseek(m_file, 0, SEEK_END) != 0)
            return false;
        m_size = std::ftell(m_file);
        return m_size >= 0 && std::fseek(m_file, 0, SEEK_SET) == 0;
    }

private:
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command)
    {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            return std::fseek(m_file, 0, SEEK_SET) == 0 ? 0 : fail();
        case ZIP_SOURCE_READ: {
            const size_t read = std::fread(data, 1, static_cast<size_t>(length), m_file);
            return read < length && std::ferror(m_file) ? fail() : static_cast<zip_int64_t>(read);
        }
        case ZIP_SOURCE_CLOSE:
            return 0;
        case ZIP_SOURCE_STAT: {
            auto* stat = static_cast<zip_stat_t*>(data);
            zip_stat_init(stat);
            stat->size = static_cast<zip_uint64_t>(m_size);
            stat->valid |= ZIP_STAT_SIZE;
            return sizeof(zip_stat_t);
        }
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&m_error, data, length);
        case ZIP_SOURCE_FREE:
            delete this;
            return 0;
        case ZIP_SOURCE_SEEK: {
            const zip_int64_t offset = zip_source_seek_compute_offset(static_cast<zip_uint64_t>(std::ftell(m_file)),
                                                                      static_cast<zip_uint64_t>(m_size), data, length, &m_error);
            return offset < 0 || std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0 ? -1 : 0;
        }
        case ZIP_SOURCE_TELL:
            return std::ftell(m_file);
        case ZIP_SOURCE_SUPPORTS:
            return ZIP_SOURCE_SUPPORTS_SEEKABLE;
        default:
            zip_error_set(&m_error, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    zip_int64_t fail()
    {
        zip_error_set(&m_error, ZIP_ER_READ, 0);
        return -1;
    }

    QByteArray m_path;
    std::FILE* m_file = nullptr;
    long m_size = 0;
    zip_error_t m_error;
};

zip_t* openArchive(const QString& path)
{
    auto* state = new CachedFileSource(path);
    if (!state->open()) {
        delete state;
        return nullptr;
    }
    zip_source_t* source = zip_source_function_create(&CachedFileSource::callback, state, nullptr);
    if (!source) {
        delete state;
        return nullptr;
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, nullptr);
    if (!archive)
        zip_source_free(source); // frees the state through ZIP_SOURCE_FREE
    return archive;
}

// The bytes of the first top-level app Info.plist in central-directory order.
std::optional<QByteArray> extractInfoPlist(const QString& path)
{
    std::unique_ptr<zip_t, ArchiveCloser> archive(openArchive(path));
    if (!archive)
        return std::nullopt;
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t index = 0; index < count; ++index) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(index), ZIP_FL_ENC_RAW);
        if (!name || !isTopLevelInfoPlist(name))
            continue;
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0
            || !(stat.valid & ZIP_STAT_SIZE) || stat.size > maximumPlistSize)
            return std::nullopt;
        std::unique_ptr<zip_file_t, MemberCloser> member(zip_fopen_index(archive.get(), static_cast<zip_uint64_t>(index), 0));
        if (!member)
            return std::nullopt;
        QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
        zip_uint64_t done = 0;
        while (done < stat.size) {
            const zip_int64_t read = zip_fread(member.get(), bytes.data() + done, stat.size - done);
            if (read <= 0)
                return std::nullopt; // truncated or damaged member
            done += static_cast<zip_uint64_t>(read);
        }
        return bytes;
    }
    return std::nullopt;
}

std::optional<QString> stringEntry(const QVariantMap& dictionary, const QString& key)
{
    const QVariant value = dictionary.value(key);
    return value.typeId() == QMetaType::QString ? std::optional<QString>(value.toString()) : std::nullopt;
}

// First element of an array that holds only strings; absent otherwise.
std::optional<QString> firstOfStringArray(const QVariantMap& dictionary, const QString& key)
{
    const QVariant value = dictionary.value(key);
    if (value.typeId() != QMetaType::QStringList || value.toStringList().isEmpty())
        return std::nullopt;
    return value.toStringList().constFirst();
}

QString platformName(const std::optional<QString>& raw)
{
    if (!raw)
        return QStringLiteral("iOS");
    const QString lower = raw->toLower();
    if (lower == u"macosx")
        return QStringLiteral("macOS");
    if (lower == u"appletvos")
        return QStringLiteral("tvOS");
    if (lower == u"watchos")
        return QStringLiteral("watchOS");
    return QStringLiteral("iOS");
}

// Only "/", "\" and NUL can move a name out of its folder; other characters stay as they are.
QString withoutSeparators(QString text)
{
    text.remove(u'/');
    text.remove(u'\\');
    text.remove(QChar(u'\0'));
    return text;
}

} // namespace

std::optional<IPAInfo> ipaInfoFromPlist(const QByteArray& bytes)
{
    const std::optional<QVariantMap> root = readPlistDictionary(bytes);
    if (!root)
        return std::nullopt;
    const QVariantMap& dictionary = *root;

    IPAInfo info;
    const std::optional<QString> displayName = stringEntry(dictionary, QStringLiteral("CFBundleDisplayName"));
    const std::optional<QString> chosenName = displayName ? displayName : stringEntry(dictionary, QStringLiteral("CFBundleName"));
    info.name = chosenName && !chosenName->isEmpty() ? *chosenName : QStringLiteral("App");
    info.version = stringEntry(dictionary, QStringLiteral("CFBundleShortVersionString")).value_or(QStringLiteral("0"));
    info.minOS = stringEntry(dictionary, QStringLiteral("MinimumOSVersion")).value_or(QStringLiteral("NA"));
    std::optional<QString> platform = stringEntry(dictionary, QStringLiteral("DTPlatformName"));
    if (!platform)
        platform = firstOfStringArray(dictionary, QStringLiteral("CFBundleSupportedPlatforms"));
    info.platform = platformName(platform);
    return info;
}

QCoro::Task<std::optional<IPAInfo>> readIPAInfo(QString path)
{
    // GCC 12 destroys a capturing lambda written inside a co_await expression twice:
    // start the work in a statement of its own.
    QFuture<std::optional<QByteArray>> extraction = QtConcurrent::run([path] { return extractInfoPlist(path); });
    const std::optional<QByteArray> plist = co_await extraction;
    if (!plist)
        co_return std::nullopt;
    co_return ipaInfoFromPlist(*plist);
}

QString ipaFileName(const IPAInfo& info, const std::optional<QString>& appName, const std::optional<QString>& account)
{
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/:*?\"<>|]"));
    static const QRegularExpression dash(QStringLiteral("\\s*-\\s*"), QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);

    QString base = appName && !appName->isEmpty() ? *appName : info.name;
    base.remove(forbidden);
    base.replace(dash, QStringLiteral("-"));

    QString name = base + u'_' + withoutSeparators(info.version) + u'_' + withoutSeparators(info.platform) + u'_'
        + withoutSeparators(info.minOS) + QStringLiteral("+_")
        + (account ? withoutSeparators(*account) : QStringLiteral("account")) + QStringLiteral(".ipa");
    name.replace(whiteSpace, QStringLiteral("_"));
    return withoutSeparators(name);
}

} // namespace telmora
