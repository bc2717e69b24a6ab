#include "tools/environment.h"

#include "platform/platform.h"

#include <QMutex>

namespace telmora {

namespace {

QMutex sourceMutex;
std::function<std::optional<QVariantMap>()> settingsSourceForTesting;

bool isInteger(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

// "scheme + host:port" when <prefix>Enable is the integer 1, <prefix>Proxy text and
// <prefix>Port an integer; absent otherwise.
std::optional<QString> enabledProxy(const QVariantMap& settings, const QString& prefix, const QString& scheme)
{
    const QVariant enabled = settings.value(prefix + QStringLiteral("Enable"));
    const QVariant host = settings.value(prefix + QStringLiteral("Proxy"));
    const QVariant port = settings.value(prefix + QStringLiteral("Port"));
    if (!isInteger(enabled) || enabled.toLongLong() != 1 || !isText(host) || !isInteger(port))
        return std::nullopt;
    const QString portText = port.typeId() == QMetaType::ULongLong || port.typeId() == QMetaType::ULong
        ? QString::number(port.toULongLong())
        : QString::number(port.toLongLong());
    return scheme + host.toString() + u':' + portText;
}

} // namespace

std::optional<QString> systemProxy(const std::optional<QVariantMap>& settings)
{
    if (!settings)
        return std::nullopt;
    if (auto https = enabledProxy(*settings, QStringLiteral("HTTPS"), QStringLiteral("http://")))
        return https;
    return enabledProxy(*settings, QStringLiteral("SOCKS"), QStringLiteral("socks5h://"));
}

std::optional<QString> systemProxy()
{
    std::function<std::optional<QVariantMap>()> source;
    {
        const QMutexLocker lock(&sourceMutex);
        source = settingsSourceForTesting;
    }
    return systemProxy(source ? source() : platform::proxySettings());
}

QProcessEnvironment toolEnvironment(QProcessEnvironment base,
                                    const std::function<std::optional<QString>()>& systemProxy)
{
    // A proxy the user set in the environment always wins. http_proxy alone does not
    // count: the tools talk HTTPS.
    static const char* const userProxies[] = {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"};
    for (const char* name : userProxies) {
        if (!base.value(QString::fromLatin1(name)).isEmpty())
            return base;
    }
    if (const std::optional<QString> proxy = systemProxy()) {
        base.insert(QStringLiteral("https_proxy"), *proxy);
        base.insert(QStringLiteral("http_proxy"), *proxy);
    }
    return base;
}

QProcessEnvironment toolEnvironment()
{
    return toolEnvironment(QProcessEnvironment::systemEnvironment(), [] { return systemProxy(); });
}

void setProxySettingsSourceForTesting(std::function<std::optional<QVariantMap>()> source)
{
    const QMutexLocker lock(&sourceMutex);
    settingsSourceForTesting = std::move(source);
}

} // namespace telmora
