#include "adapter/session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace telmora::adapter {

namespace {

const QString unreachableBus = QStringLiteral("unix:path=/dev/null");

QString stateHome()
{
    return QDir(dataFolder()).filePath(QStringLiteral("ipatool-state"));
}

// ~/.ipatool, and the state folder's "ipatool" link pointing at it.
void prepareFolders()
{
    const QString session = sessionFolder();
    if (QDir().mkpath(session))
        ::chmod(QFile::encodeName(session).constData(), 0700);
    const QString link = QDir(stateHome()).filePath(QStringLiteral("ipatool"));
    if (QFileInfo(link).symLinkTarget() == session)
        return;
    QDir().mkpath(stateHome());
    QFile::remove(link); // a stale link or an empty folder left by an earlier release
    QDir().rmdir(link);
    QFile::link(session, link);
}

} // namespace

QString dataFolder()
{
    const QStringList folders = QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    const QString base = folders.isEmpty() ? QDir::home().filePath(QStringLiteral(".local/share")) : folders.constFirst();
    return QDir(base).filePath(QStringLiteral("Telmora"));
}

QString sessionFolder()
{
    return QDir::home().filePath(QStringLiteral(".ipatool"));
}

QProcessEnvironment upstreamEnvironment()
{
    prepareFolders();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), unreachableBus);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), stateHome());
    return environment;
}

void applyUpstreamEnvironment()
{
    prepareFolders();
    qputenv("DBUS_SESSION_BUS_ADDRESS", unreachableBus.toUtf8());
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateHome()));
}

} // namespace telmora::adapter
