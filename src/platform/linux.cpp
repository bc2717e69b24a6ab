#include "platform/platform.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <initializer_list>

// GLib names a struct member "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace telmora::platform {

void prepareProcess()
{
    // Without TZ, glibc looks at /etc/localtime again on every local-time conversion, and
    // libzip converts the time of every archive member: a package with thousands of
    // members would cost thousands of file-system calls each time it is read.
    if (!qEnvironmentVariableIsSet("TZ"))
        qputenv("TZ", ":/etc/localtime");
}

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

// GNOME's proxy schemas, looked up once. Each is null when not installed: g_settings_new
// aborts the process on a missing schema, so the lookup must come first. The objects are
// kept for the life of the process; reads are cheap and always current.
struct GnomeProxySettings {
    GSettings* proxy = nullptr;
    GSettings* https = nullptr;
    GSettings* socks = nullptr;

    GnomeProxySettings()
    {
        GSettingsSchemaSource* source = g_settings_schema_source_get_default();
        if (!source)
            return;
        proxy = open(source, "org.gnome.system.proxy", {{"mode", "s"}});
        https = open(source, "org.gnome.system.proxy.https", {{"host", "s"}, {"port", "i"}});
        socks = open(source, "org.gnome.system.proxy.socks", {{"host", "s"}, {"port", "i"}});
    }

    struct Key {
        const char* name;
        const char* type;
    };

    // The schema's settings, or null when the schema or one of the keys we read (with
    // the type we read it as) is missing.
    static GSettings* open(GSettingsSchemaSource* source, const char* id, std::initializer_list<Key> keys)
    {
        GSettingsSchema* schema = g_settings_schema_source_lookup(source, id, TRUE);
        if (!schema)
            return nullptr;
        bool usable = true;
        for (const Key& key : keys) {
            if (!g_settings_schema_has_key(schema, key.name)) {
                usable = false;
                break;
            }
            GSettingsSchemaKey* schemaKey = g_settings_schema_get_key(schema, key.name);
            usable = g_variant_type_equal(g_settings_schema_key_get_value_type(schemaKey), G_VARIANT_TYPE(key.type));
            g_settings_schema_key_unref(schemaKey);
            if (!usable)
                break;
        }
        GSettings* settings = usable ? g_settings_new_full(schema, nullptr, nullptr) : nullptr;
        g_settings_schema_unref(schema);
        return settings;
    }

    static QString text(GSettings* settings, const char* key)
    {
        gchar* value = g_settings_get_string(settings, key);
        const QString result = QString::fromUtf8(value);
        g_free(value);
        return result;
    }
};

} // namespace

std::optional<QVariantMap> proxySettings()
{
    // Without GNOME's schemas the desktop keeps no proxy setting we can read.
    static const GnomeProxySettings gnome;
    if (!gnome.proxy)
        return std::nullopt;
    QVariantMap settings;
    if (GnomeProxySettings::text(gnome.proxy, "mode") != u"manual")
        return settings;
    auto addProxy = [&](GSettings* schema, const QString& prefix) {
        if (!schema)
            return;
        const QString host = GnomeProxySettings::text(schema, "host");
        const int port = g_settings_get_int(schema, "port");
        if (host.isEmpty() || port <= 0)
            return;
        settings.insert(prefix + QStringLiteral("Enable"), 1);
        settings.insert(prefix + QStringLiteral("Proxy"), host);
        settings.insert(prefix + QStringLiteral("Port"), port);
    };
    addProxy(gnome.https, QStringLiteral("HTTPS"));
    addProxy(gnome.socks, QStringLiteral("SOCKS"));
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
