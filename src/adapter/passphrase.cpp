#include "adapter/passphrase.h"

#include "adapter/session.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <libsecret/secret.h>

#include <array>

#include <fcntl.h>
#include <unistd.h>

namespace telmora::adapter {

namespace {

const SecretSchema* schema()
{
    static const SecretSchema value = {
        "app.telmora.Telmora.IpatoolPassphrase",
        SECRET_SCHEMA_NONE,
        {{"purpose", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &value;
}

constexpr const char* purpose = "ipatool keychain";

QString passphraseFile()
{
    return QDir(dataFolder()).filePath(QStringLiteral("ipatool-passphrase"));
}

QString generate()
{
    std::array<quint32, 8> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char*>(words.data()), sizeof words);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// libsecret would start a session bus of its own when none runs, or wait for one: it is
// asked only when the desktop's bus can be found.
bool sessionBusExists()
{
    if (!qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").isEmpty())
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(QDir(runtime).filePath(QStringLiteral("bus")));
}

// Absent when the Secret Service cannot be asked; an empty text when it holds nothing.
std::optional<QString> lookUpSecret()
{
    GError* error = nullptr;
    gchar* secret = secret_password_lookup_sync(schema(), nullptr, &error, "purpose", purpose, nullptr);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    const QString value = secret ? QString::fromUtf8(secret) : QString();
    secret_password_free(secret);
    return value;
}

bool storeSecret(const QString& value)
{
    GError* error = nullptr;
    const QByteArray utf8 = value.toUtf8();
    const gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, "Telmora: ipatool keychain",
                                                       utf8.constData(), nullptr, &error, "purpose", purpose, nullptr);
    if (error)
        g_error_free(error);
    return stored;
}

QString readFile()
{
    QFile file(passphraseFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// Written as a new file with mode 0600 and renamed into place: never readable by others,
// not even for a moment.
bool writeFile(const QString& value, QString* error)
{
    QDir().mkpath(dataFolder());
    const QByteArray path = QFile::encodeName(passphraseFile());
    const QByteArray temporary = path + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const QByteArray bytes = value.toUtf8() + '\n';
    const bool written = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    if (fd >= 0)
        ::close(fd);
    if (!written || ::rename(temporary.constData(), path.constData()) != 0) {
        ::unlink(temporary.constData());
        *error = QStringLiteral("Не удалось сохранить ключ хранилища ipatool в %1.").arg(passphraseFile());
        return false;
    }
    return true;
}

} // namespace

std::optional<QString> keychainPassphrase(QString* error)
{
    if (const QString stored = readFile(); !stored.isEmpty())
        return stored;
    if (sessionBusExists()) {
        if (const std::optional<QString> secret = lookUpSecret()) {
            if (!secret->isEmpty())
                return *secret;
            const QString made = generate();
            if (storeSecret(made))
                return made;
        }
    }
    const QString made = generate();
    if (!writeFile(made, error))
        return std::nullopt;
    return made;
}

} // namespace telmora::adapter
