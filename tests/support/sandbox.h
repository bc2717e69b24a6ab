#pragma once

#include "files.h"
#include "simworld.h"
#include "store/store.h"
#include "tools/bin.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace telmora::test {

// HOME, the XDG folders and TMPDIR in a fresh temporary folder, the simulated tools selected
// (Bin and CRVEL_BIN_DIR), and an empty world for them; all undone when it goes.
class Sandbox {
public:
    Sandbox()
    {
        for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DOWNLOAD_DIR", "XDG_STATE_HOME"})
            qunsetenv(name);
        QDir().mkpath(tempFolder());
        qputenv("HOME", QFile::encodeName(path()));
        qputenv("TMPDIR", QFile::encodeName(tempFolder()));
        qputenv("CRVEL_BIN_DIR", QByteArrayLiteral(TELMORA_SIM_BIN_DIR));
        Bin::setDirForTesting(QStringLiteral(TELMORA_SIM_BIN_DIR));
    }
    ~Sandbox() { Bin::setDirForTesting(std::nullopt); }

    [[nodiscard]] QString path() const { return m_dir.path(); }
    [[nodiscard]] QString filePath(const QString& relative) const { return m_dir.filePath(relative); }
    // Where the Store keeps downloads and its own data under this home; TMPDIR.
    [[nodiscard]] QString downloadsFolder() const { return filePath(QStringLiteral("Downloads/Telmora")); }
    [[nodiscard]] QString dataFolder() const { return filePath(QStringLiteral(".local/share/Telmora")); }
    [[nodiscard]] QString tempFolder() const { return filePath(QStringLiteral("tmp")); }

private:
    SavedEnvironment m_saved{{"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DOWNLOAD_DIR",
                              "XDG_STATE_HOME", "TMPDIR", "CRVEL_BIN_DIR"}};
    QTemporaryDir m_dir;

public:
    SimWorld world; // after m_dir: gone before the home is
};

// A Store that starts nothing by itself; the catalog from `resources` (the shipped one when empty).
inline StoreOptions storeOptions(const QUrl& lookupURL = {}, const QString& resources = {})
{
    StoreOptions options;
    options.resourcesFolder = resources.isEmpty() ? QStringLiteral(TELMORA_SOURCE_DIR "/resources") : resources;
    options.autoStart = false;
    if (lookupURL.isValid())
        options.lookupURL = lookupURL;
    return options;
}

// Waits until the sign-in sheet is closed or shows a failure.
inline bool waitForSignInEnd(const Store& store, int timeout = 30000)
{
    return QTest::qWaitFor([&store] { return !store.showLogin() || store.loginStep().kind == LoginStep::Kind::failed; },
                           timeout);
}

// Signs in through the sheet as a user would (typing the code when one is given); true
// once `email` is the active account.
inline bool signIn(Store& store, const QString& email, const QString& password, const QString& code = {},
                   bool adding = false)
{
    store.beginLogin(QString(), adding);
    store.login(email, password);
    if (!code.isEmpty() && !QTest::qWaitFor([&store] { return store.loginStep() == LoginStep::code(); }, 30000))
        return false;
    if (!code.isEmpty())
        store.submitCode(code);
    return waitForSignInEnd(store) && !store.showLogin() && store.email() == email;
}

} // namespace telmora::test
