// Version history: the list, metadata ten rows at a time, the automatic continuation for
// an older phone, a sheet closed mid-way and failures.
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;

namespace {

const QString email = QString::fromLatin1(SimWorld::sampleEmail);
const AppItem app{u"100000009"_s, u"Old Timer"_s};

int filled(const Store& store)
{
    return int(std::count_if(store.versions().cbegin(), store.versions().cend(), [](const VersionRow& row) { return row.meta.has_value(); }));
}

// The rows with metadata are exactly the first `count`.
bool filledInOrder(const Store& store, int count)
{
    for (int i = 0; i < store.versions().size(); ++i) {
        if (store.versions()[i].meta.has_value() != (i < count))
            return false;
    }
    return filled(store) == count;
}

qsizetype metadataRequests()
{
    const QList<QStringList> calls = SimWorld::calls(u"ipatool"_s);
    return std::count_if(calls.cbegin(), calls.cend(), [](const QStringList& args) { return args.value(0) == u"get-version-metadata"; });
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

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void detailsComeTenAtATime()
    {
        Store& store = opened(25);
        QCOMPARE(store.versionsApp(), app);
        QVERIFY(store.versionsLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versions().size(), 25);
        QCOMPARE(store.versions().constFirst().id, u"900000124"_s); // newest first
        QVERIFY(filledInOrder(store, 10));
        QCOMPARE(store.versions().constFirst().meta->display, u"1.24"_s);
        QCOMPARE(store.versions().constFirst().meta->minOS, u"15.0"_s);
        QCOMPARE(store.versions()[9].meta->display, u"1.15"_s);

        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QVERIFY(filledInOrder(store, 20));
        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QVERIFY(filledInOrder(store, 25));
        QCOMPARE(store.versions().constLast().meta->display, u"1.0"_s);
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
        QTest::addColumn<int>("newestNeeding17"); // of 40: how many of the newest need 17.0 (17.9 on 17.10); older ones need 15.0
        QTest::addColumn<int>("expected");
        QTest::newRow("iOS 15.2, nothing fits: three batches") << u"15.2"_s << 40 << 30;
        QTest::newRow("iOS 15.2, fits in the second batch") << u"15.2"_s << 15 << 20;
        QTest::newRow("iOS 17.4, the newest fits") << u"17.4"_s << 40 << 10;
        QTest::newRow("iOS 17.10 is newer than 17.9") << u"17.10"_s << 40 << 10;
    }

    void continuesUntilTheVersionFits()
    {
        QFETCH(QString, ios);
        QFETCH(int, newestNeeding17);
        QFETCH(int, expected);
        const QString needed = ios == u"17.10" ? u"17.9"_s : u"17.0"_s;
        Store& store = opened(40, [&](int i) { return i >= 40 - newestNeeding17 ? needed : u"15.0"_s; }, ios);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 60000);
        QVERIFY2(filledInOrder(store, expected), qPrintable(QString::number(filled(store))));
    }

    void closingTheSheetWhileListing()
    {
        m_sandbox->world.setTiming(u"command"_s, 500); // the list takes a second
        Store& store = opened(5);
        QVERIFY(store.versionsLoading());
        store.setVersionsApp(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QVERIFY(store.versions().isEmpty());
        QCOMPARE(store.versionsError(), std::nullopt);
        QCOMPARE(metadataRequests(), 0);
    }

    void closingTheSheetWhileDetailsLoad()
    {
        m_sandbox->world.setTiming(u"command"_s, 100);
        Store& store = opened(25);
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
        QTest::newRow("Error in the output") << u"Error: app not found"_s << 3
                                             << u"Приложение удалено из App Store или недоступно в стране этого аккаунта."_s;
        QTest::newRow("no versions") << QString() << 0 << u"Версии не найдены."_s;
    }

    void listFailures()
    {
        QFETCH(QString, error);
        QFETCH(int, versions);
        QFETCH(QString, expected);
        if (!error.isEmpty())
            m_sandbox->world.addFailure({.command = u"ipatool list-versions"_s, .error = error});
        Store& store = opened(versions);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versionsError(), expected);
        QVERIFY(store.versions().isEmpty());
    }

    // A version whose metadata cannot be read keeps an empty record and is not asked for again.
    void failedMetadataIsNotAskedAgain()
    {
        m_sandbox->world.addFailure({.command = u"ipatool get-version-metadata"_s, .error = u"something broke"_s, .version = u"900000110"_s});
        Store& store = opened(12);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        const VersionRow broken = store.versions()[1];
        QCOMPARE(broken.id, u"900000110"_s);
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
    // Jane's Store opening the versions of `app`, which has `count` versions: version i
    // (0 = oldest) is "1.i" with id 900000100 + i and needs iOS `minOS(i)`; the phone on `ios`.
    Store& opened(int count, const std::function<QString(int)>& minOS = [](int) { return u"15.0"_s; }, const QString& ios = {})
    {
        m_sandbox->world.addApp(app.id, u"com.example.oldtimer"_s, app.name);
        for (int i = 0; i < count; ++i)
            m_sandbox->world.addVersion(app.id, {.id = QString::number(900000100 + i), .display = u"1.%1"_s.arg(i), .minOS = minOS(i)});
        m_sandbox->world.write();
        m_store = std::make_unique<Store>(storeOptions());
        StoreTestAccess::setEmail(*m_store, email);
        if (!ios.isEmpty())
            StoreTestAccess::connectDevice(*m_store, ios);
        m_store->openVersions(app);
        return *m_store;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(VersionsTest)
#include "tst_versions.moc"
