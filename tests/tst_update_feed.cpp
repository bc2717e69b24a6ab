#include "awaittask.h"
#include "httpserver.h"
#include "update/crypto.h"
#include "update/feed.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTest>

#include <functional>
#include <memory>

using namespace telmora;
using telmora::test::HttpServer;

namespace {

const QString platform = QStringLiteral("linux");
const QUrl feedURL(QStringLiteral("https://updates.telmora.app/feed/feed.json"));
const QString archiveHash = QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");

// A feed whose fields can be altered after it has been signed.
struct Feed {
    qint64 build = 7;
    QString version = QStringLiteral("1.4");
    QString notes = QStringLiteral("Исправления.\nВторая строка.");
    QJsonValue url = QStringLiteral("Telmora-1.4.zip");
    QJsonValue sha256 = archiveHash;
    QJsonValue size = 1234;

    QJsonObject signedWith(const Ed25519PrivateKey& key) const
    {
        QJsonObject entry;
        entry.insert(QStringLiteral("url"), url);
        entry.insert(QStringLiteral("sha256"), sha256);
        entry.insert(QStringLiteral("size"), size);
        const QByteArray signature
            = key.sign(signedUpdateMessage(platform, build, version, sha256.toString(), notes));
        entry.insert(QStringLiteral("signature"), QString::fromLatin1(signature.toBase64()));
        QJsonObject top;
        top.insert(QStringLiteral("build"), build);
        top.insert(QStringLiteral("version"), version);
        top.insert(QStringLiteral("notes"), notes);
        top.insert(platform, entry);
        return top;
    }
};

using Tamper = std::function<void(QJsonObject& top, QJsonObject& entry)>;

QByteArray tampered(QJsonObject top, const Tamper& tamper)
{
    QJsonObject entry = top.value(platform).toObject();
    if (tamper)
        tamper(top, entry);
    top.insert(platform, entry);
    return QJsonDocument(top).toJson();
}

QVariantMap info(const QVariant& feed, const QVariant& key, const QVariant& build = {}, const QVariant& version = {})
{
    QVariantMap map;
    const auto put = [&map](const char* name, const QVariant& value) {
        if (value.isValid())
            map.insert(QString::fromLatin1(name), value);
    };
    put("TelmoraUpdateFeed", feed);
    put("TelmoraUpdateKey", key);
    put("CFBundleVersion", build);
    put("CFBundleShortVersionString", version);
    return map;
}

} // namespace

Q_DECLARE_METATYPE(Tamper)

class UpdateFeedTest : public QObject {
    Q_OBJECT

private:
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    Ed25519PrivateKey m_otherKey = Ed25519PrivateKey::generate();

    std::optional<UpdateOffer> parse(const QByteArray& data, qint64 current = 5)
    {
        return parseUpdateFeed(data, feedURL, current, m_key.rawPublicKey(), platform);
    }

private Q_SLOTS:
    void acceptsSignedFeed()
    {
        const std::optional<UpdateOffer> offer = parse(QJsonDocument(Feed().signedWith(m_key)).toJson());
        QVERIFY(offer);
        QCOMPARE(offer->build, 7);
        QCOMPARE(offer->version, QStringLiteral("1.4"));
        QCOMPARE(offer->notes, QStringLiteral("Исправления.\nВторая строка."));
        QCOMPARE(offer->sha256, archiveHash); // address and size: addressAndSizeAreNotSigned
    }

    void missingVersionAndNotesAreEmpty()
    {
        Feed feed;
        feed.version.clear();
        feed.notes.clear();
        QJsonObject top = feed.signedWith(m_key);
        top.remove(QStringLiteral("version"));
        top.insert(QStringLiteral("notes"), 12); // not text: read as empty, which is what was signed
        const std::optional<UpdateOffer> offer = parse(QJsonDocument(top).toJson());
        QVERIFY(offer);
        QVERIFY(offer->version.isEmpty());
        QVERIFY(offer->notes.isEmpty());
    }

