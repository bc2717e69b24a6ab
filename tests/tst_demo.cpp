// The demo as a user meets it, driven through the Store: sign in with the demo account and
// its two-factor code, download an app and install it on the simulated iPhone, then pick an
// older version of it from the version history and download that one too.

#include "awaittask.h"
#include "model/ipa.h"
#include "store/store.h"
#include "sandbox.h"

#include <QTest>

using namespace telmora;
using namespace telmora::test;

namespace {
constexpr int patience = 60000;
}

class DemoTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.useDemo();
    }
    void cleanup() { m_sandbox.reset(); }

    void signInDownloadInstallAndPickAnOlderVersion()
    {
        StoreOptions options;
        options.resourcesFolder = QStringLiteral(TELMORA_SOURCE_DIR "/resources");
        Store store(options);

        // Nobody is signed in: the sign-in sheet opens by itself.
        QTRY_VERIFY_WITH_TIMEOUT(store.showLogin(), patience);
        store.login(QStringLiteral("anna@example.com"), QStringLiteral("demo1234"));
        QTRY_COMPARE_WITH_TIMEOUT(store.loginStep().kind, LoginStep::Kind::code, patience);
        store.submitCode(QStringLiteral("123456"));
        QTRY_VERIFY_WITH_TIMEOUT(!store.showLogin(), patience);
        QCOMPARE(store.email(), std::optional<QString>(QStringLiteral("anna@example.com")));

        // The trusted iPhone is found by the polling; the untrusted one is listed but not ready.
        QTRY_VERIFY_WITH_TIMEOUT(store.readyDevice().has_value(), patience);
        QCOMPARE(store.devices().size(), 2);

        const auto telegram = std::find_if(store.catalog().cbegin(), store.catalog().cend(),
                                           [](const AppItem& item) { return item.id == u"686449807"; });
        QVERIFY(telegram != store.catalog().cend());
        const AppItem app = *telegram;
        QCOMPARE(store.situation(app).title, QStringLiteral("Установить"));

        store.perform(*store.situation(app).action, app);
        QTRY_VERIFY_WITH_TIMEOUT(store.file(app.id).has_value() && store.installed().contains(store.file(app.id)->url), patience);
        const IPAFile current = *store.file(app.id);
        QVERIFY(current.info);
        QCOMPARE(store.notice(), std::optional<QString>(QStringLiteral("Установлено на iPhone Анны: ") + current.info->name));
        QCOMPARE(store.situation(app).title, QStringLiteral("Установить снова"));

        // The version history: the first ten rows get their metadata.
        store.openVersions(app);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading() && store.versions().size() > 10, patience);
        QVERIFY(store.versions().at(9).meta.has_value());
        QVERIFY(!store.versions().at(10).meta.has_value());
        const VersionRow older = store.versions().at(5);
        QVERIFY(older.meta && older.meta->display);

        store.enqueue({app}, older.id, older.meta->display, false);
        QTRY_VERIFY_WITH_TIMEOUT(store.jobs().size() == 2 && store.jobs().first().state.kind == Job::State::Kind::done, patience);
        const IPAFile olderFile = *store.file(app.id);
        QVERIFY(olderFile.url != current.url);
        QCOMPARE(olderFile.info->version, *older.meta->display);
        QVERIFY(QFileInfo::exists(current.url)); // a different version keeps its own file
    }
};

QTEST_GUILESS_MAIN(DemoTest)
#include "tst_demo.moc"
