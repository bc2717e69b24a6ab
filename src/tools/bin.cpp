#include "tools/bin.h"

#include "platform/platform.h"

#include <QDir>
#include <QMutex>

namespace telmora::Bin {

namespace {

QMutex overrideMutex;
std::optional<QString> dirOverride;

QString fixedDir()
{
    // A function-local static: computed on first use only, even across threads.
    static const QString dir = [] {
        if (qEnvironmentVariableIsSet("CRVEL_BIN_DIR"))
            return qEnvironmentVariable("CRVEL_BIN_DIR");
        return QDir(platform::resourcesFolder()).filePath(QStringLiteral("bin"));
    }();
    return dir;
}

} // namespace

QString dir()
{
    {
        const QMutexLocker lock(&overrideMutex);
        if (dirOverride)
            return *dirOverride;
    }
    return fixedDir();
}

QString tool(const QString& name)
{
    const QString folder = dir();
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

void clearQuarantine()
{
    const QString folder = dir();
    const QDir listing(folder);
    if (!listing.exists())
        return;
    const QStringList entries =
        listing.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries)
        platform::clearQuarantine(listing.filePath(entry));
}

void setDirForTesting(const std::optional<QString>& dir)
{
    const QMutexLocker lock(&overrideMutex);
    dirOverride = dir;
}

} // namespace telmora::Bin
