#pragma once

#include "update/feed.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QCoroTask>
#include <QString>
#include <functional>
#include <optional>

class QNetworkAccessManager;

// Downloading, checking and swapping in a new build of the application package.
namespace telmora {

// A fresh folder location "telmora-update-<uuid>" in the system's temporary folder (not created).
[[nodiscard]] QString newUpdateWorkFolder();

// CFBundleIdentifier of a package's Resources/Info.plist (XML or binary); absent when
// the file or the key is missing or unreadable.
[[nodiscard]] std::optional<QString> bundleIdentifier(const QString& package);

// Downloads the offered archive, proves it is the signed one (size, then SHA-256), unpacks
// it into `workFolder` and returns the first ".app" entry there, after checking its bundle
// identifier against `bundleID` and its package signature against `publicKey` (the running
// package's update key). `onProgress` gets download fractions 0…1 on the interface thread.
// The downloaded file is always removed; hashing, unpacking and the signature check run on
// worker threads. Throws UpdateError, or UpdateSystemError for network and file-system
// failures. `network` must outlive the task.
[[nodiscard]] QCoro::Task<QString> prepareUpdate(UpdateOffer offer, QString bundleID, QString workFolder,
                                                 QByteArray publicKey, std::function<void(double)> onProgress,
                                                 QNetworkAccessManager& network);

// The shell script that replaces the package once the running process has exited.
[[nodiscard]] QString swapScript();

// Starts the swap script, detached, with null standard streams: it waits for `waitForPid`
// to exit, moves `target` aside, moves `newApp` in, starts `target`/telmora and removes
// `workFolder`; when the replacement fails it puts the old package back and creates
// `failureMarker`. Throws UpdateError::notWritable when the folder holding `target` is not
// writable (nothing is started then), UpdateSystemError when the shell cannot be started.
void launchSwapHelper(const QString& newApp, const QString& target, const QString& workFolder,
                      const QString& failureMarker, qint64 waitForPid = QCoreApplication::applicationPid());

// Hands over to the swap script: asks the application to quit normally and, if the process
// is still alive 2 seconds later, exits with status 0.
void quitForUpdate();
// Replaces what quitForUpdate does (tests must not end their own process); an empty
// function restores the default.
void setQuitForUpdate(std::function<void()> quit);

} // namespace telmora
