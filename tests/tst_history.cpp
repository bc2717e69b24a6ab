// Histories: purchases (loads, merge and order, the per-account cache) and versions (the list, its metadata, failures).
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;

namespace {

const QString jane = QString::fromLatin1(SimWorld::sampleEmail);

// "id" or "id@date" (a date already in day.month.year form, or anything else).
QList<AppItem> items(const QStringList& specs)
{
    QList<AppItem> list;
    for (const QString& spec : specs)
        list.append({.id = spec.section(u'@', 0, 0), .purchaseDate = spec.contains(u'@') ? std::optional(spec.section(u'@', 1)) : std::nullopt});
    return list;
}

QStringList specs(const QList<AppItem>& list)
{
    QStringList result;
    for (const AppItem& item : list)
        result.append(item.purchaseDate ? item.id + u'@' + *item.purchaseDate : item.id);
    return result;
}

// The runs of `ipatool command`, oldest first.
QStringList ipatool(const QString& command)
{
    QStringList runs;
    for (const QStringList& call : SimWorld::calls(u"ipatool"_s))
        if (call.value(0) == command)
            runs.append(call.join(u' '));
    return runs;
}
QString lastPurchaseCall() { return ipatool(u"list-purchases"_s).value(ipatool(u"list-purchases"_s).size() - 1); }
qsizetype metadataRequests() { return ipatool(u"get-version-metadata"_s).size(); }

QStringList cacheFiles(const QString& dataFolder) { return QDir(dataFolder).entryList({u"purchases-*"_s}, QDir::Files | QDir::Hidden); }

const AppItem app{u"100000009"_s, u"Old Timer"_s};

// How many rows have metadata; -1 unless they are the first ones.
int filled(const Store& store)
{
    const QList<VersionRow>& rows = store.versions();
    const auto end = std::find_if(rows.cbegin(), rows.cend(), [](const VersionRow& row) { return !row.meta; });
    return std::any_of(end, rows.cend(), [](const VersionRow& row) { return row.meta.has_value(); }) ? -1 : int(end - rows.cbegin());
}

} // namespace

class HistoryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample().write();
    }

    void cleanup() { m_store.reset(); m_sandbox.reset(); }

    void mergeKeepsFreshRecordsAndOrdersByDate_data()
    {
        QTest::addColumn<QStringList>("known");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<bool>("recent");
        QTest::addColumn<QStringList>("merged");
        QTest::newRow("recent years replace and keep the rest")
            << QStringList{"1@01.02.2024", "2@12.03.2023", "3@05.03.2021"} << QStringList{"1@05.06.2024", "4@01.01.2024"} << true
            << QStringList{"1@05.06.2024", "4@01.01.2024", "2@12.03.2023", "3@05.03.2021"};
        QTest::newRow("recent years listing nothing keeps everything")
            << QStringList{"1@01.02.2024", "2@12.03.2023"} << QStringList{} << true << QStringList{"1@01.02.2024", "2@12.03.2023"};
        QTest::newRow("whole history replaces") << QStringList{"1@01.02.2024", "2@12.03.2023"} << QStringList{"5@01.01.2020"} << false
                                                << QStringList{"5@01.01.2020"};
        QTest::newRow("undated last, in the order received")
            << QStringList{} << QStringList{"7@2021-03-05", "8@31.12.2019", "9", "6@01.01.2022"} << false
            << QStringList{"6@01.01.2022", "8@31.12.2019", "7@2021-03-05", "9"};
        QTest::newRow("equal dates keep the joined order")
            << QStringList{"3@01.01.2023", "4@01.01.2023"} << QStringList{"2@01.01.2023", "1@01.01.2023"} << true
            << QStringList{"2@01.01.2023", "1@01.01.2023", "3@01.01.2023", "4@01.01.2023"};
    }

    void mergeKeepsFreshRecordsAndOrdersByDate()
    {
        QFETCH(QStringList, known);
        QFETCH(QStringList, listed);
        QFETCH(bool, recent);
        QTEST(specs(mergePurchases(items(known), items(listed), recent)), "merged");
    }

    void wholeHistoryThenRecentYearsThenCache()
    {
        Store& store = signedIn();
        // Nothing known yet: "Новые покупки" lists the whole history.
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(lastPurchaseCall(), u"list-purchases --all"_s);
        QCOMPARE(specs(store.purchases()), (QStringList{"100000002@01.02.2024", "100000001@05.03.2021"}));
        QCOMPARE(store.purchases().constFirst().name, u"Maps Plus"_s);
        QVERIFY(!store.purchasesLoading());
        QVERIFY(!store.purchasesError());

        // A new purchase this year: only the newest year is listed and merged in.
        m_sandbox->world.addPurchase(jane, u"100000004"_s, u"Free Game"_s, QDate(2024, 5, 1)).write();
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(lastPurchaseCall(), u"list-purchases --since-year 2024"_s);
        QCOMPARE(specs(store.purchases()), (QStringList{"100000004@01.05.2024", "100000002@01.02.2024", "100000001@05.03.2021"}));
        QCoro::waitFor(store.loadPurchases(true));
        QCOMPARE(lastPurchaseCall(), u"list-purchases --all"_s);

        // The cache, under the plain e-mail, gives a new start exactly the shown list.
        QCOMPARE(cacheFiles(store.dataFolder()), QStringList{u"purchases-jane@example.com.json"_s});
        Store again(storeOptions());
        QCoro::waitFor(again.checkAuth(false));
        QCOMPARE(again.purchases(), store.purchases());
        QVERIFY(!writePurchasesCache(m_sandbox->filePath(u"missing/folder/cache.json"_s), store.purchases()));
    }

    void unsafeAddressGetsNoCacheFile_data()
    {
        QTest::addColumn<QString>("email");
        QTest::newRow("two dots") << "john..doe@example.com";
        QTest::newRow("a slash") << "ops/team@example.com";
        QTest::newRow("climbing out") << "../../escape@example.com";
    }

    void unsafeAddressGetsNoCacheFile()
    {
        QFETCH(QString, email);
        m_sandbox->world.addAccount(email, u"pw"_s, u"Someone"_s).addPurchase(email, u"100000001"_s, u"Notes Pro"_s, QDate(2022, 7, 1)).write();
        Store& store = signedIn(email);
        QCOMPARE(store.email(), email);
        QCoro::waitFor(store.loadPurchases(true));
        QCOMPARE(specs(store.purchases()), QStringList{"100000001@01.07.2022"});
        QVERIFY(cacheFiles(store.dataFolder()).isEmpty());
        for (const QFileInfo& file : QFileInfo(store.dataFolder()).dir().entryInfoList(QDir::Files | QDir::Hidden))
            QVERIFY2(!file.fileName().endsWith(u".json"_s), qPrintable(file.filePath()));
        QVERIFY(!QFile::exists(m_sandbox->path() + u"/escape@example.com.json"_s));
    }

    // The shown list and its cache stay; a lost session opens the sign-in sheet instead of a message.
    void failedLoadKeepsTheList_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("network") << "Timeout was reached" << "Нет связи с серверами Apple. Проверьте интернет или VPN.";
        QTest::newRow("session expired") << "session expired" << QString();
        QTest::newRow("only these capitals mean a lost session") << "Session Expired" << "Сессия истекла. Войдите в аккаунт снова.";
        QTest::newRow("no session at all") << QString() << QString();
    }

    void failedLoadKeepsTheList()
    {
        QFETCH(QString, error);
        QFETCH(QString, message);
        Store& store = signedIn();
        QCoro::waitFor(store.loadPurchases(true));
        const QList<AppItem> before = store.purchases();
        QCOMPARE(before.size(), 2);
        const QString cache = QDir(store.dataFolder()).filePath(u"purchases-jane@example.com.json"_s);
        const QByteArray cached = readFile(cache);
        QVERIFY(!cached.isEmpty());

        if (error.isEmpty())
            QVERIFY(QFile::remove(m_sandbox->filePath(u".ipatool/account"_s)));
        else
            m_sandbox->world.addFailure({.command = u"ipatool list-purchases"_s, .error = error}).write();
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(store.purchases(), before);
        QCOMPARE(readFile(cache), cached);
        QVERIFY(!store.purchasesLoading());
        QCOMPARE(store.purchasesError().value_or(QString()), message);
        QCOMPARE(store.showLogin(), message.isEmpty());
        QCOMPARE(store.loginEmailHint(), message.isEmpty() ? jane : QString());

        // The next load starts without the old message.
        m_sandbox->world.clearFailures().write();
        SimWorld::signIn(jane);
        QCoro::waitFor(store.checkAuth(false));
        QCoro::waitFor(store.loadPurchases(true));
        QVERIFY(!store.purchasesError());
    }

    void historyOfAnAccountLeftMeanwhileIsDropped()
    {
        m_sandbox->world.setTiming(u"command"_s, 500).write(); // the listing takes a second
        Store& store = signedIn();
        store.loadPurchases(true);
        QTRY_VERIFY_WITH_TIMEOUT(!lastPurchaseCall().isEmpty(), 20000);
        StoreTestAccess::setEmail(store, u"other@example.com"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!store.purchasesLoading(), 20000);
        QVERIFY(store.purchases().isEmpty());
        QVERIFY(cacheFiles(store.dataFolder()).isEmpty());
    }

    void detailsComeTenAtATimeOnce()
    {
        Store signedOut(storeOptions()); // opens sign-in instead
        signedOut.openVersions(app);
        QVERIFY(signedOut.showLogin());
        QCOMPARE(signedOut.versionsApp(), std::nullopt);
        QVERIFY(!signedOut.versionsLoading());

        // Version 1.10's metadata cannot be read: an empty record, not asked for again.
        m_sandbox->world.addFailure({.command = u"ipatool get-version-metadata"_s, .error = u"something broke"_s, .version = u"900000110"_s});
        Store& store = opened(25);
        QCOMPARE(store.versionsApp(), app);
        QVERIFY(store.versionsLoading());
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versions().size(), 25);
        QCOMPARE(store.versions().constFirst().id, u"900000124"_s); // newest first
        QCOMPARE(filled(store), 10);
        QCOMPARE(store.versions().constFirst().meta->minOS, u"15.0"_s);
        QCOMPARE(store.versions()[9].meta->display, u"1.15"_s);

        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(filled(store), 20);
        const VersionRow broken = store.versions()[14];
        QVERIFY(broken.id == u"900000110"_s && broken.meta && !broken.meta->display && !broken.meta->minOS);
        QCoro::waitFor(store.loadMoreVersionDetails(app, 0));
        QCOMPARE(filled(store), 25);
        QCOMPARE(store.versions().constLast().meta->display, u"1.0"_s);
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
        QCOMPARE(filled(store), expected);
    }

    // Closing the sheet while the list or the details load: no error, no further requests.
    void closingTheSheet_data()
    {
        QTest::addColumn<int>("versions");
        QTest::addColumn<int>("shownFirst"); // rows with details before closing
        QTest::newRow("while listing") << 5 << 0;
        QTest::newRow("while details load") << 25 << 1;
    }

    void closingTheSheet()
    {
        QFETCH(int, versions);
        QFETCH(int, shownFirst);
        m_sandbox->world.setTiming(u"command"_s, shownFirst ? 100 : 500);
        Store& store = opened(versions);
        QTRY_VERIFY_WITH_TIMEOUT(store.versionsLoading() && filled(store) >= shownFirst, 30000);
        store.setVersionsApp(std::nullopt);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading(), 30000);
        QCOMPARE(store.versionsError(), std::nullopt);
        const int shown = filled(store);
        QVERIFY(shown < 10);
        QVERIFY(metadataRequests() <= shown + shownFirst);
        QCOMPARE(store.versions().isEmpty(), !shownFirst);
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

private:
    Store& signedIn(const QString& email = jane)
    {
        SimWorld::signIn(email, u"Someone"_s);
        m_store = std::make_unique<Store>(storeOptions());
        QCoro::waitFor(m_store->checkAuth(false));
        return *m_store;
    }

    // Jane's Store opening the versions of `app`, which has `count` versions: version i
    // (0 = oldest) is "1.i" with id 900000100 + i and needs iOS `minOS(i)`; the phone on `ios`.
    Store& opened(int count, const std::function<QString(int)>& minOS = [](int) { return u"15.0"_s; }, const QString& ios = {})
    {
        m_sandbox->world.addApp(app.id, u"com.example.oldtimer"_s, app.name);
        for (int i = 0; i < count; ++i)
            m_sandbox->world.addVersion(app.id, {.id = QString::number(900000100 + i), .display = u"1.%1"_s.arg(i), .minOS = minOS(i)});
        m_sandbox->world.write();
        Store& store = signedIn();
        if (!ios.isEmpty())
            StoreTestAccess::connectDevice(store, ios);
        store.openVersions(app);
        return store;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(HistoryTest)
#include "tst_history.moc"
