#include "ipa.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <plist/plist.h>
#include <zip.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace telmora::sim {

namespace {

const std::array<quint32, 256>& crcTable()
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

quint32 crcUpdate(quint32 crc, const char* data, qsizetype size)
{
    const auto& table = crcTable();
    crc = ~crc;
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ static_cast<quint8>(data[i])) & 0xff] ^ (crc >> 8);
    return ~crc;
}

void put16(QByteArray& out, quint32 value)
{
    out += static_cast<char>(value & 0xff);
    out += static_cast<char>((value >> 8) & 0xff);
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, data, static_cast<size_t>(size));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += done;
        size -= done;
    }
    return true;
}

struct DosTime {
    quint32 time = 0;
    quint32 date = 0;
};

DosTime dosNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime t = now.time();
    return {static_cast<quint32>((t.hour() << 11) | (t.minute() << 5) | (t.second() / 2)),
            static_cast<quint32>(((d.year() - 1980) << 9) | (d.month() << 5) | d.day())};
}

struct PlistFree {
    void operator()(plist_t node) const { plist_free(node); }
};
using Plist = std::unique_ptr<std::remove_pointer_t<plist_t>, PlistFree>;

void setString(plist_t dict, const char* key, const QString& value)
{
    plist_dict_set_item(dict, key, plist_new_string(value.toUtf8().constData()));
}

QByteArray serialise(plist_t node, bool binary)
{
    char* data = nullptr;
    uint32_t length = 0;
    if (binary)
        plist_to_bin(node, &data, &length);
    else
        plist_to_xml(node, &data, &length);
    QByteArray bytes(data, static_cast<qsizetype>(length));
    free(data);
    return bytes;
}

QByteArray appInfoPlist(const App& app, const Version& version)
{
    Plist dict(plist_new_dict());
    setString(dict.get(), "CFBundleDisplayName", app.displayName);
    setString(dict.get(), "CFBundleName", app.executable);
    setString(dict.get(), "CFBundleExecutable", app.executable);
    setString(dict.get(), "CFBundleIdentifier", app.bundleID);
    setString(dict.get(), "CFBundleShortVersionString", version.display);
    setString(dict.get(), "CFBundleVersion", version.id);
    setString(dict.get(), "CFBundlePackageType", QStringLiteral("APPL"));
    setString(dict.get(), "MinimumOSVersion", version.minOS);
    setString(dict.get(), "DTPlatformName", QStringLiteral("iphoneos"));
    setString(dict.get(), "DTPlatformVersion", QStringLiteral("17.5"));
    setString(dict.get(), "DTSDKName", QStringLiteral("iphoneos17.5"));
    plist_t platforms = plist_new_array();
    plist_array_append_item(platforms, plist_new_string("iPhoneOS"));
    plist_dict_set_item(dict.get(), "CFBundleSupportedPlatforms", platforms);
    plist_t families = plist_new_array();
    plist_array_append_item(families, plist_new_uint(1));
    plist_array_append_item(families, plist_new_uint(2));
    plist_dict_set_item(dict.get(), "UIDeviceFamily", families);
    plist_dict_set_item(dict.get(), "LSRequiresIPhoneOS", plist_new_bool(1));
    return serialise(dict.get(), version.binaryPlist);
}

// A widget extension: a different identity deeper in the tree, which a reader of the
// app's own Info.plist must not pick up.
QByteArray widgetInfoPlist(const App& app, const Version& version)
{
    Plist dict(plist_new_dict());
    setString(dict.get(), "CFBundleDisplayName", app.displayName + QStringLiteral(" Widget"));
    setString(dict.get(), "CFBundleName", app.executable + QStringLiteral("Widget"));
    setString(dict.get(), "CFBundleExecutable", app.executable + QStringLiteral("Widget"));
    setString(dict.get(), "CFBundleIdentifier", app.bundleID + QStringLiteral(".widget"));
    setString(dict.get(), "CFBundleShortVersionString", version.display + QStringLiteral(".1"));
    setString(dict.get(), "CFBundlePackageType", QStringLiteral("XPC!"));
    setString(dict.get(), "MinimumOSVersion", QStringLiteral("99.0"));
    setString(dict.get(), "DTPlatformName", QStringLiteral("iphoneos"));
    plist_t extension = plist_new_dict();
    setString(extension, "NSExtensionPointIdentifier", QStringLiteral("com.apple.widgetkit-extension"));
    plist_dict_set_item(dict.get(), "NSExtension", extension);
    return serialise(dict.get(), version.binaryPlist);
}

