// Time to read the app's Info.plist out of a large IPA with readIPAInfo, beside
// `bsdtar -xOf <ipa> --include 'Payload/*.app/Info.plist'` on the same file.
// Usage: ipa_info [size-in-MB ...]   (default: 256 1024)

#include "model/ipa.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int memberCount = 5000;

void put16(QByteArray& out, quint16 value)
{
    out.append(char(value & 0xff)).append(char(value >> 8));
}

void put32(QByteArray& out, quint32 value)
{
    put16(out, quint16(value & 0xffff));
    put16(out, quint16(value >> 16));
}

// A stored (uncompressed) ZIP written as a stream: memberCount filler members, then the
// app's Info.plist as the last entry of the central directory.
bool writeLargeIPA(const QString& path, qint64 totalBytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint64 fillerSize = totalBytes / memberCount;
    QByteArray filler(fillerSize, Qt::Uninitialized);
    quint32 seed = 12345;
    for (char& byte : filler) {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 24);
    }
    const quint32 fillerCrc = crc32(0, reinterpret_cast<const Bytef*>(filler.constData()), uInt(filler.size()));
    const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                             "<key>CFBundleDisplayName</key><string>Big</string>"
                             "<key>CFBundleShortVersionString</key><string>1.0</string>"
                             "<key>MinimumOSVersion</key><string>15.0</string></dict></plist>\n";
    const quint32 plistCrc = crc32(0, reinterpret_cast<const Bytef*>(plist.constData()), uInt(plist.size()));

    QByteArray directory;
    int entries = 0;
    auto add = [&](const QByteArray& name, const QByteArray& data, quint32 crc) {
        const quint32 offset = quint32(file.pos());
        QByteArray header;
        put32(header, 0x04034b50);
        put16(header, 20); put16(header, 0); put16(header, 0); put16(header, 0); put16(header, 0x21);
        put32(header, crc); put32(header, quint32(data.size())); put32(header, quint32(data.size()));
        put16(header, quint16(name.size())); put16(header, 0);
        header.append(name);
        file.write(header);
        file.write(data);
        put32(directory, 0x02014b50);
        put16(directory, 0x031e); put16(directory, 20); put16(directory, 0); put16(directory, 0);
        put16(directory, 0); put16(directory, 0x21);
        put32(directory, crc); put32(directory, quint32(data.size())); put32(directory, quint32(data.size()));
        put16(directory, quint16(name.size())); put16(directory, 0); put16(directory, 0);
        put16(directory, 0); put16(directory, 0); put32(directory, 0100644u << 16); put32(directory, offset);
        directory.append(name);
        ++entries;
    };
    for (int i = 0; i < memberCount; ++i)
        add(QByteArray("Payload/Big.app/Assets/chunk") + QByteArray::number(i) + ".bin", filler, fillerCrc);
    add("Payload/Big.app/PlugIns/Widget.appex/Info.plist", plist, plistCrc);
    add("Payload/Big.app/Info.plist", plist, plistCrc);

    const quint32 directoryOffset = quint32(file.pos());
    QByteArray end;
    put32(end, 0x06054b50);
    put16(end, 0); put16(end, 0); put16(end, quint16(entries)); put16(end, quint16(entries));
    put32(end, quint32(directory.size())); put32(end, directoryOffset); put16(end, 0);
    file.write(directory);
    file.write(end);
    return file.error() == QFile::NoError;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timeReadIPAInfo(const QString& path, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const auto info = QCoro::waitFor(telmora::readIPAInfo(path));
        times.push_back(timer.nsecsElapsed() / 1e6);
        if (!info || info->name != QLatin1String("Big")) {
            std::fprintf(stderr, "readIPAInfo did not read the app's Info.plist\n");
            std::exit(1);
        }
    }
    return median(times);
}

double timeBsdtar(const QString& path, int runs)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QProcess bsdtar;
        bsdtar.setStandardOutputFile(QProcess::nullDevice());
        QElapsedTimer timer;
        timer.start();
        bsdtar.start(QStringLiteral("bsdtar"), {QStringLiteral("-xOf"), path, QStringLiteral("--exclude"),
                                                QStringLiteral("Payload/*/*/*"), QStringLiteral("--include"),
                                                QStringLiteral("Payload/*.app/Info.plist")});
        if (!bsdtar.waitForFinished(-1) || bsdtar.exitCode() != 0) {
            std::fprintf(stderr, "bsdtar failed (is libarchive-tools installed?)\n");
            std::exit(1);
        }
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return median(times);
}

} // namespace

int main(int argc, char* argv[])
{
    telmora::platform::prepareProcess(); // as the application does at start-up
    QCoreApplication app(argc, argv);
    QList<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.append(QByteArray(argv[i]).toLongLong());
    if (sizes.isEmpty())
        sizes = {256, 1024};

    QTemporaryDir folder;
    constexpr int runs = 7;
    std::printf("%10s %8s %16s %16s %8s\n", "size", "members", "readIPAInfo ms", "bsdtar ms", "ratio");
    for (const qint64 megabytes : sizes) {
        const QString path = folder.filePath(QStringLiteral("big.ipa"));
        if (!writeLargeIPA(path, megabytes * 1000 * 1000)) {
            std::fprintf(stderr, "could not write the test archive\n");
            return 1;
        }
        const double ours = timeReadIPAInfo(path, runs);
        const double theirs = timeBsdtar(path, runs);
        std::printf("%7lld MB %8d %16.2f %16.2f %7.1fx\n", static_cast<long long>(megabytes), memberCount + 2, ours, theirs,
                    theirs / ours);
        QFile::remove(path);
    }
    std::printf("(median of %d runs each; target: readIPAInfo at least 5x faster, flat as the archive grows)\n", runs);
    return 0;
}
