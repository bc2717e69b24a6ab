#include "sandbox.h"
#include "awaittask.h"
#include "httpserver.h"
#include "storeaccess.h"
#include "updatefixture.h"
#include "store/store.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/install.h"
#include "update/publish.h"
#include "update/signature.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace telmora;
using telmora::test::HttpServer;

class UpdateStoreTest : public QObject {
    Q_OBJECT

private:
    std::optional<test::Sandbox> m_sandbox;
    std::unique_ptr<HttpServer> m_server;
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    int m_quitRequests = 0;

    QVariantMap info(bool withKey = true) const
    {
        QVariantMap map{
            {QStringLiteral("TelmoraUpdateFeed"), m_server->url(QStringLiteral("/feed.json")).toString()},
            {QStringLiteral("CFBundleVersion"), QStringLiteral("5")},
            {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("1.0")},
            {QStringLiteral("CFBundleIdentifier"), QStringLiteral("app.telmora.Telmora")},
        };
        if (withKey)
            map.insert(QStringLiteral("TelmoraUpdateKey"), QString::fromLatin1(m_key.rawPublicKey().toBase64()));
        return map;
    }

    std::unique_ptr<Store> makeStore(bool withKey = true, bool autoStart = false)
    {
        StoreOptions options;
        options.resourcesFolder = m_sandbox->filePath(QStringLiteral("apps/Telmora.app/Resources"));
        options.packageFolder = m_sandbox->filePath(QStringLiteral("apps/Telmora.app"));
        options.info = info(withKey);
        options.autoStart = autoStart;
        return std::make_unique<Store>(options);
    }

    // Publishes a signed build 6 ("2.0") and its feed; returns the archive's path.
    QString publish()
    {
        test::PackageSpec spec;
        const QString package = test::makePackage(m_sandbox->filePath(QStringLiteral("release")), spec);
        signPackage(package, m_key);
        const QString archive = m_sandbox->filePath(QStringLiteral("Telmora-2.0.zip"));
        packFolder(package, archive);
        m_server->route(QStringLiteral("/Telmora-2.0.zip"), HttpServer::fileResponse(archive));
        const FeedEntry entry{6, QStringLiteral("2.0"), QStringLiteral("Новое"), QStringLiteral("Telmora-2.0.zip"),
                              QStringLiteral("linux")};
        m_server->route(QStringLiteral("/feed.json"), {.body = makeUpdateFeed(entry, archive, m_key)});
        return archive;
    }

    QStringList workFolders() const
    {
        return QDir(m_sandbox->tempFolder()).entryList({QStringLiteral("telmora-update-*")}, QDir::AllEntries | QDir::NoDotAndDotDot);
    }

private Q_SLOTS:
    void initTestCase()
    {
        setQuitForUpdate([this] { ++m_quitRequests; });
    }

    void init()
    {
        m_sandbox.emplace();
        m_server = std::make_unique<HttpServer>();
        m_quitRequests = 0;
        test::makePackage(m_sandbox->filePath(QStringLiteral("apps")), {.version = QStringLiteral("1.0")});
    }

    void cleanup()
    {
        m_server.reset();
        m_sandbox.reset();
    }