    void noOffer_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<qint64>("current");
        Feed feed;
        QJsonObject badlySigned = feed.signedWith(m_otherKey);
        QTest::newRow("same build, bad signature") << QJsonDocument(badlySigned).toJson() << qint64(7);
        QTest::newRow("older build") << QJsonDocument(feed.signedWith(m_key)).toJson() << qint64(9);
        QTest::newRow("not JSON") << QByteArray("<html>maintenance</html>") << qint64(0);
        QTest::newRow("array") << QByteArray("[{\"build\": 9}]") << qint64(0);
        QJsonObject withoutEntry = feed.signedWith(m_key);
        const QJsonValue entry = withoutEntry.take(platform);
        QTest::newRow("no platform entry") << QJsonDocument(withoutEntry).toJson() << qint64(0);
        QJsonObject otherPlatform = withoutEntry;
        otherPlatform.insert(QStringLiteral("macos"), entry);
        QTest::newRow("only another platform") << QJsonDocument(otherPlatform).toJson() << qint64(0);
        QJsonObject entryNotObject = withoutEntry;
        entryNotObject.insert(platform, QStringLiteral("Telmora.zip"));
        QTest::newRow("platform entry not an object") << QJsonDocument(entryNotObject).toJson() << qint64(0);
        QTest::newRow("fractional build")
            << tampered(feed.signedWith(m_key), [](QJsonObject& top, QJsonObject&) { top.insert(QStringLiteral("build"), 7.5); })
            << qint64(0);
        QTest::newRow("build as text")
            << tampered(feed.signedWith(m_key), [](QJsonObject& top, QJsonObject&) { top.insert(QStringLiteral("build"), QStringLiteral("7")); })
            << qint64(0);
    }

    void noOffer()
    {
        QFETCH(QByteArray, data);
        QFETCH(qint64, current);
        QCOMPARE(parse(data, current), std::nullopt);
    }

    void badSignature_data()
    {
        QTest::addColumn<QJsonObject>("signedFeed");
        QTest::addColumn<Tamper>("tamper");

        Feed upper;
        upper.sha256 = archiveHash.toUpper(); // signed as it stands, still refused
        QTest::newRow("upper-case sha256") << upper.signedWith(m_key) << Tamper();
        Feed shortHash;
        shortHash.sha256 = archiveHash.left(63);
        QTest::newRow("short sha256") << shortHash.signedWith(m_key) << Tamper();

        const QJsonObject good = Feed().signedWith(m_key);
        const auto set = [](const char* key, const QJsonValue& value) {
            return Tamper([key, value](QJsonObject&, QJsonObject& entry) { entry.insert(QString::fromLatin1(key), value); });
        };
        const auto drop = [](const char* key) {
            return Tamper([key](QJsonObject&, QJsonObject& entry) { entry.remove(QString::fromLatin1(key)); });
        };
        QTest::newRow("size 0") << good << set("size", 0);
        QTest::newRow("size one over the limit") << good << set("size", 800000001);
        QTest::newRow("negative size") << good << set("size", -5);
        QTest::newRow("size as text") << good << set("size", QStringLiteral("1234"));
        QTest::newRow("no size") << good << drop("size");
        QTest::newRow("no url") << good << drop("url");
        QTest::newRow("empty url") << good << set("url", QString());
        QTest::newRow("another host") << good << set("url", QStringLiteral("https://mirror.example.com/Telmora.zip"));
        QTest::newRow("host-relative to another host") << good << set("url", QStringLiteral("//evil.example/Telmora.zip"));
        QTest::newRow("plain http") << good << set("url", QStringLiteral("http://updates.telmora.app/Telmora.zip"));
        QTest::newRow("no signature") << good << drop("signature");
        QTest::newRow("signature with a line break")
            << good << Tamper([](QJsonObject&, QJsonObject& entry) {
                   const QString text = entry.value(QStringLiteral("signature")).toString();
                   entry.insert(QStringLiteral("signature"), text.left(40) + u'\n' + text.mid(40));
               });
        QTest::newRow("signature not Base64") << good << set("signature", QStringLiteral("not base64!"));
        QTest::newRow("notes changed by one character")
            << good << Tamper([](QJsonObject& top, QJsonObject&) {
                   top.insert(QStringLiteral("notes"), QStringLiteral("Исправления.\nВторая строкa.")); // Latin a
               });
        QTest::newRow("version changed")
            << good << Tamper([](QJsonObject& top, QJsonObject&) { top.insert(QStringLiteral("version"), QStringLiteral("1.5")); });
        QTest::newRow("build raised")
            << good << Tamper([](QJsonObject& top, QJsonObject&) { top.insert(QStringLiteral("build"), 8); });
        QTest::newRow("sha256 swapped")
            << good << set("sha256", QStringLiteral("f123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"));
        QTest::newRow("signed with another key") << Feed().signedWith(m_otherKey) << Tamper();
    }

    void badSignature()
    {
        QFETCH(QJsonObject, signedFeed);
        QFETCH(Tamper, tamper);
        try {
            const std::optional<UpdateOffer> offer = parse(tampered(signedFeed, tamper));
            QFAIL(offer ? "an offer was made" : "no offer and no error");
        } catch (const UpdateError& error) {
            QCOMPARE(error.kind(), UpdateError::Kind::badSignature);
            QCOMPARE(error.description(), QStringLiteral("Подпись обновления не сходится."));
        }
    }

    void publicKeyMustBeUsable()
    {
        const QByteArray data = QJsonDocument(Feed().signedWith(m_key)).toJson();
        for (const QByteArray& key : {m_key.rawPublicKey().left(31), QByteArray()}) {
            QVERIFY_THROWS_EXCEPTION(UpdateError, parseUpdateFeed(data, feedURL, 5, key, platform));
        }
    }

    // The archive's address and size are outside the signed message; only their own rules apply.
    void addressAndSizeAreNotSigned_data()
    {
        QTest::addColumn<QJsonValue>("url");
        QTest::addColumn<QJsonValue>("size");
        QTest::addColumn<QUrl>("resolved");
        QTest::addColumn<qint64>("expectedSize");
        // A bare file name is resolved against the feed's own address.
        QTest::newRow("largest size") << QJsonValue(QStringLiteral("a.zip")) << QJsonValue(800000000)
                                      << QUrl(QStringLiteral("https://updates.telmora.app/feed/a.zip")) << qint64(800000000);
        QTest::newRow("smallest size") << QJsonValue(QStringLiteral("a.zip")) << QJsonValue(1)
                                       << QUrl(QStringLiteral("https://updates.telmora.app/feed/a.zip")) << qint64(1);
        QTest::newRow("absolute path on the feed host")
            << QJsonValue(QStringLiteral("/releases/b.zip")) << QJsonValue(99)
            << QUrl(QStringLiteral("https://updates.telmora.app/releases/b.zip")) << qint64(99);
        QTest::newRow("absolute address on the feed host")
            << QJsonValue(QStringLiteral("https://updates.telmora.app/c.zip?x=1")) << QJsonValue(5)
            << QUrl(QStringLiteral("https://updates.telmora.app/c.zip?x=1")) << qint64(5);
    }

    void addressAndSizeAreNotSigned()
    {
        QFETCH(QJsonValue, url);
        QFETCH(QJsonValue, size);
        QFETCH(QUrl, resolved);
        QFETCH(qint64, expectedSize);
        const QByteArray data = tampered(Feed().signedWith(m_key), [&](QJsonObject&, QJsonObject& entry) {
            entry.insert(QStringLiteral("url"), url);
            entry.insert(QStringLiteral("size"), size);
        });
        const std::optional<UpdateOffer> offer = parse(data);
        QVERIFY(offer);
        QCOMPARE(offer->url, resolved);
        QCOMPARE(offer->size, expectedSize);
    }

    void configuration_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<bool>("configured");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<QString>("version");

        const QString key = QString::fromLatin1(m_key.rawPublicKey().toBase64());
        const QString feed = feedURL.toString();
        QTest::newRow("complete") << info(feed, key, QStringLiteral("42"), QStringLiteral("1.2")) << true << qint64(42)
                                  << QStringLiteral("1.2");
        QTest::newRow("signed builds") << info(feed, key, QStringLiteral("+7")) << true << qint64(7) << QString();
        QTest::newRow("negative build") << info(feed, key, QStringLiteral("-3")) << true << qint64(-3) << QString();
        QTest::newRow("empty build") << info(feed, key, QString()) << true << qint64(0) << QString();
        QTest::newRow("build not a number") << info(feed, key, QStringLiteral("12a")) << true << qint64(0) << QString();
        QTest::newRow("build with space") << info(feed, key, QStringLiteral(" 12")) << true << qint64(0) << QString();
        QTest::newRow("build not text") << info(feed, key, 12) << true << qint64(0) << QString();
        QTest::newRow("no feed") << info({}, key, QStringLiteral("3")) << false << qint64(3) << QString();
        QTest::newRow("empty feed (unconfigured build)") << info(QString(), QString()) << false << qint64(0) << QString();
        QTest::newRow("feed not text") << info(QUrl(feed), key) << false << qint64(0) << QString();
        QTest::newRow("no key") << info(feed, {}) << false << qint64(0) << QString();
        QTest::newRow("key without padding") << info(feed, key.chopped(1)) << false << qint64(0) << QString();
        QTest::newRow("key with a line break") << info(feed, key.left(20) + u'\n' + key.mid(20)) << false << qint64(0)
                                               << QString();
        QTest::newRow("key of any length decodes") << info(feed, QStringLiteral("AAAA")) << true << qint64(0) << QString();
    }

    void configuration()
    {
        QFETCH(QVariantMap, info);
        QFETCH(bool, configured);
        QFETCH(qint64, build);
        QFETCH(QString, version);
        QCOMPARE(updateIsConfigured(info), configured);
        QCOMPARE(currentBuild(info), build);
        QCOMPARE(currentVersion(info), version);
        if (configured)
            QCOMPARE(updateFeedURL(info), std::optional<QUrl>(feedURL));
    }

    void fetchesFromServer()
    {
        HttpServer server;
        const QUrl url = server.url(QStringLiteral("/feed.json?channel=stable"));
        Feed feed;
        server.route(QStringLiteral("/feed.json"), {.body = QJsonDocument(feed.signedWith(m_key)).toJson(), .delayMs = 100});
        QNetworkAccessManager network;
        for (int round = 0; round < 2; ++round) {
            const std::optional<UpdateOffer> offer
                = test::awaitTask(fetchUpdateOffer(network, url, 5, m_key.rawPublicKey(), platform));
            QVERIFY(offer);
            QCOMPARE(offer->url, server.url(QStringLiteral("/Telmora-1.4.zip")));
        }
        QCOMPARE(server.requestCount(QStringLiteral("/feed.json")), 2); // never answered from a cache
        QCOMPARE(server.queries(QStringLiteral("/feed.json")), QStringList(2, QStringLiteral("channel=stable")));

        // The running build is current: no offer, no error.
        QCOMPARE(test::awaitTask(fetchUpdateOffer(network, url, 7, m_key.rawPublicKey(), platform)), std::nullopt);
    }

    void fetchFailures()
    {
        HttpServer server;
        server.route(QStringLiteral("/gone.json"), {.status = 404, .body = "no"});
        server.route(QStringLiteral("/cut.json"), {.body = QByteArray(500, '{'), .truncateAt = 10});
        QNetworkAccessManager network;
        const auto fetch = [&](const QUrl& url) { (void)test::awaitTask(fetchUpdateOffer(network, url, 5, m_key.rawPublicKey(), platform)); };
        try {
            fetch(server.url(QStringLiteral("/gone.json")));
            QFAIL("no error for 404");
        } catch (const UpdateError& error) {
            QCOMPARE(error.kind(), UpdateError::Kind::server);
            QCOMPARE(error.description(), QStringLiteral("Сервер обновлений ответил 404."));
        }
        QVERIFY_THROWS_EXCEPTION(UpdateSystemError, fetch(server.url(QStringLiteral("/cut.json"))));
        // Nothing listens on the port any more: a network failure with the system's text.
        auto gone = std::make_unique<HttpServer>();
        const QUrl closed = gone->url(QStringLiteral("/feed.json"));
        gone.reset();
        try {
            fetch(closed);
            QFAIL("no error without a server");
        } catch (const UpdateSystemError& error) {
            QVERIFY(!error.description().isEmpty());
        }
    }
};

QTEST_GUILESS_MAIN(UpdateFeedTest)
#include "tst_update_feed.moc"
