#include "updatefixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace telmora::test {

QString makePackage(const QString& parent, const PackageSpec& spec)
{
    QDir package(QDir(parent).filePath(spec.name));
    package.removeRecursively();
    const auto write = [&package](const char* name, const QByteArray& content) {
        const QString path = package.filePath(QString::fromLatin1(name));
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
    };
    QByteArray launcher = "#!/bin/sh\n";
    if (!spec.launchRecord.isEmpty())
        launcher += "echo '" + spec.version.toUtf8() + "' > '" + QFile::encodeName(spec.launchRecord) + "'\n";
    write("telmora", launcher);
    QFile::setPermissions(package.filePath(QStringLiteral("telmora")), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                              | QFileDevice::ExeOwner | QFileDevice::ReadGroup | QFileDevice::ExeGroup
                              | QFileDevice::ReadOther | QFileDevice::ExeOther);
    write("Resources/Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
                                  "<key>CFBundleIdentifier</key><string>" + spec.bundleID.toUtf8() + "</string>\n"
                                  "<key>CFBundleShortVersionString</key><string>" + spec.version.toUtf8()
              + "</string>\n</dict></plist>\n");
    write("Resources/AppsList.txt", "Telegram\t686449807\n");
    QFile::link(QStringLiteral("AppsList.txt"), package.filePath(QStringLiteral("Resources/catalog.txt")));
    return package.path();
}

} // namespace telmora::test
