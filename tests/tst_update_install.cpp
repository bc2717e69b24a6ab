#include "awaittask.h"
#include "httpserver.h"
#include "sandbox.h"
#include "updatefixture.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/install.h"
#include "update/signature.h"

#include <QCoroTask>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <zip.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace telmora;
using telmora::test::HttpServer;
using telmora::test::PackageSpec;

namespace {

const QString damaged = QStringLiteral("Файл обновления повреждён.");
const QString invalidApp = QStringLiteral("Внутри обновления нет подходящего приложения.");
const QString systemError = QStringLiteral("(system error)");

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

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// How `action` ends: "" on success, an UpdateError's text, or systemError (with a text of its own).
template<typename Action>
QString failureOf(Action action)
{
    try {
        action();
    } catch (const UpdateError& error) {
        return error.description();
    } catch (const UpdateSystemError& error) {
        return error.description().isEmpty() ? QStringLiteral("system error without text") : systemError;
    }
    return {};
}

} // namespace

using Change = std::function<void(const QString& package, QStringList& addedMembers)>;
using Serving = std::function<void(HttpServer::Response&)>; // alters the archive's response
Q_DECLARE_METATYPE(Change)
Q_DECLARE_METATYPE(Serving)
Q_DECLARE_METATYPE(telmora::test::PackageSpec)

class UpdateInstallTest : public QObject {
    Q_OBJECT

private:
    test::Sandbox m_root; // its TMPDIR receives the downloads
    QString m_case; // a fresh folder per test
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
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
        QFile file(casePath(QStringLiteral("data.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == size);
        file.close();
        QCOMPARE(sha256OfFile(file.fileName()), QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
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
            [=](const QString& p, QStringList&) { QVERIFY(QFile(at(p, "Resources/extra.so")).open(QIODevice::WriteOnly)); });
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
        HttpServer::Response response{.body = readAll(archive)};
        if (serving)
            serving(response);
        m_server.route(QStringLiteral("/Telmora.zip"), response);
        QList<double> progress;
        QString app;
        QCOMPARE(failureOf([&] {
                     app = test::awaitTask(prepareUpdate(offer, QStringLiteral("app.telmora.Telmora"), casePath(QStringLiteral("work")),
                                                        m_key.rawPublicKey(), [&](double fraction) { progress.append(fraction); }, m_network));
                 }),
                 expected);

        QCOMPARE(entriesOf(m_root.tempFolder()).filter(QStringLiteral(".zip")), QStringList()); // the download is gone
        if (serving)
            QVERIFY(!QFileInfo::exists(casePath(QStringLiteral("work/Telmora.app"))));
        if (!expected.isEmpty())
            return;
        QCOMPARE(app, casePath(QStringLiteral("work/Telmora.app")));
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
        QCOMPARE(readAll(work.filePath(QStringLiteral("Telmora.app/lib/libtool.so"))), QByteArray("Telmora.app/lib/libtool.so.1"));
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

        QCOMPARE(failureOf([&] { unpackArchive(archive, work); }), invalidApp);
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

        QCOMPARE(failureOf([&] { launchSwapHelper(fresh, target, casePath(QStringLiteral("work")), marker); }),
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
        const auto plist = [&] { return readAll(QDir(target).filePath(QStringLiteral("Resources/Info.plist"))); };

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
        QTRY_COMPARE_WITH_TIMEOUT(readAll(launched), expected, 30000);
        QVERIFY(plist().contains(expected.trimmed()));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(work), 30000);
        QCOMPARE(entriesOf(apps), QStringList{QStringLiteral("Telmora.app")}); // no backup left
        QCOMPARE(QFileInfo::exists(marker), !newArrives);
    }
};

QTEST_GUILESS_MAIN(UpdateInstallTest)
#include "tst_update_install.moc"
