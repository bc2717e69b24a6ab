#pragma once

#include <QByteArray>
#include <QString>

// The package signature: <package>/_CodeSignature/Manifest lists every file of the package
// (relative path, kind and SHA-256) and _CodeSignature/Signature holds the Ed25519
// signature of that manifest made with the update key.
namespace telmora {

class Ed25519PrivateKey;

// Writes the manifest and signature of `package`, replacing earlier ones.
// Throws UpdateSystemError when a file cannot be read or the signature cannot be written.
void signPackage(const QString& package, const Ed25519PrivateKey& key);

// True only when the signature verifies with `publicKey`, every listed file is present with
// the listed content and kind, and the package holds nothing that is not listed.
// Reads every file: run it off the interface thread.
[[nodiscard]] bool verifyPackageSignature(const QString& package, const QByteArray& publicKey);

} // namespace telmora
