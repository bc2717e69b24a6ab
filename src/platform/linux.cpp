#include "platform/platform.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace telmora::platform {

QString packageFolder()
{
    // The executable sits directly in Telmora.app.
    return QCoreApplication::applicationDirPath();
}

QString resourcesFolder()
{
    return QDir(packageFolder()).filePath(QStringLiteral("Resources"));
}

namespace {

// One `gsettings get` value, without the quotes GVariant text puts around strings.
std::optional<QString> gsetting(const QString& schema, const QString& key)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("gsettings"), {QStringLiteral("get"), schema, key});
    if (!process.waitForFinished(2000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    QString value = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (value.size() >= 2 && value.startsWith(u'\'') && value.endsWith(u'\''))
        value = value.mid(1, value.size() - 2);
    return value;
}

} // namespace

std::optional<QVariantMap> proxySettings()
{
    // GNOME keeps the desktop's proxy in gsettings; other desktops give no dictionary.
    const std::optional<QString> mode = gsetting(QStringLiteral("org.gnome.system.proxy"), QStringLiteral("mode"));
    if (!mode)
        return std::nullopt;
    QVariantMap settings;
    if (*mode != u"manual")
        return settings;
    auto addProxy = [&](const QString& schema, const QString& prefix) {
        const std::optional<QString> host = gsetting(schema, QStringLiteral("host"));
        const std::optional<QString> port = gsetting(schema, QStringLiteral("port"));
        bool portOk = false;
        const int portNumber = port ? port->toInt(&portOk) : 0;
        if (!host || host->isEmpty() || !portOk || portNumber <= 0)
            return;
        settings.insert(prefix + QStringLiteral("Enable"), 1);
        settings.insert(prefix + QStringLiteral("Proxy"), *host);
        settings.insert(prefix + QStringLiteral("Port"), portNumber);
    };
    addProxy(QStringLiteral("org.gnome.system.proxy.https"), QStringLiteral("HTTPS"));
    addProxy(QStringLiteral("org.gnome.system.proxy.socks"), QStringLiteral("SOCKS"));
    return settings;
}

void clearQuarantine(const QString&)
{
    // Linux marks no downloaded file as quarantined.
}

std::optional<QString> moveToTrash(const QString& path)
{
    QFile file(path);
    if (file.moveToTrash())
        return std::nullopt;
    return file.errorString().isEmpty() ? QStringLiteral("Не удалось переместить файл в Корзину.") : file.errorString();
}

void revealInFileManager(const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace telmora::platform
