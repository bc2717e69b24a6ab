#include "tools/bin.h"

#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>

namespace telmora::Bin {

namespace {

QMutex overrideMutex;
std::optional<QString> dirOverride;

bool chosenByEnvironment()
{
    return qEnvironmentVariableIsSet("CRVEL_BIN_DIR");
}

QString fixedDir()
{
    // A function-local static: computed on first use only, even across threads.
    static const QString dir = [] {
        if (chosenByEnvironment())
            return qEnvironmentVariable("CRVEL_BIN_DIR");
        return QDir(platform::resourcesFolder()).filePath(QStringLiteral("bin"));
    }();
    return dir;
}

std::optional<QString> overridden()
{
    const QMutexLocker lock(&overrideMutex);
    return dirOverride;
}

QString join(const QString& folder, const QString& name)
{
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder + name;
    return folder + u'/' + name;
}

} // namespace

QString dir()
{
    if (const std::optional<QString> folder = overridden())
        return *folder;
    return fixedDir();
}

QString tool(const QString& name)
{
    const QString inFolder = join(dir(), name);
    if (overridden() || chosenByEnvironment() || QFileInfo(inFolder).isExecutable())
        return inFolder;
    // The package carries only what the system does not: the device tools come from
    // the system's packages.
    const QString onPath = QStandardPaths::findExecutable(name);
    return onPath.isEmpty() ? inFolder : onPath;
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
