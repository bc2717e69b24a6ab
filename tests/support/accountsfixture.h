#pragma once

// Helpers for Store tests of sign-in, search and purchases. Header-only: the test's own
// compile definitions (TELMORA_SOURCE_DIR, TELMORA_SIM_BIN_DIR) are used.

#include "store/store.h"
#include "tools/bin.h"

#include <QTest>
#include <QUrl>

namespace telmora::test {

// Every tool of this test process comes from the simulators.
inline void useSimulatedTools()
{
    qputenv("CRVEL_BIN_DIR", QByteArrayLiteral(TELMORA_SIM_BIN_DIR));
    Bin::setDirForTesting(QStringLiteral(TELMORA_SIM_BIN_DIR));
}

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
    if (!code.isEmpty()) {
        if (!QTest::qWaitFor([&store] { return store.loginStep() == LoginStep::code(); }, 30000))
            return false;
        store.submitCode(code);
    }
    return waitForSignInEnd(store) && !store.showLogin() && store.email() == email;
}

} // namespace telmora::test
