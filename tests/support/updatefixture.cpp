#include "updatefixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telmora::test {

namespace {

void write(const QString& path, const QByteArray& content, QFileDevice::Permissions permissions = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    file.close();
    if (permissions)
        file.setPermissions(permissions);
}

} // namespace

QString makePackage(const QString& parent, const PackageSpec& spec)
{
    const QString package = QDir(parent).filePath(spec.name);
    QDir(package).removeRecursively();
    QByteArray launcher = "#!/bin/sh\n";
    if (!spec.launchRecord.isEmpty())
        launcher += "echo '" + spec.version.toUtf8() + "' > '" + QFile::encodeName(spec.launchRecord) + "'\n";
    write(QDir(package).filePath(QStringLiteral("telmora")), launcher,
          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
              | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther);
    const QByteArray plist = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<plist version=\"1.0\"><dict>\n"
                             "<key>CFBundleIdentifier</key><string>" + spec.bundleID.toUtf8() + "</string>\n"
                             "<key>CFBundleShortVersionString</key><string>" + spec.version.toUtf8() + "</string>\n"
                             "</dict></plist>\n";
    write(QDir(package).filePath(QStringLiteral("Resources/Info.plist")), plist);
    write(QDir(package).filePath(QStringLiteral("Resources/AppsList.txt")), "Telegram\t686449807\n");
    QFile::link(QStringLiteral("AppsList.txt"), QDir(package).filePath(QStringLiteral("Resources/catalog.txt")));
    return package;
}

UpdateOffer offerFor(const QString& archive, const QUrl& url, qint64 build)
{
    UpdateOffer offer;
    offer.build = build;
    offer.version = QStringLiteral("2.0");
    offer.url = url;
    offer.sha256 = sha256OfFile(archive);
    offer.size = QFileInfo(archive).size();
    return offer;
}

} // namespace telmora::test
