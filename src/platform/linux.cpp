#include "platform/platform.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <initializer_list>

#include <unistd.h>

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

namespace {

// Where the freedesktop trash keeps files: the home trash, or a mount's own .Trash-UID or
// .Trash/UID folder.
bool isTrashFolder(const QString& filesFolder)
{
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash/files");
    if (QFileInfo(filesFolder) == QFileInfo(home))
        return true;
    const QString uid = QString::number(::getuid());
    const QString trash = QFileInfo(filesFolder).absolutePath();
    const QString name = QFileInfo(trash).fileName();
    return name == QStringLiteral(".Trash-") + uid || (name == uid && QFileInfo(trash).absolutePath().endsWith(u"/.Trash"));
}

} // namespace

std::optional<QString> moveToTrash(const QString& path)
{
    const QString failed = QStringLiteral("Не удалось переместить файл в Корзину.");
    QFile file(path);
    if (!file.moveToTrash())
        return file.errorString().isEmpty() ? failed : file.errorString();
    // When it cannot make the home trash, Qt 6.4 makes "files" and "info" in the current
    // folder instead and reports success: put the file back and say the trash failed.
    const QFileInfo trashed(file.fileName());
    if (isTrashFolder(trashed.absolutePath()))
        return std::nullopt;
    QFile::remove(QDir(trashed.absolutePath()).filePath(QStringLiteral("../info/")) + trashed.fileName() + QStringLiteral(".trashinfo"));
    QFile::rename(trashed.absoluteFilePath(), path);
    return failed;
}

void revealInFileManager(const QString& path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    // Asked without waiting: starting a file manager can take seconds.
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 5000), qApp);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, path] {
        if (watcher->isError())
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
        watcher->deleteLater();
    });
}

QString revealInFileManagerTitle()
{
    return QStringLiteral("Показать в папке");
}

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString portalSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString appearanceNamespace = QStringLiteral("org.freedesktop.appearance");
const QString colorSchemeKey = QStringLiteral("color-scheme");

// The portal's colour scheme: 1 prefers dark, 2 prefers light, 0 states nothing. Read wraps
// the value in one more variant than SettingChanged does.
std::optional<bool> colorSchemeFrom(QVariant value)
{
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = value.toUInt(&ok);
    if (!ok || (scheme != 1 && scheme != 2))
        return std::nullopt;
    return scheme == 1;
}

} // namespace

// Receives the portal's SettingChanged signal, which QtDBus delivers only to a slot.
class ColorSchemeWatcher : public QObject {
    Q_OBJECT
public:
    ColorSchemeWatcher(QObject* context, std::function<void(std::optional<bool>)> changed)
        : QObject(context)
        , m_changed(std::move(changed))
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            QMetaObject::invokeMethod(this, [this] { m_changed(std::nullopt); }, Qt::QueuedConnection);
            return;
        }
        bus.connect(portalService, portalPath, portalSettings, QStringLiteral("SettingChanged"), this,
                    SLOT(settingChanged(QString, QString, QDBusVariant)));
        QDBusMessage read = QDBusMessage::createMethodCall(portalService, portalPath, portalSettings, QStringLiteral("Read"));
        read << appearanceNamespace << colorSchemeKey;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(read, 3000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            const QDBusPendingReply<QVariant> reply = *watcher;
            m_changed(reply.isError() ? std::nullopt : colorSchemeFrom(reply.value()));
            watcher->deleteLater();
        });
    }

private Q_SLOTS:
    void settingChanged(const QString& group, const QString& key, const QDBusVariant& value)
    {
        if (group == appearanceNamespace && key == colorSchemeKey)
            m_changed(colorSchemeFrom(value.variant()));
    }

private:
    std::function<void(std::optional<bool>)> m_changed;
};

void watchColorScheme(QObject* context, std::function<void(std::optional<bool>)> changed)
{
    new ColorSchemeWatcher(context, std::move(changed));
}

bool animationsEnabled()
{
    // Looked up first: g_settings_new aborts the process on a schema that is not installed.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE) : nullptr;
    if (!schema)
        return true;
    const bool known = g_settings_schema_has_key(schema, "enable-animations");
    g_settings_schema_unref(schema);
    if (!known)
        return true;
    GSettings* settings = g_settings_new("org.gnome.desktop.interface");
    const bool enabled = g_settings_get_boolean(settings, "enable-animations");
    g_object_unref(settings);
    return enabled;
}

} // namespace telmora::platform

#include "linux.moc"