QByteArray iTunesMetadata(const App& app, const Version& version, const QString& account)
{
    Plist dict(plist_new_dict());
    plist_dict_set_item(dict.get(), "itemId", plist_new_uint(app.id.toULongLong()));
    setString(dict.get(), "itemName", app.name);
    setString(dict.get(), "bundleDisplayName", app.displayName);
    setString(dict.get(), "bundleShortVersionString", version.display);
    setString(dict.get(), "bundleVersion", version.id);
    setString(dict.get(), "softwareVersionBundleId", app.bundleID);
    plist_dict_set_item(dict.get(), "softwareVersionExternalIdentifier", plist_new_uint(version.id.toULongLong()));
    setString(dict.get(), "releaseDate", version.released);
    setString(dict.get(), "kind", QStringLiteral("software"));
    plist_t downloadInfo = plist_new_dict();
    plist_t accountInfo = plist_new_dict();
    setString(accountInfo, "AppleID", account);
    plist_dict_set_item(downloadInfo, "accountInfo", accountInfo);
    plist_dict_set_item(dict.get(), "com.apple.iTunesStore.downloadInfo", downloadInfo);
    return serialise(dict.get(), false);
}

QByteArray filler(qsizetype size, char seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed) & 0xff);
    return bytes;
}

constexpr qint64 localHeaderSize = 30;
constexpr qint64 centralHeaderSize = 46;
constexpr qint64 endRecordSize = 22;

bool isAscii(const QByteArray& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};

std::optional<QByteArray> readMember(zip_t* archive, const QByteArray& name)
{
    const zip_int64_t index = zip_name_locate(archive, name.constData(), 0);
    if (index < 0)
        return std::nullopt;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat) != 0 || stat.size > 10 * 1024 * 1024)
        return std::nullopt;
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    if (!file)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(stat.size), Qt::Uninitialized);
    const zip_int64_t read = zip_fread(file, bytes.data(), stat.size);
    zip_fclose(file);
    if (read != static_cast<zip_int64_t>(stat.size))
        return std::nullopt;
    return bytes;
}

QString stringItem(plist_t dict, const char* key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return {};
    char* value = nullptr;
    plist_get_string_val(node, &value);
    const QString text = QString::fromUtf8(value);
    free(value);
    return text;
}

} // namespace

void ZipStream::addDirectory(const QString& name)
{
    Member m;
    m.name = name.toUtf8();
    m.directory = true;
    m_members.append(m);
}

void ZipStream::addFile(const QString& name, const QByteArray& data, bool executable)
{
    Member m;
    m.name = name.toUtf8();
    m.data = data;
    m.crc = crcUpdate(0, data.constData(), data.size());
    m.executable = executable;
    m_members.append(m);
}

void ZipStream::addZeros(const QString& name, qint64 size, bool executable)
{
    Member m;
    m.name = name.toUtf8();
    m.zeros = size;
    m.executable = executable;
    static const QByteArray block(64 * 1024, '\0');
    quint32 crc = 0;
    for (qint64 left = size; left > 0; left -= block.size())
        crc = crcUpdate(crc, block.constData(), std::min<qint64>(left, block.size()));
    m.crc = crc;
    m_members.append(m);
}

qint64 ZipStream::totalSize() const
{
    qint64 total = endRecordSize;
    for (const Member& m : m_members)
        total += localHeaderSize + centralHeaderSize + 2 * m.name.size() + m.size();
    return total;
}