    void manualCheck_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("tampered");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("notice");
        QTest::newRow("newer build") << 200 << false << true << QString();
        QTest::newRow("server error") << 404 << false << false
                                      << QStringLiteral("Не удалось проверить обновления: Сервер обновлений ответил 404.");
        QTest::newRow("tampered feed") << 200 << true << false
                                       << QStringLiteral("Не удалось проверить обновления: Подпись обновления не сходится.");
    }

    void manualCheck()
    {
        QFETCH(int, status);
        QFETCH(bool, tampered);
        QFETCH(bool, offered);
        QFETCH(QString, notice);
        publish();
        if (status != 200)
            m_server->route(QStringLiteral("/feed.json"), {.status = status});
        if (tampered) {
            const QString archive = m_sandbox->filePath(QStringLiteral("Telmora-2.0.zip"));
            const FeedEntry entry{6, QStringLiteral("2.0"), QStringLiteral("Новое"), QStringLiteral("Telmora-2.0.zip"),
                                  QStringLiteral("linux")};
            QByteArray body = makeUpdateFeed(entry, archive, m_key);
            body.replace("Новое", "Новоe"); // one Latin letter
            m_server->route(QStringLiteral("/feed.json"), {.body = body});
        }
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(true));

        QCOMPARE(store->updateOffer().has_value(), offered);
        QCOMPARE(store->updatePhase(), offered ? UpdatePhase::available() : UpdatePhase::idle());
        QCOMPARE(store->showUpdate(), offered);
        QCOMPARE(store->notice(), notice.isEmpty() ? std::nullopt : std::optional<QString>(notice));
        if (offered) {
            QCOMPARE(store->updateOffer()->build, 6);
            QCOMPARE(store->updateOffer()->url, m_server->url(QStringLiteral("/Telmora-2.0.zip")));
        }
    }

    void upToDate()
    {
        publish();
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(true));
        QVERIFY(store->updateOffer());

        // The same feed once this build is current: the offer is withdrawn.
        m_server->route(QStringLiteral("/feed.json"), {.body = "{\"build\": 5, \"linux\": {}}"});
        test::awaitTask(store->checkForUpdates(true));
        QCOMPARE(store->updateOffer(), std::nullopt);
        QCOMPARE(store->updatePhase(), UpdatePhase::idle());
        QCOMPARE(store->notice(), std::optional<QString>(QStringLiteral("Установлена последняя версия: 1.0")));
    }

    void automaticCheckIsSilent()
    {
        publish();
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(false));
        QVERIFY(store->updateOffer());
        QVERIFY(!store->showUpdate()); // only a manual check opens the sheet

        m_server->route(QStringLiteral("/feed.json"), {.status = 500});
        test::awaitTask(store->checkForUpdates(false));
        QCOMPARE(store->notice(), std::nullopt);
        QVERIFY(store->updateOffer()); // a failed check keeps what was known
        QCOMPARE(store->updatePhase(), UpdatePhase::available());
    }

    void unconfiguredCheckDoesNothing()
    {
        publish();
        const auto store = makeStore(false);
        QVERIFY(!store->updateIsConfigured());
        test::awaitTask(store->checkForUpdates(true));
        QCOMPARE(m_server->totalRequestCount(), 0);
        QCOMPARE(store->notice(), std::nullopt);
    }

    void installWaitsForInstalls()
    {
        publish();
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(false));
        StoreTestAccess::setInstalling(*store, QStringLiteral("/somewhere/app.ipa"));
        test::awaitTask(store->installUpdate());
        QCOMPARE(store->updateError(), std::optional<QString>(QStringLiteral("Дождитесь окончания загрузок и установки.")));
        QCOMPARE(store->updatePhase(), UpdatePhase::available());
        QCOMPARE(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 0);
    }

    void installHandsOverToSwap()
    {
        publish();
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(true));
        QVERIFY(store->showUpdate());
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

    void failedInstallKeepsOffer()
    {
        const QString archive = publish();
        QFile file(archive);
        QVERIFY(file.open(QIODevice::ReadWrite));
        file.seek(file.size() / 2);
        const char byte = file.peek(1).at(0);
        file.write(QByteArray(1, static_cast<char>(byte ^ 0x20)));
        file.close();

        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(false));
        test::awaitTask(store->installUpdate());
        QCOMPARE(store->updateError(), std::optional<QString>(QStringLiteral("Файл обновления повреждён.")));
        QCOMPARE(store->updatePhase(), UpdatePhase::available());
        QVERIFY(store->updateOffer());
        QCOMPARE(m_quitRequests, 0);
        QCOMPARE(workFolders(), QStringList());
    }

    void noCheckWhileDownloading()
    {
        publish();
        const auto store = makeStore();
        test::awaitTask(store->checkForUpdates(false));
        m_server->route(QStringLiteral("/Telmora-2.0.zip"), {.hang = true});
        auto install = store->installUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 1, 30000);
        QCOMPARE(store->updatePhase().kind, UpdatePhase::Downloading);

        const int feedRequests = m_server->requestCount(QStringLiteral("/feed.json"));
        test::awaitTask(store->checkForUpdates(true));
        QCOMPARE(m_server->requestCount(QStringLiteral("/feed.json")), feedRequests);
        QCOMPARE(store->notice(), std::nullopt);
        test::awaitTask(store->installUpdate()); // a second install is ignored as well
        QCOMPARE(m_server->requestCount(QStringLiteral("/Telmora-2.0.zip")), 1);

        // The server goes away mid-download: a network failure, and the offer stays.
        m_server.reset();
        QTRY_COMPARE_WITH_TIMEOUT(store->updatePhase(), UpdatePhase::available(), 30000);
        QVERIFY(store->updateError());
        QCOMPARE(workFolders(), QStringList());
    }

    void failedSwapReportedOnceAtStart()
    {
        m_sandbox->world.addSample().write();
        test::SimWorld::signIn(QString::fromLatin1(test::SimWorld::sampleEmail));
        const QString marker = QDir(m_sandbox->dataFolder()).filePath(QStringLiteral("update-failed"));
        QVERIFY(QDir().mkpath(m_sandbox->dataFolder()));
        QVERIFY(QFile(marker).open(QIODevice::WriteOnly)); // as the swap script leaves it

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
