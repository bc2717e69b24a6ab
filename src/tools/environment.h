#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace telmora {

// The proxy address a child should use, from a system proxy settings dictionary
// (keys HTTPSEnable/HTTPSProxy/HTTPSPort, SOCKSEnable/SOCKSProxy/SOCKSPort):
// an enabled HTTPS proxy first ("http://host:port"), then SOCKS ("socks5h://host:port").
// Enable flags and ports must be integers (text "1" does not count), hosts text.
[[nodiscard]] std::optional<QString> systemProxy(const std::optional<QVariantMap>& settings);

// The same rules on the system's current settings.
[[nodiscard]] std::optional<QString> systemProxy();

// The environment of every child tool: the application's own environment, plus the
// system proxy as https_proxy and http_proxy unless the user set HTTPS_PROXY,
// https_proxy, ALL_PROXY or all_proxy. Built afresh for every child.
[[nodiscard]] QProcessEnvironment toolEnvironment();

// The rules of toolEnvironment() on a given environment; `systemProxy` is asked only
// when no user proxy is set.
[[nodiscard]] QProcessEnvironment toolEnvironment(QProcessEnvironment base,
                                                  const std::function<std::optional<QString>()>& systemProxy);

// Tests only: the settings dictionary systemProxy() reads instead of the desktop's;
// an empty function restores the desktop.
void setProxySettingsSourceForTesting(std::function<std::optional<QVariantMap>()> source);

} // namespace telmora
