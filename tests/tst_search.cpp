// Search by ids, by name in the catalog and in the store, and the batched store-details lookup.
#include "store/store.h"

#include "sandbox.h"
#include "httpserver.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::HttpServer;
using telmora::test::SimWorld;
using telmora::test::Sandbox;

namespace {

const QString jane = QString::fromLatin1(SimWorld::sampleEmail);

const QByteArray catalogText = "Notes Pro Catalog: 100000001\n"
                               "Google Maps: 585027354\n"
                               "Yandex Maps & Navigator: 313877526\n"
                               "Telegram: 686449807\n"
                               "Госуслуги: 1095014811\n"
                               "not a catalog line\n";

QStringList ids(const QList<AppItem>& items, QString AppItem::*field = &AppItem::id)
{
    QStringList list;
    for (const AppItem& item : items)
        list.append(item.*field);
    return list;
}

bool searchedTheStore()
{
    const QList<QStringList> calls = SimWorld::calls(QStringLiteral("ipatool"));
    return std::any_of(calls.cbegin(), calls.cend(), [](const QStringList& call) { return call.value(0) == u"search"; });
}

// The lookup service: answers the ids it knows for each country.
HttpServer::Response lookupAnswer(const HttpServer::Request& request, const QHash<QString, QSet<QString>>& known)
{
    const QUrlQuery query(request.query);
    const QSet<QString> countryKnows = known.value(query.queryItemValue(QStringLiteral("country")));
    QJsonArray results;
    for (const QString& id : query.queryItemValue(QStringLiteral("id")).split(QLatin1Char(','))) {
        if (!countryKnows.contains(id))
            continue;
        results.append(QJsonObject{{QStringLiteral("trackId"), id.toLongLong()},
                                   {QStringLiteral("artworkUrl100"), QStringLiteral("https://example.com/") + id + QStringLiteral(".png")},
                                   {QStringLiteral("sellerName"), QStringLiteral("Seller ") + id},
                                   {QStringLiteral("version"), QStringLiteral("1.2")},
                                   {QStringLiteral("formattedPrice"), QStringLiteral("Free")},
                                   {QStringLiteral("minimumOsVersion"), 15}});
    }
    HttpServer::Response response;
    response.body = QJsonDocument(QJsonObject{{QStringLiteral("resultCount"), results.size()}, {QStringLiteral("results"), results}}).toJson();
    return response;
}

QList<int> chunkSizes(const QStringList& queries, const QString& country)
{
    QList<int> sizes;
    for (const QString& raw : queries) {
        const QUrlQuery query(raw);
        if (query.queryItemValue(QStringLiteral("country")) == country)
            sizes.append(static_cast<int>(query.queryItemValue(QStringLiteral("id")).split(QLatin1Char(',')).size()));
    }
    std::sort(sizes.begin(), sizes.end(), std::greater<>());
    return sizes;
}

} // namespace

class SearchTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QFile catalog(m_resources.filePath(QStringLiteral("AppsList.txt")));
        QVERIFY(catalog.open(QIODevice::WriteOnly));
        catalog.write(catalogText);
    }

    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample()
            .addApp(QStringLiteral("100000009"), QStringLiteral("com.example.noteslite"), QStringLiteral("Notes Lite"))
            .addVersion(QStringLiteral("100000009"), {.id = QStringLiteral("800000009"), .display = QStringLiteral("1.0")})
            .write();
        m_server = std::make_unique<HttpServer>();
        m_store = std::make_unique<Store>(test::storeOptions(m_server->url(QStringLiteral("/lookup")), m_resources.path()));
    }

    void cleanup()
    {
        m_store.reset();
        m_server.reset();
        m_sandbox.reset();
    }

    void idSearchNeedsNoTool_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("catalog hit and unknown id") << "585027354, 999999999" << QStringList{"585027354", "999999999"}
                                                    << QStringList{"Google Maps", "ID 999999999"};
        QTest::newRow("repeated ids repeat") << "686449807,686449807" << QStringList{"686449807", "686449807"}
                                             << QStringList{"Telegram", "Telegram"};
        QTest::newRow("spaces and tabs around terms") << " 123456 ,\t7654321\t" << QStringList{"123456", "7654321"}
                                                      << QStringList{"ID 123456", "ID 7654321"};
        QTest::newRow("no terms at all") << "," << QStringList{} << QStringList{};
    }

    void idSearchNeedsNoTool()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, ids);
        QFETCH(QStringList, names);
        search(query);
        QCOMPARE(::ids(m_store->results()), ids);
        QCOMPARE(::ids(m_store->results(), &AppItem::name), names);
        QVERIFY(m_store->searched());
        QVERIFY(!m_store->searching());
        QVERIFY(!m_store->searchError());
        QVERIFY(!searchedTheStore());
    }

    void blankQueryDoesNothing()
    {
        m_store->setQuery(QStringLiteral(" \t\n "));
        QSignalSpy searching(m_store.get(), &Store::searchingChanged);
        QCoro::waitFor(m_store->search());
        QCOMPARE(searching.count(), 0);
        QVERIFY(!m_store->searched());
        QVERIFY(m_store->results().isEmpty());
    }

    void signedOutSearchesOnlyTheCatalog_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("any capitalisation") << "mAP" << QStringList{"585027354", "313877526"};
        QTest::newRow("five digits are a name") << "12345" << QStringList{};
        QTest::newRow("the whole query with its comma") << "Notes Pro, Catalog" << QStringList{};
        QTest::newRow("Cyrillic in other capitals") << "госУСЛУГИ" << QStringList{"1095014811"};
    }

    void signedOutSearchesOnlyTheCatalog()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, ids);
        search(query, false);
        QCOMPARE(::ids(m_store->results()), ids);
        QCOMPARE(m_store->searchError(), std::optional<QString>(QStringLiteral("Без входа поиск идёт только по каталогу.")));
        QVERIFY(m_store->searched());
        QVERIFY(!searchedTheStore());
    }

    void storeResultsFollowCatalogHitsWithoutRepeats()
    {
        search(QStringLiteral("  Notes "));
        // The store also finds 100000001 ("Notes Pro"): the catalog's entry stays, once.
        QCOMPARE(::ids(m_store->results()), (QStringList{QStringLiteral("100000001"), QStringLiteral("100000009")}));
        QCOMPARE(::ids(m_store->results(), &AppItem::name), (QStringList{QStringLiteral("Notes Pro Catalog"), QStringLiteral("Notes Lite")}));
        QCOMPARE(m_store->results().at(1).bundleID, std::optional<QString>(QStringLiteral("com.example.noteslite")));
        QVERIFY(!m_store->searchError());
        QVERIFY(SimWorld::calls(QStringLiteral("ipatool"))
                    .contains(QStringList{"search", "Notes", "--limit", "25", "--format", "json", "--non-interactive"}));
    }

    void storeFailureKeepsCatalogHits()
    {
        m_sandbox->world.addFailure({.command = QStringLiteral("ipatool search"), .error = QStringLiteral("rate limited by Apple (HTTP 429)")})
            .write();
        search(QStringLiteral("maps"));
        QCOMPARE(::ids(m_store->results()), (QStringList{QStringLiteral("585027354"), QStringLiteral("313877526")}));
        QCOMPARE(m_store->searchError(),
                 std::optional<QString>(QStringLiteral("Apple временно ограничила запросы. Подождите несколько минут.")));
        QVERIFY(!m_store->showLogin());
    }

    void lostSessionDuringSearchOpensTheForm()
    {
        // The Store believes Jane is signed in; the tool has no session.
        StoreTestAccess::setEmail(*m_store, jane);
        m_store->setQuery(QStringLiteral("Telegram"));
        QCoro::waitFor(m_store->search());
        QVERIFY(m_store->showLogin());
        QCOMPARE(m_store->loginEmailHint(), jane);
        QVERIFY(!m_store->email());
        QVERIFY(!m_store->searchError());
        QCOMPARE(::ids(m_store->results()), QStringList{QStringLiteral("686449807")});
        QVERIFY(!m_store->searching());
    }

    void detailsAreLookedUpOncePerBatch()
    {
        QHash<QString, QSet<QString>> known{{QStringLiteral("ru"), {QStringLiteral("585027354")}},
                                            {QStringLiteral("us"), {QStringLiteral("686449807")}}};
        m_server->handle(QStringLiteral("/lookup"), [known](const HttpServer::Request& request) { return lookupAnswer(request, known); });
        m_store->requestDetails(QStringLiteral("585027354"));
        m_store->requestDetails(QStringLiteral("585027354"));
        m_store->requestDetails(QStringLiteral("686449807"));
        m_store->requestDetails(QStringLiteral("585027354"));
        QTRY_VERIFY_WITH_TIMEOUT(m_store->details().contains(QStringLiteral("686449807")), 20000);
        // One batch: one request per country, the second only for what the first missed.
        QCOMPARE(m_server->requestCount(QStringLiteral("/lookup")), 2);
        const QUrlQuery first(m_server->queries(QStringLiteral("/lookup")).at(0));
        QCOMPARE(first.queryItemValue(QStringLiteral("country")), QStringLiteral("ru"));
        QCOMPARE(QUrlQuery(m_server->queries(QStringLiteral("/lookup")).at(1)).queryItemValue(QStringLiteral("id")),
                 QStringLiteral("686449807"));

        const AppDetails details = m_store->details().value(QStringLiteral("585027354"));
        QCOMPARE(details.artwork, std::optional<QUrl>(QUrl(QStringLiteral("https://example.com/585027354.png"))));
        QCOMPARE(details.seller, std::optional<QString>(QStringLiteral("Seller 585027354")));
        QCOMPARE(details.version, std::optional<QString>(QStringLiteral("1.2")));
        QCOMPARE(details.price, std::optional<QString>(QStringLiteral("Free")));
        QVERIFY(!details.minOS); // not a string in this answer

        // Asked again later, also for an id that was never found: no new request.
        m_store->requestDetails(QStringLiteral("585027354"));
        m_store->requestDetails(QStringLiteral("686449807"));
        QTest::qWait(600);
        QCOMPARE(m_server->requestCount(QStringLiteral("/lookup")), 2);
    }

    void manyIdsAreAskedInChunksPerCountry()
    {
        QHash<QString, QSet<QString>> known;
        QStringList requested;
        for (int i = 0; i < 400; ++i) {
            const QString id = QString::number(500000000 + i);
            requested.append(id);
            known[i % 4 == 0 ? QStringLiteral("us") : QStringLiteral("ru")].insert(id);
        }
        m_server->handle(QStringLiteral("/lookup"), [known](const HttpServer::Request& request) { return lookupAnswer(request, known); });
        for (const QString& id : std::as_const(requested))
            m_store->requestDetails(id);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->details().size(), 400, 30000);
        const QStringList queries = m_server->queries(QStringLiteral("/lookup"));
        QCOMPARE(chunkSizes(queries, QStringLiteral("ru")), (QList<int>{150, 150, 100}));
        QCOMPARE(chunkSizes(queries, QStringLiteral("us")), QList<int>{100});
        QCOMPARE(queries.size(), 4);
    }

    void unusableAnswersGiveNoDetailsAndNoRetry()
    {
        m_server->route(QStringLiteral("/lookup"), {.body = "<html>busy</html>"});
        m_store->requestDetails(QStringLiteral("585027354"));
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requestCount(QStringLiteral("/lookup")), 2, 20000);
        QTest::qWait(300);
        QVERIFY(m_store->details().isEmpty());
        m_store->requestDetails(QStringLiteral("585027354"));
        QTest::qWait(600);
        QCOMPARE(m_server->requestCount(QStringLiteral("/lookup")), 2);
    }

    void destroyingTheStoreMidSearchOrLookupIsSafe()
    {
        m_sandbox->world.setTiming(QStringLiteral("command"), 1000); // one second at the default speed
        m_sandbox->world.write();
        SimWorld::signIn(jane);
        StoreTestAccess::setEmail(*m_store, jane);
        m_server->route(QStringLiteral("/lookup"), {.body = "{\"results\":[]}", .delayMs = 1000});
        m_store->requestDetails(QStringLiteral("585027354"));
        m_store->setQuery(QStringLiteral("Notes"));
        m_store->search();
        QTRY_VERIFY_WITH_TIMEOUT(searchedTheStore() && m_server->requestCount(QStringLiteral("/lookup")) == 1, 20000);
        m_store.reset();
        QTest::qWait(2000);
    }

private:
    // Searches for `query` as Jane, or signed out, once the Store knows which.
    void search(const QString& query, bool signedIn = true)
    {
        if (signedIn)
            SimWorld::signIn(jane);
        QCoro::waitFor(m_store->checkAuth(false));
        m_store->setQuery(query);
        QCoro::waitFor(m_store->search());
    }

    QTemporaryDir m_resources;
    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(SearchTest)
#include "tst_search.moc"
