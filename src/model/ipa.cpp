#include "model/ipa.h"

#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>
#include <QCoroFuture>

#include <plist/plist.h>
#include <zip.h>

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
struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
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

// The bytes of the first top-level app Info.plist in central-directory order.
std::optional<QByteArray> extractInfoPlist(const QString& path)
{
    int error = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error));
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

std::optional<QString> stringEntry(plist_t dictionary, const char* key)
{
    plist_t node = plist_dict_get_item(dictionary, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return std::nullopt;
    char* value = nullptr;
    plist_get_string_val(node, &value);
    if (!value)
        return std::nullopt;
    QString text = QString::fromUtf8(value);
    free(value);
    return text;
}

// First element of an array that holds only strings; absent otherwise.
std::optional<QString> firstOfStringArray(plist_t dictionary, const char* key)
{
    plist_t node = plist_dict_get_item(dictionary, key);
    if (!node || plist_get_node_type(node) != PLIST_ARRAY)
        return std::nullopt;
    const uint32_t size = plist_array_get_size(node);
    if (size == 0)
        return std::nullopt;
    for (uint32_t i = 0; i < size; ++i) {
        if (plist_get_node_type(plist_array_get_item(node, i)) != PLIST_STRING)
            return std::nullopt;
    }
    char* value = nullptr;
    plist_get_string_val(plist_array_get_item(node, 0), &value);
    if (!value)
        return std::nullopt;
    QString text = QString::fromUtf8(value);
    free(value);
    return text;
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
    if (bytes.isEmpty())
        return std::nullopt;
    plist_t parsed = nullptr;
    plist_from_memory(bytes.constData(), static_cast<uint32_t>(bytes.size()), &parsed);
    std::unique_ptr<void, PlistFree> root(parsed);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return std::nullopt;
    plist_t dictionary = root.get();

    IPAInfo info;
    const std::optional<QString> displayName = stringEntry(dictionary, "CFBundleDisplayName");
    const std::optional<QString> chosenName = displayName ? displayName : stringEntry(dictionary, "CFBundleName");
    info.name = chosenName && !chosenName->isEmpty() ? *chosenName : QStringLiteral("App");
    info.version = stringEntry(dictionary, "CFBundleShortVersionString").value_or(QStringLiteral("0"));
    info.minOS = stringEntry(dictionary, "MinimumOSVersion").value_or(QStringLiteral("NA"));
    std::optional<QString> platform = stringEntry(dictionary, "DTPlatformName");
    if (!platform)
        platform = firstOfStringArray(dictionary, "CFBundleSupportedPlatforms");
    info.platform = platformName(platform);
    return info;
}

QCoro::Task<std::optional<IPAInfo>> readIPAInfo(const QString& path)
{
    const std::optional<QByteArray> plist = co_await QtConcurrent::run([path] { return extractInfoPlist(path); });
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
