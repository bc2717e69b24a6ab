#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

namespace telmora::test {

// Writes `bytes` to `path`, making the folders above it; false when any of it fails.
inline bool writeFile(const QString& path, const QByteArray& bytes = "x", bool executable = false)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
        && (!executable || file.setPermissions(file.permissions() | QFileDevice::ExeOwner));
}

// The whole file; empty when it cannot be read.
inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace telmora::test