bool ZipStream::write(int fd, qint64 chunk, const std::function<bool(qint64)>& step) const
{
    const DosTime stamp = dosNow();
    const QByteArray zeros(chunk, '\0');
    QByteArray central;
    qint64 written = 0;

    for (const Member& m : m_members) {
        const quint32 flags = isAscii(m.name) ? 0 : 0x0800; // UTF-8 names
        QByteArray header;
        put32(header, 0x04034b50);
        put16(header, m.directory ? 20 : 10);
        put16(header, flags);
        put16(header, 0); // stored
        put16(header, stamp.time);
        put16(header, stamp.date);
        put32(header, m.crc);
        put32(header, static_cast<quint32>(m.size()));
        put32(header, static_cast<quint32>(m.size()));
        put16(header, static_cast<quint32>(m.name.size()));
        put16(header, 0);
        header += m.name;

        const quint32 mode = m.directory ? 040755u : (m.executable ? 0100755u : 0100644u);
        put32(central, 0x02014b50);
        put16(central, (3 << 8) | 30); // made on Unix
        put16(central, m.directory ? 20 : 10);
        put16(central, flags);
        put16(central, 0);
        put16(central, stamp.time);
        put16(central, stamp.date);
        put32(central, m.crc);
        put32(central, static_cast<quint32>(m.size()));
        put32(central, static_cast<quint32>(m.size()));
        put16(central, static_cast<quint32>(m.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, (mode << 16) | (m.directory ? 0x10 : 0));
        put32(central, static_cast<quint32>(written));
        central += m.name;

        if (!writeAll(fd, header.constData(), header.size()))
            return false;
        written += header.size();
        if (m.zeros > 0) {
            for (qint64 left = m.zeros; left > 0;) {
                const qint64 piece = std::min(left, chunk);
                if (!writeAll(fd, zeros.constData(), piece))
                    return false;
                written += piece;
                left -= piece;
                if (!step(written))
                    return false;
            }
        } else {
            if (!writeAll(fd, m.data.constData(), m.data.size()))
                return false;
            written += m.data.size();
            if (!step(written))
                return false;
        }
    }

    QByteArray end;
    put32(end, 0x06054b50);
    put16(end, 0);
    put16(end, 0);
    put16(end, static_cast<quint32>(m_members.size()));
    put16(end, static_cast<quint32>(m_members.size()));
    put32(end, static_cast<quint32>(central.size()));
    put32(end, static_cast<quint32>(written));
    put16(end, 0);
    central += end;
    if (!writeAll(fd, central.constData(), central.size()))
        return false;
    written += central.size();
    return step(written);
}

ZipStream buildPackage(const App& app, const Version& version, const QString& account)
{
    const QString root = QStringLiteral("Payload/") + app.executable + QStringLiteral(".app/");
    const QString widget = root + QStringLiteral("PlugIns/") + app.executable + QStringLiteral("Widget.appex/");

    ZipStream zip;
    zip.addDirectory(QStringLiteral("Payload/"));
    zip.addDirectory(root);
    zip.addDirectory(root + QStringLiteral("PlugIns/"));
    zip.addDirectory(widget);
    zip.addFile(widget + QStringLiteral("Info.plist"), widgetInfoPlist(app, version));
    zip.addFile(widget + app.executable + QStringLiteral("Widget"), filler(4096, 7), true);
    zip.addFile(root + QStringLiteral("Info.plist"), appInfoPlist(app, version));
    zip.addDirectory(root + QStringLiteral("SC_Info/"));
    zip.addFile(root + QStringLiteral("SC_Info/") + app.executable + QStringLiteral(".sinf"), filler(1024, 42));

    const QString executable = root + app.executable;
    const QByteArray metadata = iTunesMetadata(app, version, account);
    const qint64 overhead = zip.totalSize() + 2 * (localHeaderSize + centralHeaderSize)
        + 2 * (executable.toUtf8().size() + qsizetype(sizeof "iTunesMetadata.plist") - 1) + metadata.size();
    zip.addZeros(executable, std::max<qint64>(1024, version.size - overhead), true);
    zip.addFile(QStringLiteral("iTunesMetadata.plist"), metadata);
    return zip;
}

std::optional<PackageInfo> inspectPackage(const QString& path, QString* error)
{
    const QString notAnApp = QStringLiteral("ERROR: could not locate Payload/*.app/Info.plist in archive!");
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("ERROR: stat: %1: %2").arg(path, QString::fromLocal8Bit(strerror(ENOENT)));
        return std::nullopt;
    }
    int code = 0;
    std::unique_ptr<zip_t, ArchiveCloser> archive(zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code));
    if (!archive) {
        *error = notAnApp;
        return std::nullopt;
    }

    PackageInfo info;
    static const QRegularExpression appFolder(QStringLiteral("^(Payload/[^/]+\\.app)/"));
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < count && info.appFolder.isEmpty(); ++i) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        const QRegularExpressionMatch match = appFolder.match(QString::fromUtf8(name ? name : ""));
        if (match.hasMatch())
            info.appFolder = match.captured(1);
    }
    if (info.appFolder.isEmpty()) {
        *error = notAnApp;
        return std::nullopt;
    }
    const QString plistName = info.appFolder + QStringLiteral("/Info.plist");
    const std::optional<QByteArray> bytes = readMember(archive.get(), plistName.toUtf8());
    if (!bytes) {
        *error = QStringLiteral("ERROR: could not locate %1 in archive!").arg(plistName);
        return std::nullopt;
    }
    plist_t parsed = nullptr;
    plist_from_memory(bytes->constData(), static_cast<uint32_t>(bytes->size()), &parsed);
    Plist dict(parsed);
    if (!dict || plist_get_node_type(dict.get()) != PLIST_DICT) {
        *error = QStringLiteral("Could not parse Info.plist!");
        return std::nullopt;
    }
    info.bundleID = stringItem(dict.get(), "CFBundleIdentifier");
    if (info.bundleID.isEmpty()) {
        *error = QStringLiteral("Could not determine CFBundleIdentifier!");
        return std::nullopt;
    }
    info.name = stringItem(dict.get(), "CFBundleDisplayName");
    if (info.name.isEmpty())
        info.name = stringItem(dict.get(), "CFBundleName");
    info.version = stringItem(dict.get(), "CFBundleShortVersionString");
    info.minOS = stringItem(dict.get(), "MinimumOSVersion");

    if (zip_name_locate(archive.get(), "iTunesMetadata.plist", 0) < 0)
        info.warnings.append(QStringLiteral("WARNING: could not locate iTunesMetadata.plist in archive!"));
    QString executable = stringItem(dict.get(), "CFBundleExecutable");
    if (executable.isEmpty())
        executable = info.appFolder.section(u'/', 1).chopped(4);
    const QString sinf = info.appFolder + QStringLiteral("/SC_Info/") + executable + QStringLiteral(".sinf");
    if (zip_name_locate(archive.get(), sinf.toUtf8().constData(), 0) < 0) {
        info.signature = false;
        info.warnings.append(QStringLiteral("WARNING: could not locate %1 in archive!").arg(sinf));
    }
    return info;
}

} // namespace telmora::sim
