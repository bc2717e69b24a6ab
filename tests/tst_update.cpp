// Updates: the signed feed, the Info.plist settings and fetching; preparing a downloaded
// package, unpacking it safely, and the swap that puts it in place.
#include "awaittask.h"
#include "httpserver.h"
#include "sandbox.h"
#include "updatefixture.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/feed.h"
#include "update/install.h"
#include "update/signature.h"

#include <QCoroTask>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <zip.h>

#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace telmora;
using telmora::test::HttpServer;
using telmora::test::PackageSpec;
using telmora::test::readFile;

namespace {

const QString platform = QStringLiteral("linux");
const QUrl feedURL(QStringLiteral("https://updates.telmora.app/feed/feed.json"));
const QString archiveHash = QStringLiteral("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
const QString releaseNotes = QStringLiteral("Исправления.\nВторая строка.");
const QString badSignature = QStringLiteral("Подпись обновления не сходится.");
const QString damaged = QStringLiteral("Файл обновления повреждён.");
const QString invalidApp = QStringLiteral("Внутри обновления нет подходящего приложения.");
const QString systemError = QStringLiteral("(system error)");

// How `action` ends: the text it returns, an UpdateError's text, or systemError (with a text of its own).
template<typename Action>
QString outcome(Action action)
{
    try {
        return action();
    } catch (const UpdateError& error) {
        return error.description();
    } catch (const UpdateSystemError& error) {
        return error.description().isEmpty() ? QStringLiteral("system error without text") : systemError;
    }
}

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

// "none", or the offer (its sha256 only when it is not archiveHash).
QString described(const std::optional<UpdateOffer>& offer)
{
    if (!offer)
        return QStringLiteral("none");
    return described(offer->build, offer->version, offer->notes, offer->url.toString(), offer->size)
        + (offer->sha256 == archiveHash ? QString() : u' ' + offer->sha256);
}

QVariantMap info(const QVariant& feed, const QVariant& key, const QVariant& build = {}, const QVariant& version = {})
{
    QVariantMap map{{QStringLiteral("TelmoraUpdateFeed"), feed}, {QStringLiteral("TelmoraUpdateKey"), key},
                    {QStringLiteral("CFBundleVersion"), build}, {QStringLiteral("CFBundleShortVersionString"), version}};
    map.removeIf([](QVariantMap::iterator entry) { return !entry.value().isValid(); });
    return map;
}

// Adds `members` to a ZIP archive (a new one, or one packFolder wrote), hostile ones included:
// "name" or "name 0600" is a file holding its own name, "name/" a folder, "name -> target" a link.
void addToZip(const QString& path, const QStringList& members)
{
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE, nullptr);
    QVERIFY(archive);
    QByteArrayList contents; // read only when the archive is closed
    for (const QString& member : members) {
        const QStringList link = member.split(QStringLiteral(" -> "));
        const QStringList file = member.split(u' ');
        const QByteArray name = (link.size() > 1 ? link : file).constFirst().toUtf8();
        const QByteArray& content = contents.emplace_back(link.size() > 1 ? link[1].toUtf8() : name);
        const mode_t mode = link.size() > 1 ? S_IFLNK | 0777
            : name.endsWith('/')            ? S_IFDIR | 0755
                                            : S_IFREG | (file.size() > 1 ? file[1].toUInt(nullptr, 8) : 0644);
        const zip_int64_t index = S_ISDIR(mode)
            ? zip_dir_add(archive, name.constData(), ZIP_FL_ENC_UTF_8)
            : zip_file_add(archive, name.constData(), zip_source_buffer(archive, content.constData(), zip_uint64_t(content.size()), 0),
                           ZIP_FL_ENC_UTF_8);
        QVERIFY(index >= 0);
        zip_file_set_external_attributes(archive, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX, zip_uint32_t(mode) << 16);
    }
    QCOMPARE(zip_close(archive), 0);
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

using Change = std::function<void(const QString& package, QStringList& addedMembers)>;
using Serving = std::function<void(HttpServer::Response&)>; // alters the archive's response
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(Serving)
Q_DECLARE_METATYPE(telmora::test::PackageSpec)
Q_DECLARE_METATYPE(telmora::test::HttpServer::Response)

class UpdateTest : public QObject {
    Q_OBJECT

private:
    test::Sandbox m_root; // its TMPDIR receives the downloads
    QString m_case; // a fresh folder per test
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    Ed25519PrivateKey m_otherKey = Ed25519PrivateKey::generate();
    HttpServer m_server;
    QNetworkAccessManager m_network;

    QString casePath(const QString& name) const { return QDir(m_case).filePath(name); }

private Q_SLOTS:
    void init()
    {
        static int number = 0;
        m_case = m_root.filePath(QStringLiteral("case%1").arg(++number));
        QVERIFY(QDir().mkpath(m_case));
    }

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
        QCOMPARE(outcome([&] { return described(parseUpdateFeed(data, feedURL, current, m_key.rawPublicKey(), platform)); }), expected);
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
        for (int round = 0; round < 2; ++round)
            QCOMPARE(outcome([&] { return described(test::awaitTask(fetchUpdateOffer(m_network, url, current, m_key.rawPublicKey(), platform))); }),
                     expected);
        if (server) // asked both times: never answered from a cache
            QCOMPARE(server->queries(QStringLiteral("/feed.json")), QStringList(2, QStringLiteral("channel=stable")));
    }

    void hashesFiles_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty") << qint64(0);
        QTest::newRow("three bytes") << qint64(3);
        QTest::newRow("exactly one chunk") << qint64(1024 * 1024);
        QTest::newRow("chunks and a tail") << qint64(2 * 1024 * 1024 + 512 * 1024 + 1);
    }

