// Purchase history: whole or recent years, the merge and order, and the per-account cache.
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::SimWorld;
using telmora::test::Sandbox;

namespace {

const QString jane = QString::fromLatin1(SimWorld::sampleEmail);

// "id" or "id@date" (a date already in day.month.year form, or anything else).
QList<AppItem> items(const QStringList& specs)
{
    QList<AppItem> list;
    for (const QString& spec : specs) {
        const QStringList parts = spec.split(QLatin1Char('@'));
        AppItem item{parts.at(0), QStringLiteral("App ") + parts.at(0)};
        item.kind = QStringLiteral("iOS App");
        if (parts.size() > 1)
            item.purchaseDate = parts.at(1);
        list.append(item);
    }
    return list;
}

QStringList specs(const QList<AppItem>& list)
{
    QStringList result;
    for (const AppItem& item : list)
        result.append(item.purchaseDate ? item.id + QLatin1Char('@') + *item.purchaseDate : item.id);
    return result;
}

QStringList lastPurchaseCall()
{
    QStringList last;
    for (const QStringList& call : SimWorld::calls(QStringLiteral("ipatool"))) {
        if (call.value(0) == u"list-purchases")
            last = call;
    }
    return last;
}

std::optional<QList<AppItem>> readCache(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    return document.isArray() ? appItemsFromJson(document.array()) : std::nullopt;
}

QStringList cacheFiles(const QString& dataFolder)
{
    return QDir(dataFolder).entryList({QStringLiteral("purchases-*")}, QDir::Files | QDir::Hidden);
}

} // namespace

class PurchasesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample()
            .write();
    }

    void cleanup() { m_sandbox.reset(); }

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
        QTest::newRow("whole history replaces") << QStringList{"1@01.02.2024", "2@12.03.2023"} << QStringList{"5@01.01.2020"}
                                                << false << QStringList{"5@01.01.2020"};
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
        QFETCH(QStringList, merged);
        QCOMPARE(specs(mergePurchases(items(known), items(listed), recent)), merged);
    }

    void cacheFileReadsBackExactly()
    {
        QList<AppItem> list = items({QStringLiteral("1@05.03.2021"), QStringLiteral("2")});
        list[0].name = QStringLiteral("Quote \" back\\slash\ttab\nline \x01 ctl — Почта 📮");
        list[0].bundleID = QStringLiteral("com.example.a");
        list[0].version = QStringLiteral("1.0");
        list[1].kind.reset();
        list[1].name = QString();
        const QString path = m_sandbox->filePath(QStringLiteral("cache.json"));
        QVERIFY(writePurchasesCache(path, list));
        QCOMPARE(readCache(path), std::optional<QList<AppItem>>(list));
        QVERIFY(writePurchasesCache(path, {}));
        QCOMPARE(readCache(path), std::optional<QList<AppItem>>(QList<AppItem>{}));
        QVERIFY(!writePurchasesCache(m_sandbox->filePath(QStringLiteral("missing/folder/cache.json")), list));
    }

    void wholeHistoryThenRecentYearsThenCache()
    {
        SimWorld::signIn(jane);
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));

        // Nothing known yet: "Новые покупки" lists the whole history.
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(lastPurchaseCall(), (QStringList{QStringLiteral("list-purchases"), QStringLiteral("--all")}));
        QCOMPARE(specs(store.purchases()), (QStringList{"100000002@01.02.2024", "100000001@05.03.2021"}));
        QCOMPARE(store.purchases().constFirst().name, QStringLiteral("Maps Plus"));
        QVERIFY(!store.purchasesLoading());
        QVERIFY(!store.purchasesError());

        // A new purchase this year: only the newest year is listed and merged in.
        m_sandbox->world.addPurchase(jane, QStringLiteral("100000004"), QStringLiteral("Free Game"), QDate(2024, 5, 1))
            .write();
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(lastPurchaseCall(), (QStringList{QStringLiteral("list-purchases"), QStringLiteral("--since-year"), QStringLiteral("2024")}));
        QCOMPARE(specs(store.purchases()), (QStringList{"100000004@01.05.2024", "100000002@01.02.2024", "100000001@05.03.2021"}));

        QCoro::waitFor(store.loadPurchases(true));
        QCOMPARE(lastPurchaseCall(), (QStringList{QStringLiteral("list-purchases"), QStringLiteral("--all")}));

        // The cache holds exactly the shown list, under the plain e-mail, and a new start reads it.
        const QString cache = QDir(store.dataFolder()).filePath(QStringLiteral("purchases-jane@example.com.json"));
        QCOMPARE(cacheFiles(store.dataFolder()), QStringList{QStringLiteral("purchases-jane@example.com.json")});
        QCOMPARE(readCache(cache), std::optional<QList<AppItem>>(store.purchases()));
        Store again(test::storeOptions());
        QCoro::waitFor(again.checkAuth(false));
        QCOMPARE(again.purchases(), store.purchases());
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
        m_sandbox->world.addAccount(email, QStringLiteral("pw"), QStringLiteral("Someone"))
            .addPurchase(email, QStringLiteral("100000001"), QStringLiteral("Notes Pro"), QDate(2022, 7, 1))
            .write();
        SimWorld::signIn(email, QStringLiteral("Someone"));
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));
        QCOMPARE(store.email(), std::optional<QString>(email));

        QCoro::waitFor(store.loadPurchases(true));
        QCOMPARE(specs(store.purchases()), QStringList{"100000001@01.07.2022"});
        QVERIFY(cacheFiles(store.dataFolder()).isEmpty());
        const QFileInfoList beside = QFileInfo(store.dataFolder()).dir().entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo& file : beside)
            QVERIFY2(!file.fileName().endsWith(QStringLiteral(".json")), qPrintable(file.filePath()));
        QVERIFY(!QFile::exists(m_sandbox->path() + QStringLiteral("/escape@example.com.json")));
    }

    void failedLoadKeepsTheList_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("signInOpens");
        QTest::newRow("network") << "Timeout was reached" << "Нет связи с серверами Apple. Проверьте интернет или VPN." << false;
        QTest::newRow("session expired") << "session expired" << QString() << true;
    }

    void failedLoadKeepsTheList()
    {
        QFETCH(QString, error);
        QFETCH(QString, message);
        QFETCH(bool, signInOpens);
        SimWorld::signIn(jane);
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));
        QCoro::waitFor(store.loadPurchases(true));
        const QList<AppItem> before = store.purchases();
        QCOMPARE(before.size(), 2);

        m_sandbox->world.addFailure({.command = QStringLiteral("ipatool list-purchases"), .error = error})
            .write();
        QCoro::waitFor(store.loadPurchases(false));
        QCOMPARE(store.purchases(), before);
        QVERIFY(!store.purchasesLoading());
        QCOMPARE(store.purchasesError(), message.isEmpty() ? std::nullopt : std::optional<QString>(message));
        QCOMPARE(store.showLogin(), signInOpens);
        if (signInOpens)
            QCOMPARE(store.loginEmailHint(), jane);

        // The next load starts without the old message.
        m_sandbox->world.clearFailures()
            .write();
        SimWorld::signIn(jane);
        QCoro::waitFor(store.checkAuth(false));
        QCoro::waitFor(store.loadPurchases(true));
        QVERIFY(!store.purchasesError());
    }

    void lostSessionOpensTheForm()
    {
        Store store(test::storeOptions());
        StoreTestAccess::setEmail(store, jane); // the tool itself has no session
        QCoro::waitFor(store.loadPurchases(true));
        QVERIFY(store.showLogin());
        QCOMPARE(store.loginEmailHint(), jane);
        QVERIFY(!store.purchasesError());
        QVERIFY(!store.purchasesLoading());
        QVERIFY(cacheFiles(store.dataFolder()).isEmpty());
    }

    void historyOfAnAccountLeftMeanwhileIsDropped()
    {
        m_sandbox->world.setTiming(QStringLiteral("command"), 500); // the listing takes a second
        m_sandbox->world.write();
        SimWorld::signIn(jane);
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));
        store.loadPurchases(true);
        QTRY_VERIFY_WITH_TIMEOUT(!lastPurchaseCall().isEmpty(), 20000);
        StoreTestAccess::setEmail(store, QStringLiteral("other@example.com"));
        QTRY_VERIFY_WITH_TIMEOUT(!store.purchasesLoading(), 20000);
        QVERIFY(store.purchases().isEmpty());
        QVERIFY(cacheFiles(store.dataFolder()).isEmpty());
    }

private:
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(PurchasesTest)
#include "tst_purchases.moc"
