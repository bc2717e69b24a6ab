#include "awaittask.h"
#include "httpserver.h"
#include "sandbox.h"
#include "storeaccess.h"
#include "updatefixture.h"
#include "store/store.h"
#include "update/archive.h"
#include "update/install.h"
#include "update/publish.h"
#include "update/signature.h"

#include <QDir>
#include <QTest>

using namespace telmora;
using telmora::test::HttpServer;

class UpdateStoreTest : public QObject {
    Q_OBJECT

private:
    std::optional<test::Sandbox> m_sandbox;
    std::unique_ptr<HttpServer> m_server;
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    int m_quitRequests = 0;

    // The running build 5 ("1.0") in apps/Telmora.app, updating itself when it has the key.
    std::unique_ptr<Store> makeStore(bool withKey = true, bool autoStart = false)
    {
        StoreOptions options;
        options.resourcesFolder = m_sandbox->filePath(QStringLiteral("apps/Telmora.app/Resources"));
        options.packageFolder = m_sandbox->filePath(QStringLiteral("apps/Telmora.app"));
        options.info = {{QStringLiteral("TelmoraUpdateFeed"), m_server->url(QStringLiteral("/feed.json")).toString()},
                        {QStringLiteral("CFBundleVersion"), QStringLiteral("5")},
                        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
                        {QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.telmora.Telmora")}};
        if (withKey)
            options.info.insert(QStringLiteral("TelmoraUpdateKey"), QString::fromLatin1(m_key.rawPublicKey().toBase64()));
        options.autoStart = autoStart;
        return std::make_unique<Store>(options);
    }

    QStringList workFolders() const
    {
        return QDir(m_sandbox->tempFolder()).entryList({QStringLiteral("telmora-update-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    static void check(Store& store, bool manual) { test::awaitTask(store.checkForUpdates(manual)); }

private Q_SLOTS:
    // The running build in apps/, and a signed build 6 ("2.0") with its feed on the server.
    void init()
    {
        setQuitForUpdate([this] { ++m_quitRequests; });
        m_quitRequests = 0;
        m_server = std::make_unique<HttpServer>();
        m_sandbox.emplace();
        test::makePackage(m_sandbox->filePath(QStringLiteral("apps")), {.version = QStringLiteral("1.0")});
        const QString package = test::makePackage(m_sandbox->filePath(QStringLiteral("release")));
        signPackage(package, m_key);
        const QString archive = m_sandbox->filePath(QStringLiteral("Telmora-2.0.zip"));
        packFolder(package, archive);
        m_server->route(QStringLiteral("/Telmora-2.0.zip"), HttpServer::fileResponse(archive));
        const FeedEntry entry{6, QStringLiteral("2.0"), QStringLiteral("Новое"), QStringLiteral("Telmora-2.0.zip"), QStringLiteral("linux")};
        m_server->route(QStringLiteral("/feed.json"), {.body = makeUpdateFeed(entry, archive, m_key)});
    }

    void checks()
    {
        const auto unconfigured = makeStore(false);
        QVERIFY(!unconfigured->updateIsConfigured());
        check(*unconfigured, true);
        QCOMPARE(m_server->totalRequestCount(), 0);
        QCOMPARE(unconfigured->notice(), std::nullopt);

        // A manual check opens the sheet on a newer build.
        const auto store = makeStore();
        check(*store, true);
        QCOMPARE(store->updatePhase(), UpdatePhase::available());
        QVERIFY(store->showUpdate());
        QCOMPARE(store->notice(), std::nullopt);
        QCOMPARE(store->updateOffer().value_or(UpdateOffer()).build, 6);
        QCOMPARE(store->updateOffer()->url, m_server->url(QStringLiteral("/Telmora-2.0.zip")));

        // An automatic one is silent, failing or not; a failed check keeps what was known.
        const auto quiet = makeStore();
        check(*quiet, false);
        QVERIFY(quiet->updateOffer());
        QVERIFY(!quiet->showUpdate());
        m_server->route(QStringLiteral("/feed.json"), {.status = 404});
        check(*quiet, false);
        QCOMPARE(quiet->notice(), std::nullopt);
        check(*quiet, true);
        QCOMPARE(quiet->notice(), QStringLiteral("Не удалось проверить обновления: Сервер обновлений ответил 404."));
        QVERIFY(quiet->updateOffer());
        QCOMPARE(quiet->updatePhase(), UpdatePhase::available());
        QVERIFY(!quiet->showUpdate());

        // Once this build is current the offer is withdrawn.
        m_server->route(QStringLiteral("/feed.json"), {.body = "{\"build\": 5, \"linux\": {}}"});
        check(*quiet, true);
        QCOMPARE(quiet->updateOffer(), std::nullopt);
        QCOMPARE(quiet->updatePhase(), UpdatePhase::idle());
        QCOMPARE(quiet->notice(), QStringLiteral("Установлена последняя версия: 1.0"));
    }

    void installHandsOverToSwap()
    {
        const auto store = makeStore();
        check(*store, true);
        // Not while a package goes to a device.
        StoreTestAccess::setInstalling(*store, QStringLiteral("/somewhere/app.ipa"));
        test::awaitTask(store->installUpdate());
        QCOMPARE(store->updateError(), QStringLiteral("Дождитесь окончания загрузок и установки."));
        QCOMPARE(store->updatePhase(), UpdatePhase::available());
        QCOMPARE(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 0);

        StoreTestAccess::setInstalling(*store, std::nullopt);
        QList<UpdatePhase> phases;
        connect(store.get(), &Store::updatePhaseChanged, this, [&] { phases.append(store->updatePhase()); });
        test::awaitTask(store->installUpdate());
        QCOMPARE(m_quitRequests, 1);
        QVERIFY(!store->showUpdate());
        QCOMPARE(store->updateError(), std::nullopt);
        QVERIFY(phases.size() >= 2);
        QCOMPARE(phases.first(), UpdatePhase::downloading(0));
        QCOMPARE(phases.last(), UpdatePhase::installing());
        // The verified package waits in its work folder for the script.
        const QStringList work = workFolders();
        QCOMPARE(work.size(), 1);
        QVERIFY(QFileInfo::exists(QDir(m_sandbox->tempFolder()).filePath(work.constFirst() + QStringLiteral("/Telmora.app/telmora"))));
    }

    void busyWhileDownloading()
    {
        const auto store = makeStore();
        check(*store, false);
        m_server->route(QStringLiteral("/Telmora-2.0.zip"), {.hang = true});
        auto install = store->installUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 1, 30000);
        QCOMPARE(store->updatePhase().kind, UpdatePhase::Downloading);

        // Neither a check nor a second install starts meanwhile.
        check(*store, true);
        QCOMPARE(m_server->requestCount(QStringLiteral("/feed.json")), 1);
        QCOMPARE(store->notice(), std::nullopt);
        test::awaitTask(store->installUpdate());
        QCOMPARE(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 1);

        // The server goes away mid-download: the failure is shown, the offer stays, nothing is left.
        m_server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(store->updatePhase(), UpdatePhase::available(), 30000);
        QVERIFY(!store->updateError().value_or(QString()).isEmpty());
        QVERIFY(store->updateOffer());
        QCOMPARE(m_quitRequests, 0);
        QCOMPARE(workFolders(), QStringList());
    }

    void failedSwapReportedOnceAtStart()
    {
        m_sandbox->world.addSample().write();
        test::SimWorld::signIn(QString::fromLatin1(test::SimWorld::sampleEmail));
        const QString marker = QDir(m_sandbox->dataFolder()).filePath(QStringLiteral("update-failed"));
        QVERIFY(test::writeFile(marker, {})); // as the swap script leaves it

        const QString report = QStringLiteral(
            "Обновление не установилось: система не дала заменить приложение. Скачайте новую версию на telmora.app.");
        {
            const auto store = makeStore(false, true);
            QTRY_COMPARE_WITH_TIMEOUT(store->notice(), std::optional<QString>(report), 30000);
            QVERIFY(!QFileInfo::exists(marker));
        }
        // The next start has nothing to report; device polling begins right after the report.
        const auto again = makeStore(false, true);
        QTRY_VERIFY_WITH_TIMEOUT(!again->devices().isEmpty(), 30000);
        QCOMPARE(again->notice(), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(UpdateStoreTest)
#include "tst_update_store.moc"
