#pragma once

#include "files.h"
#include "update/crypto.h"
#include "update/feed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QUrl>

#include <sys/stat.h>

namespace telmora::test {

// A small but real application package as a release would ship it.
struct PackageSpec {
    QString name = QStringLiteral("Telmora.app");
    QString bundleID = QStringLiteral("app.telmora.Telmora");
    QString version = QStringLiteral("2.0");
    QString launchRecord; // when set, `telmora` writes `version` into this file when it runs
};

// Writes the package into `parent` and returns its folder. It holds the executable
// `telmora`, Resources/Info.plist, a data file and a symbolic link to it. Not signed.
inline QString makePackage(const QString& parent, const PackageSpec& spec = {})
{
    QDir package(QDir(parent).filePath(spec.name));
    package.removeRecursively();
    const auto write = [&package](const char* name, const QByteArray& content) {
        const QString path = package.filePath(QString::fromLatin1(name));
        if (!writeFile(path, content))
            qFatal("cannot write %s", qPrintable(path));
        return QFile::encodeName(path);
    };
    QByteArray launcher = "#!/bin/sh\n";
    if (!spec.launchRecord.isEmpty())
        launcher += "echo '" + spec.version.toUtf8() + "' > '" + QFile::encodeName(spec.launchRecord) + "'\n";
    ::chmod(write("telmora", launcher).constData(), 0755);
    write("Resources/Info.plist", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
                                  "<key>CFBundleIdentifier</key><string>" + spec.bundleID.toUtf8() + "</string>\n"
                                  "<key>CFBundleShortVersionString</key><string>" + spec.version.toUtf8() + "</string>\n</dict></plist>\n");
    write("Resources/AppsList.txt", "Telegram\t686449807\n");
    QFile::link(QStringLiteral("AppsList.txt"), package.filePath(QStringLiteral("Resources/catalog.txt")));
    return package.path();
}

} // namespace telmora::test
