// Refreshing the downloads list over 200 stored packages: the first refresh opens every
// package, the second (nothing changed) should open none.
#include "store/store.h"

#include <QCoreApplication>
#include <QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace telmora;

namespace {

constexpr int packageCount = 200;

QByteArray infoPlist(int index)
{
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\"><dict>"
               "<key>CFBundleDisplayName</key><string>App %1</string>"
               "<key>CFBundleShortVersionString</key><string>1.%1</string>"
               "<key>MinimumOSVersion</key><string>15.0</string>"
               "<key>DTPlatformName</key><string>iphoneos</string>"
               "</dict></plist>\n")
        .arg(index)
        .toUtf8();
}

// A small package: the app's Info.plist, an executable-sized filler and a nested plist.
bool writePackage(const QString& path, int index)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    const QString app = QStringLiteral("Payload/App%1.app/").arg(index);
    const QList<QPair<QString, QByteArray>> members = {
        {app + QStringLiteral("App"), QByteArray(64 * 1024, char('a' + index % 26))},
        {app + QStringLiteral("PlugIns/Ext.appex/Info.plist"), infoPlist(-index)},
        {app + QStringLiteral("Info.plist"), infoPlist(index)},
    };
    for (const auto& [name, bytes] : members) {
        void* copy = malloc(static_cast<size_t>(bytes.size()));
        memcpy(copy, bytes.constData(), static_cast<size_t>(bytes.size()));
        zip_source_t* source = zip_source_buffer(archive, copy, static_cast<zip_uint64_t>(bytes.size()), 1);
        if (zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8) < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
    }
    return zip_close(archive) == 0;
}

double refreshMilliseconds(Store& store)
{
    QElapsedTimer timer;
    timer.start();
    QCoro::waitFor(store.refreshFiles());
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DOWNLOAD_DIR"})
        qunsetenv(name);
    QCoreApplication application(argc, argv);

    const QString downloads = QDir(home.path()).filePath(QStringLiteral("Downloads/Telmora"));
    QDir().mkpath(downloads);
    for (int index = 0; index < packageCount; ++index) {
        if (!writePackage(QDir(downloads).filePath(QStringLiteral("App%1_1.%1_iOS_15.0+_bench.ipa").arg(index)), index)) {
            std::fprintf(stderr, "could not write package %d\n", index);
            return 1;
        }
    }

    StoreOptions options;
    options.autoStart = false;
    Store store(options);

    const double first = refreshMilliseconds(store);
    qsizetype withInfo = 0;
    for (const IPAFile& file : store.files())
        withInfo += file.info.has_value();
    QList<double> unchanged;
    for (int run = 0; run < 9; ++run)
        unchanged.append(refreshMilliseconds(store));
    std::sort(unchanged.begin(), unchanged.end());

    std::printf("refreshFiles over %lld packages (%lld with metadata)\n", static_cast<long long>(store.files().size()),
                static_cast<long long>(withInfo));
    std::printf("  first refresh (every package read):  %8.2f ms\n", first);
    std::printf("  unchanged refresh, 9 runs: median    %8.2f ms (min %.2f, max %.2f)\n", unchanged.at(4), unchanged.first(),
                unchanged.last());
    return store.files().size() == packageCount && withInfo == packageCount ? 0 : 1;
}
