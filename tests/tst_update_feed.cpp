#include "awaittask.h"
#include "httpserver.h"
#include "update/crypto.h"
#include "update/feed.h"

#include <QCoroTask>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTest>

#include <memory>

using namespace telmora;
using telmora::test::HttpServer;

namespace {

const QString platform = QStringLiteral("linux");
const QUrl feedURL(QStringLiteral("https://updates.telmora.app/feed/feed.json"));
const QString archiveHash = QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
const QString releaseNotes = QStringLiteral("Исправления.\nВторая строка.");
const QString badSignature = QStringLiteral("Подпись обновления не сходится.");
const QString systemError = QStringLiteral("(system error)");

// A feed offering build 7, signed with `key`; edited() changes it after signing.
QJsonObject signedFeed(const Ed25519PrivateKey& key, const QString& version = QStringLiteral("1.4"), const QString& notes = releaseNotes,
                       const QString& sha256 = archiveHash)
{
    const QByteArray signature = key.sign(signedUpdateMessage(platform, 7, version, sha256, notes));
    const QJsonObject entry{{QStringLiteral("url"), QStringLiteral("Telmora-1.4.zip")},
                            {QStringLiteral("sha256"), sha256},
                            {QStringLiteral("size"), 1234},
                            {QStringLiteral("signature"), QString::fromLatin1(signature.toBase64())}};
    return {{QStringLiteral("build"), 7}, {QStringLiteral("version"), version}, {QStringLiteral("notes"), notes}, {platform, entry}};
}

using Changes = QList<std::pair<QString, QJsonValue>>;
const QJsonValue removed(QJsonValue::Undefined);

// The feed as JSON with fields changed ("key" at the top, "linux/key" in the entry).
QByteArray edited(QJsonObject top, const Changes& changes = {})
{
    QJsonObject entry = top.value(platform).toObject();
    for (const auto& [path, value] : changes) {
        QJsonObject& object = path.startsWith(platform + u'/') ? entry : top;
        if (value.isUndefined())
            object.remove(path.section(u'/', -1));
        else
            object.insert(path.section(u'/', -1), value);
    }
    top.insert(platform, entry);
    return QJsonDocument(top).toJson();
}

QString described(qint64 build, const QString& version, const QString& notes, const QString& url, qint64 size)
{
    return QStringLiteral("build %1, version %2, notes %3, %4, %5 bytes").arg(build).arg(version, notes, url).arg(size);
}

// What reading a feed gives: "none", an UpdateError's text, systemError, or the offer.
template<typename Read>
QString outcome(Read read)
{
    try {
        const std::optional<UpdateOffer> offer = read();
        if (!offer)
            return QStringLiteral("none");
        return described(offer->build, offer->version, offer->notes, offer->url.toString(), offer->size)
            + (offer->sha256 == archiveHash ? QString() : u' ' + offer->sha256);
    } catch (const UpdateError& error) {
        return error.description();
    } catch (const UpdateSystemError& error) {
        return error.description().isEmpty() ? QStringLiteral("system error without text") : systemError;
    }
}

QVariantMap info(const QVariant& feed, const QVariant& key, const QVariant& build = {}, const QVariant& version = {})
{
    QVariantMap map;
    const QList<std::pair<const char*, QVariant>> fields{
        {"TelmoraUpdateFeed", feed}, {"TelmoraUpdateKey", key}, {"CFBundleVersion", build}, {"CFBundleShortVersionString", version}};
    for (const auto& [name, value] : fields) {
        if (value.isValid())
            map.insert(QString::fromLatin1(name), value);
    }
    return map;
}

} // namespace

Q_DECLARE_METATYPE(telmora::test::HttpServer::Response)

