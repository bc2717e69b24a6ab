#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <optional>

// Everything that differs between desktop systems lives behind these functions;
// linux.cpp and macos.cpp are the only sources with platform code.
namespace telmora::platform {

// Process-wide settings made once at start-up, before any other thread runs.
void prepareProcess();

// The application package folder (Telmora.app) and its resource folder.
[[nodiscard]] QString packageFolder();
[[nodiscard]] QString resourcesFolder();

// The system proxy settings as a dictionary with the keys HTTPSEnable, HTTPSProxy,
// HTTPSPort, SOCKSEnable, SOCKSProxy, SOCKSPort; absent when the system has none.
[[nodiscard]] std::optional<QVariantMap> proxySettings();

// Makes a downloaded tool runnable (removes the quarantine mark where there is one).
void clearQuarantine(const QString& path);

// Moves a file to the user's trash; on failure returns the system's description.
[[nodiscard]] std::optional<QString> moveToTrash(const QString& path);

// Shows a file in the file manager (or opens its folder); returns at once.
void revealInFileManager(const QString& path);
// The menu text of that command, named after this desktop's file manager.
[[nodiscard]] QString revealInFileManagerTitle();

// Follows the desktop's preferred colour scheme: `changed` gets true for dark, false for
// light and nothing when the desktop states no preference (or cannot be asked). It is called
// on the interface thread, first with the current answer, until `context` is destroyed.
void watchColorScheme(QObject* context, std::function<void(std::optional<bool>)> changed);

// False when the desktop has turned animations off (reduce motion).
[[nodiscard]] bool animationsEnabled();

} // namespace telmora::platform
