// Version history: the list, metadata ten rows at a time, the automatic continuation for
// an older phone, a sheet closed mid-way and failures.

#include "sandbox.h"
#include "storeaccess.h"

#include "store/store.h"

#include <QCoroTask>
#include <QtTest>

#include <memory>

using namespace telmora;
using namespace telmora::test;

namespace {

const QString email = QString::fromLatin1(SimWorld::sampleEmail);
const AppItem app{QStringLiteral("100000009"), QStringLiteral("Old Timer")};

// Version i (0 = oldest) is "1.i" with id 900000100 + i; `minOS(i)` its minimum.
void addVersions(SimWorld& world, int count, const std::function<QString(int)>& minOS)
{
    world.addApp(app.id, QStringLiteral("com.example.oldtimer"), app.name);
    for (int i = 0; i < count; ++i)
        world.addVersion(app.id, {.id = QString::number(900000100 + i), .display = QStringLiteral("1.%1").arg(i), .minOS = minOS(i)});
}

int filled(const Store& store)
{
    return static_cast<int>(std::count_if(store.versions().cbegin(), store.versions().cend(), [](const VersionRow& row) {
        return row.meta.has_value();
    }));
}

// The rows with metadata are exactly the first `count`.
bool filledInOrder(const Store& store, int count)
{
    for (int i = 0; i < store.versions().size(); ++i) {
        if (store.versions()[i].meta.has_value() != (i < count))
            return false;
    }
    return true;
}

qsizetype metadataRequests()
{
    const QList<QStringList> calls = SimWorld::calls(QStringLiteral("ipatool"));
    return std::count_if(calls.cbegin(), calls.cend(),
                         [](const QStringList& args) { return args.value(0) == QLatin1String("get-version-metadata"); });
}

} // namespace

class VersionsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addAccount(email, QString::fromLatin1(SimWorld::samplePassword), QString::fromLatin1(SimWorld::sampleName));
        SimWorld::signIn(email);
    }

    void cleanup() { m_sandbox.reset(); }

    void detailsComeTenAtATime()
    {
        addVersions(m_sandbox->world, 25, [](int) { return QStringLiteral("15.0"); });
        m_sandbox->world.write();
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);

        store.openVersions(app);
        QCOMPARE(store.versionsApp(), app);
        QVERIFY(store.versionsLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versions().size(), 25);
        QCOMPARE(store.versions().constFirst().id, QStringLiteral("900000124")); // newest first
        QCOMPARE(filled(store), 10);
        QVERIFY(filledInOrder(store, 10));
        const VersionMeta newest = *store.versions().constFirst().meta;
        QCOMPARE(newest.display, QStringLiteral("1.24"));
        QCOMPARE(newest.minOS, QStringLiteral("15.0"));
        QCOMPARE(store.versions()[9].meta->display, QStringLiteral("1.15"));

        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(filled(store), 20);
        QVERIFY(filledInOrder(store, 20));
        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(filled(store), 25);
        QCOMPARE(store.versions().constLast().meta->display, QStringLiteral("1.0"));
        QVERIFY(!store.versionsLoading());
        QCOMPARE(metadataRequests(), 25);

        // Nothing is missing any more: a further press asks for nothing.
        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(metadataRequests(), 25);
        QVERIFY(!store.versionsLoading());
    }

    void continuesUntilTheVersionFits_data()
    {
        QTest::addColumn<QString>("ios");
        QTest::addColumn<int>("newestNeeding17"); // how many of the newest versions need 17.0; older ones need 15.0
        QTest::addColumn<int>("expected");

        QTest::newRow("iOS 15.2, nothing fits: three batches") << QStringLiteral("15.2") << 40 << 30;
        QTest::newRow("iOS 15.2, fits in the second batch") << QStringLiteral("15.2") << 15 << 20;
        QTest::newRow("iOS 17.4, the newest fits") << QStringLiteral("17.4") << 40 << 10;
        QTest::newRow("iOS 17.10 is newer than 17.9") << QStringLiteral("17.10") << 40 << 10;
    }

    void continuesUntilTheVersionFits()
    {
        QFETCH(QString, ios);
        QFETCH(int, newestNeeding17);
        QFETCH(int, expected);
        const int count = 40;
        const QString needed = ios == QLatin1String("17.10") ? QStringLiteral("17.9") : QStringLiteral("17.0");
        addVersions(m_sandbox->world, count, [&](int i) { return i >= count - newestNeeding17 ? needed : QStringLiteral("15.0"); });
        m_sandbox->world.write();
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);
        StoreTestAccess::connectDevice(store, ios);

        store.openVersions(app);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 60000);
        QCOMPARE(filled(store), expected);
        QVERIFY(filledInOrder(store, expected));
    }

    void closingTheSheetWhileListing()
    {
        addVersions(m_sandbox->world, 5, [](int) { return QStringLiteral("15.0"); });
        m_sandbox->world.setTiming(QStringLiteral("command"), 500).write(); // the list takes a second
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);

        store.openVersions(app);
        QVERIFY(store.versionsLoading());
        store.setVersionsApp(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QVERIFY(store.versions().isEmpty());
        QCOMPARE(store.versionsError(), std::nullopt);
        QCOMPARE(metadataRequests(), 0);
    }

    void closingTheSheetWhileDetailsLoad()
    {
        addVersions(m_sandbox->world, 25, [](int) { return QStringLiteral("15.0"); });
        m_sandbox->world.setTiming(QStringLiteral("command"), 100).write();
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);

        store.openVersions(app);
        QTRY_VERIFY_WITH_TIMEOUT(filled(store) >= 1, 30000);
        store.setVersionsApp(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        const int shown = filled(store);
        QVERIFY(shown < 10);
        QVERIFY(metadataRequests() <= shown + 1);
    }

    void listFailures_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("versions");
        QTest::addColumn<QString>("expected");

        QTest::newRow("Error in the output") << QStringLiteral("Error: app not found") << 3
                                             << QStringLiteral("Приложение удалено из App Store или недоступно в стране этого аккаунта.");
        QTest::newRow("no versions") << QString() << 0 << QStringLiteral("Версии не найдены.");
    }

    void listFailures()
    {
        QFETCH(QString, error);
        QFETCH(int, versions);
        QFETCH(QString, expected);
        addVersions(m_sandbox->world, versions, [](int) { return QStringLiteral("15.0"); });
        if (!error.isEmpty())
            m_sandbox->world.addFailure({.command = QStringLiteral("ipatool list-versions"), .error = error});
        m_sandbox->world.write();
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);

        store.openVersions(app);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versionsError(), expected);
        QVERIFY(store.versions().isEmpty());
    }

    // A version whose metadata cannot be read keeps an empty record and is not asked for again.
    void failedMetadataIsNotAskedAgain()
    {
        addVersions(m_sandbox->world, 12, [](int) { return QStringLiteral("15.0"); });
        m_sandbox->world.addFailure({.command = QStringLiteral("ipatool get-version-metadata"), .error = QStringLiteral("something broke"),
                             .version = QStringLiteral("900000110")})
            .write();
        Store store(storeOptions());
        StoreTestAccess::setEmail(store, email);

        store.openVersions(app);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        const VersionRow broken = store.versions()[1];
        QCOMPARE(broken.id, QStringLiteral("900000110"));
        QVERIFY(broken.meta.has_value());
        QCOMPARE(broken.meta->display, std::nullopt);
        QCOMPARE(broken.meta->minOS, std::nullopt);

        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(filled(store), 12);
        QCOMPARE(metadataRequests(), 12);
    }

    void signedOutOpensSignIn()
    {
        m_sandbox->world.write();
        Store store(storeOptions());
        store.openVersions(app);
        QVERIFY(store.showLogin());
        QCOMPARE(store.versionsApp(), std::nullopt);
        QVERIFY(!store.versionsLoading());
    }

private:
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(VersionsTest)
#include "tst_versions.moc"