    void hashesFiles()
    {
        QFETCH(qint64, size);
        QByteArray content(size, Qt::Uninitialized);
        for (qint64 i = 0; i < size; ++i)
            content[i] = static_cast<char>((i * 7919) >> 3);
        const QString file = casePath(QStringLiteral("data.bin"));
        QVERIFY(test::writeFile(file, content));
        QCOMPARE(sha256OfFile(file), QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
        QVERIFY_THROWS_EXCEPTION(UpdateSystemError, sha256OfFile(casePath(QStringLiteral("missing.bin"))));
    }

    // A package made, signed, changed (members may be added to its archive), served (as
    // `serving` alters it), then prepared.
    void prepares_data()
    {
        QTest::addColumn<PackageSpec>("spec");
        QTest::addColumn<Change>("change"); // after signing
        QTest::addColumn<Serving>("serving");
        QTest::addColumn<QString>("expected"); // "" when prepared
        const auto row = [](const char* name, const QString& expected, const Change& change = {}, const Serving& serving = {},
                            const PackageSpec& spec = {}) {
            QTest::newRow(name) << spec << change << serving << expected;
        };
        const auto at = [](const QString& package, const char* relative) { return QDir(package).filePath(QString::fromLatin1(relative)); };
        const auto remove = [at](const char* relative) { return [=](const QString& p, QStringList&) { QVERIFY(QFile::remove(at(p, relative))); }; };
        // Only the first ".app" by name counts, wherever the archive lists it.
        const auto addApp = [](const char* name) {
            return [=](const QString&, QStringList& added) { added.append(QString::fromLatin1(name) + QStringLiteral("/telmora 0755")); };
        };

        row("signed package", QString());
        row("another application after ours", QString(), addApp("Zed.app"));
        row("one byte short", damaged, {}, [](HttpServer::Response& r) { r.body.chop(1); });
        row("one byte changed", damaged, {}, [](HttpServer::Response& r) { r.body[r.body.size() / 2] ^= 0x01; });
        row("longer than offered", damaged, {}, [](HttpServer::Response& r) { r.body.append(QByteArray(64 * 1024, 'x')); });
        row("HTTP 404", QStringLiteral("Сервер обновлений ответил 404."), {}, [](HttpServer::Response& r) { r.status = 404; });
        row("connection cut", systemError, {}, [](HttpServer::Response& r) { r.truncateAt = r.body.size() / 2; });
        row("another application first by name", invalidApp, addApp("Another.app"));
        row("another bundle identifier", invalidApp, {}, {}, {.bundleID = QStringLiteral("app.telmora.Other")});
        row("not an application folder", invalidApp, {}, {}, {.name = QStringLiteral("Telmora")});
        row("unsigned", invalidApp, [=](const QString& p, QStringList&) { QVERIFY(QDir(at(p, "_CodeSignature")).removeRecursively()); });
        row("file changed after signing", invalidApp, [=](const QString& p, QStringList&) {
            QFile file(at(p, "Resources/AppsList.txt"));
            QVERIFY(file.open(QIODevice::Append) && file.write("Evil\t1\n"));
        });
        row("file added after signing", invalidApp,
            [=](const QString& p, QStringList&) { QVERIFY(test::writeFile(at(p, "Resources/extra.so"), {})); });
        row("file removed after signing", invalidApp, remove("Resources/AppsList.txt"));
        row("link retargeted after signing", invalidApp, [=](const QString& p, QStringList&) {
            QVERIFY(QFile::remove(at(p, "Resources/catalog.txt")));
            QVERIFY(QFile::link(QStringLiteral("Info.plist"), at(p, "Resources/catalog.txt")));
        });
        row("executable made plain after signing", invalidApp, [=](const QString& p, QStringList&) {
            QVERIFY(QFile::setPermissions(at(p, "telmora"), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        });
        row("signed with another key", invalidApp, [](const QString& p, QStringList&) { signPackage(p, Ed25519PrivateKey::generate()); });
        row("signature removed", invalidApp, remove("_CodeSignature/Signature"));
        row("Info.plist missing", invalidApp, remove("Resources/Info.plist"));
    }

    void prepares()
    {
        QFETCH(PackageSpec, spec);
        QFETCH(Change, change);
        QFETCH(Serving, serving);
        QFETCH(QString, expected);
        const QString package = test::makePackage(casePath(QStringLiteral("release")), spec);
        signPackage(package, m_key);
        QStringList added;
        if (change)
            change(package, added);
        const QString archive = casePath(QStringLiteral("update.zip"));
        packFolder(package, archive);
        addToZip(archive, added);

        const UpdateOffer offer{.build = 2, .url = m_server.url(QStringLiteral("/Telmora.zip")), .sha256 = sha256OfFile(archive),
                                .size = QFileInfo(archive).size()};
        HttpServer::Response response{.body = readFile(archive)};
        if (serving)
            serving(response);
        m_server.route(QStringLiteral("/Telmora.zip"), response);
        QList<double> progress;
        const QString app = casePath(QStringLiteral("work/Telmora.app"));
        QCOMPARE(outcome([&] {
                     return test::awaitTask(prepareUpdate(offer, QStringLiteral("app.telmora.Telmora"), casePath(QStringLiteral("work")),
                                                          m_key.rawPublicKey(), [&](double fraction) { progress.append(fraction); }, m_network));
                 }),
                 expected.isEmpty() ? app : expected);

        QCOMPARE(entriesOf(m_root.tempFolder()).filter(QStringLiteral(".zip")), QStringList()); // the download is gone
        if (serving)
            QVERIFY(!QFileInfo::exists(app));
        if (!expected.isEmpty())
            return;
        // Unpacked intact: the signature covers contents, the executable bit and the link.
        QVERIFY(verifyPackageSignature(app, m_key.rawPublicKey()));
        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 1.0);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
    }

    void unpackKeepsPermissionsAndInnerLinks()
    {
        const QString archive = casePath(QStringLiteral("a.zip"));
        addToZip(archive, {QStringLiteral("Telmora.app/"), QStringLiteral("Telmora.app/telmora 0755"), QStringLiteral("Telmora.app/private.txt 0600"),
                           QStringLiteral("Telmora.app/setuid 04755"), QStringLiteral("Telmora.app/lib/libtool.so.1"),
                           QStringLiteral("Telmora.app/lib/libtool.so -> libtool.so.1"), QStringLiteral("Telmora.app/Current -> lib/../lib")});
        const QDir work(casePath(QStringLiteral("work")));
        QVERIFY(work.mkpath(QStringLiteral(".")));
        unpackArchive(archive, work.path());

        const auto mode = [&](const char* name) {
            struct stat info;
            return ::lstat(QFile::encodeName(work.filePath(QString::fromLatin1(name))).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
        };
        QCOMPARE(mode("Telmora.app/telmora"), mode_t(0755));
        QCOMPARE(mode("Telmora.app/private.txt"), mode_t(0600));
        QCOMPARE(mode("Telmora.app/setuid"), mode_t(0755)); // never a set-user-id file from an update
        QCOMPARE(readFile(work.filePath(QStringLiteral("Telmora.app/lib/libtool.so"))), QByteArray("Telmora.app/lib/libtool.so.1"));
        QVERIFY(QFileInfo(work.filePath(QStringLiteral("Telmora.app/Current"))).isSymLink());
    }

    // Members as addToZip reads them; "@" is a folder next to the work folder.
    void unpackRefusesEscapes_data()
    {
        QTest::addColumn<QStringList>("members");
        QTest::newRow("absolute path") << QStringList{QStringLiteral("Telmora.app/a"), QStringLiteral("@/escaped")};
        QTest::newRow("parent component") << QStringList{QStringLiteral("Telmora.app/a"), QStringLiteral("../outside/escaped")};
        QTest::newRow("parent inside a name") << QStringList{QStringLiteral("Telmora.app/../../outside/escaped")};
        QTest::newRow("link to an absolute folder") << QStringList{QStringLiteral("Telmora.app/out -> @")};
        QTest::newRow("link climbing out") << QStringList{QStringLiteral("Telmora.app/out -> ../../outside")};
        QTest::newRow("write through an outward link") << QStringList{QStringLiteral("out -> ../outside"), QStringLiteral("out/escaped")};
        QTest::newRow("write through an inner link")
            << QStringList{QStringLiteral("Telmora.app/"), QStringLiteral("Telmora.app/self -> ."), QStringLiteral("Telmora.app/self/escaped")};
        // Each looks harmless by name; together "m" is the folder above the work folder.
        QTest::newRow("chain of links") << QStringList{QStringLiteral("d/e/"), QStringLiteral("d/e/l -> ../.."), QStringLiteral("m -> d/e/l/..")};
        QTest::newRow("dangling link") << QStringList{QStringLiteral("Telmora.app/nowhere -> missing/file")};
    }

    void unpackRefusesEscapes()
    {
        QFETCH(QStringList, members);
        const QString outside = casePath(QStringLiteral("outside"));
        const QString work = casePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(outside) && QDir().mkpath(work));
        const QString archive = casePath(QStringLiteral("hostile.zip"));
        addToZip(archive, members.replaceInStrings(QStringLiteral("@"), outside));

        QCOMPARE(outcome([&] { unpackArchive(archive, work); return QString(); }), invalidApp);
        QCOMPARE(entriesOf(outside), QStringList());
        QCOMPARE(entriesOf(m_case), (QStringList{QStringLiteral("hostile.zip"), QStringLiteral("outside"), QStringLiteral("work")}));
    }

    void notWritableBeforeAnythingMoves()
    {
        const QString apps = casePath(QStringLiteral("apps"));
        const QString target = test::makePackage(apps);
        const QString fresh = test::makePackage(casePath(QStringLiteral("work")), {.version = QStringLiteral("3.0")});
        const QString marker = casePath(QStringLiteral("update-failed"));

        // Root ignores permission bits; an immutable folder stops root too.
        const auto lock = [&apps](bool locked) {
            if (::geteuid() == 0)
                return QProcess::execute(QStringLiteral("chattr"), {locked ? QStringLiteral("+i") : QStringLiteral("-i"), apps}) == 0;
            return QFile::setPermissions(apps, QFileDevice::ReadOwner | QFileDevice::ExeOwner | (locked ? QFileDevice::ReadOwner : QFileDevice::WriteOwner));
        };
        if (!lock(true))
            QSKIP("no folder can be made unwritable here (root on a file system without immutable folders)");
        const auto restore = qScopeGuard([&] { lock(false); });

        QCOMPARE(outcome([&] { launchSwapHelper(fresh, target, casePath(QStringLiteral("work")), marker); return QString(); }),
                 QStringLiteral("Нет прав на замену приложения. Установите его в папку, где у вас есть права на запись."));
        QCOMPARE(entriesOf(apps), QStringList{QStringLiteral("Telmora.app")});
        QVERIFY(QFileInfo::exists(QDir(fresh).filePath(QStringLiteral("telmora"))));
        QVERIFY(!QFileInfo::exists(marker));
    }

    void swap_data()
    {
        QTest::addColumn<bool>("newArrives");
        QTest::newRow("new package moved in") << true;
        QTest::newRow("new package cannot be moved") << false;
    }

    void swap()
    {
        QFETCH(bool, newArrives);
        const QString launched = casePath(QStringLiteral("launched"));
        const QString apps = casePath(QStringLiteral("apps"));
        const QString target = test::makePackage(apps, {.version = QStringLiteral("1.0"), .launchRecord = launched});
        const QString work = casePath(QStringLiteral("work"));
        const QString fresh = test::makePackage(work, {.version = QStringLiteral("2.0"), .launchRecord = launched});
        const QString marker = casePath(QStringLiteral("update-failed"));
        const auto plist = [&] { return readFile(QDir(target).filePath(QStringLiteral("Resources/Info.plist"))); };

        // Stands in for the running application, which the script waits for.
        QProcess running;
        running.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(running.waitForStarted());
        // A package that is not there cannot be moved in: the old one has to come back.
        launchSwapHelper(newArrives ? fresh : QDir(work).filePath(QStringLiteral("Missing.app")), target, work, marker,
                         running.processId());
        QTest::qWait(300); // the script is polling; nothing may have moved
        QVERIFY(plist().contains("1.0"));
        QVERIFY(QFileInfo::exists(work));
        running.kill();
        QVERIFY(running.waitForFinished());

        const QByteArray expected = newArrives ? "2.0\n" : "1.0\n";
        QTRY_COMPARE_WITH_TIMEOUT(readFile(launched), expected, 30000);
        QVERIFY(plist().contains(expected.trimmed()));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(work), 30000);
        QCOMPARE(entriesOf(apps), QStringList{QStringLiteral("Telmora.app")}); // no backup left
        QCOMPARE(QFileInfo::exists(marker), !newArrives);
    }
};

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