class UpdateFeedTest : public QObject {
    Q_OBJECT

private:
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    Ed25519PrivateKey m_otherKey = Ed25519PrivateKey::generate();

private Q_SLOTS:
    // Only the build, version, notes and hash are signed; the archive's address and size
    // follow their own rules.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<qint64>("current");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QByteArray& data, const QString& expected, qint64 current = 5) {
            QTest::newRow(name) << data << current << expected;
        };
        const QJsonObject good = signedFeed(m_key);
        const auto offer = [](const char* url, qint64 size, const QString& version = QStringLiteral("1.4"), const QString& text = releaseNotes) {
            return described(7, version, text, QString::fromLatin1(url), size);
        };
        const auto located = [&good](const QString& url, int size) {
            return edited(good, {{QStringLiteral("linux/url"), url}, {QStringLiteral("linux/size"), size}});
        };
        const auto set = [&good](const char* path, const QJsonValue& value) { return edited(good, {{QString::fromLatin1(path), value}}); };

        row("signed feed", edited(good), offer("https://updates.telmora.app/feed/Telmora-1.4.zip", 1234));
        // Notes that are not text read as empty, which is what was signed.
        row("no version, notes not text", edited(signedFeed(m_key, QString(), QString()), {{QStringLiteral("version"), removed}, {QStringLiteral("notes"), 12}}),
            offer("https://updates.telmora.app/feed/Telmora-1.4.zip", 1234, QString(), QString()));
        row("largest size", located(QStringLiteral("a.zip"), 800000000), offer("https://updates.telmora.app/feed/a.zip", 800000000));
        row("smallest size", located(QStringLiteral("a.zip"), 1), offer("https://updates.telmora.app/feed/a.zip", 1));
        row("absolute path on the feed host", located(QStringLiteral("/releases/b.zip"), 99), offer("https://updates.telmora.app/releases/b.zip", 99));
        row("absolute address on the feed host", located(QStringLiteral("https://updates.telmora.app/c.zip?x=1"), 5),
            offer("https://updates.telmora.app/c.zip?x=1", 5));

        row("same build, bad signature", edited(signedFeed(m_otherKey)), QStringLiteral("none"), 7);
        row("older build", edited(good), QStringLiteral("none"), 9);
        row("not JSON", "<html>maintenance</html>", QStringLiteral("none"), 0);
        row("array", "[{\"build\": 9}]", QStringLiteral("none"), 0);
        row("no platform entry", "{\"build\": 7}", QStringLiteral("none"), 0);
        row("only another platform", "{\"build\": 7, \"macos\": {\"url\": \"Telmora.zip\"}}", QStringLiteral("none"), 0);
        row("platform entry not an object", "{\"build\": 7, \"linux\": \"Telmora.zip\"}", QStringLiteral("none"), 0);
        row("fractional build", set("build", 7.5), QStringLiteral("none"), 0);
        row("build as text", set("build", QStringLiteral("7")), QStringLiteral("none"), 0);

        // Signed as they stand, still refused.
        row("upper-case sha256", edited(signedFeed(m_key, QStringLiteral("1.4"), releaseNotes, archiveHash.toUpper())), badSignature);
        row("short sha256", edited(signedFeed(m_key, QStringLiteral("1.4"), releaseNotes, archiveHash.left(63))), badSignature);
        row("size 0", set("linux/size", 0), badSignature);
        row("size one over the limit", set("linux/size", 800000001), badSignature);
        row("negative size", set("linux/size", -5), badSignature);
        row("size as text", set("linux/size", QStringLiteral("1234")), badSignature);
        row("no size", set("linux/size", removed), badSignature);
        row("no url", set("linux/url", removed), badSignature);
        row("empty url", set("linux/url", QString()), badSignature);
        row("another host", set("linux/url", QStringLiteral("https://mirror.example.com/Telmora.zip")), badSignature);
        row("host-relative to another host", set("linux/url", QStringLiteral("//evil.example/Telmora.zip")), badSignature);
        row("plain http", set("linux/url", QStringLiteral("http://updates.telmora.app/Telmora.zip")), badSignature);
        row("no signature", set("linux/signature", removed), badSignature);
        const QString signature = good.value(platform).toObject().value(QStringLiteral("signature")).toString();
        row("signature with a line break", set("linux/signature", signature.left(40) + u'\n' + signature.mid(40)), badSignature);
        row("signature not Base64", set("linux/signature", QStringLiteral("not base64!")), badSignature);
        row("notes changed by one character", set("notes", QStringLiteral("Исправления.\nВторая строкa.")), badSignature); // Latin a
        row("version changed", set("version", QStringLiteral("1.5")), badSignature);
        row("build raised", set("build", 8), badSignature);
        row("sha256 swapped", set("linux/sha256", QStringLiteral("f123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef")), badSignature);
        row("signed with another key", edited(signedFeed(m_otherKey)), badSignature);
    }

    void parse()
    {
        QFETCH(QByteArray, data);
        QFETCH(qint64, current);
        QFETCH(QString, expected);
        QCOMPARE(outcome([&] { return parseUpdateFeed(data, feedURL, current, m_key.rawPublicKey(), platform); }), expected);
    }

    void publicKeyMustBeUsable()
    {
        const QByteArray data = edited(signedFeed(m_key));
        for (const QByteArray& key : {m_key.rawPublicKey().left(31), QByteArray()})
            QVERIFY_THROWS_EXCEPTION(UpdateError, parseUpdateFeed(data, feedURL, 5, key, platform));
    }

    void configuration_data()
    {
        QTest::addColumn<QVariantMap>("info");
        QTest::addColumn<bool>("configured");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<QString>("version");

        const QString key = QString::fromLatin1(m_key.rawPublicKey().toBase64());
        const QString feed = feedURL.toString();
        QTest::newRow("complete") << info(feed, key, QStringLiteral("42"), QStringLiteral("1.2")) << true << qint64(42) << QStringLiteral("1.2");
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
        QTest::newRow("key with a line break") << info(feed, key.left(20) + u'\n' + key.mid(20)) << false << qint64(0) << QString();
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

    void fetch_data()
    {
        QTest::addColumn<HttpServer::Response>("response"); // status 0: nothing listens
        QTest::addColumn<qint64>("current");
        QTest::addColumn<QString>("expected"); // "offer": the offer with the archive next to the feed
        const QByteArray feed = edited(signedFeed(m_key));
        QTest::newRow("newer build") << HttpServer::Response{.body = feed, .delayMs = 100} << qint64(5) << QStringLiteral("offer");
        QTest::newRow("current build") << HttpServer::Response{.body = feed} << qint64(7) << QStringLiteral("none");
        QTest::newRow("cut short") << HttpServer::Response{.body = QByteArray(500, '{'), .truncateAt = 10} << qint64(5) << systemError;
        QTest::newRow("nothing listens") << HttpServer::Response{.status = 0} << qint64(5) << systemError;
    }

    void fetch()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(qint64, current);
        QFETCH(QString, expected);
        auto server = std::make_unique<HttpServer>();
        const QUrl url = server->url(QStringLiteral("/feed.json?channel=stable"));
        server->route(QStringLiteral("/feed.json"), response);
        if (response.status == 0)
            server.reset();
        if (expected == u"offer")
            expected = described(7, QStringLiteral("1.4"), releaseNotes, url.resolved(QUrl(QStringLiteral("Telmora-1.4.zip"))).toString(), 1234);
        QNetworkAccessManager network;
        for (int round = 0; round < 2; ++round)
            QCOMPARE(outcome([&] { return test::awaitTask(fetchUpdateOffer(network, url, current, m_key.rawPublicKey(), platform)); }), expected);
        if (server) // asked both times: never answered from a cache
            QCOMPARE(server->queries(QStringLiteral("/feed.json")), QStringList(2, QStringLiteral("channel=stable")));
    }
};

QTEST_GUILESS_MAIN(UpdateFeedTest)
#include "tst_update_feed.moc"
