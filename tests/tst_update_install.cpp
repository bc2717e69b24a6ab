#include "awaittask.h"
#include "sandbox.h"
#include "httpserver.h"
#include "updatefixture.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/install.h"
#include "update/signature.h"

#include <QCoroTask>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace telmora;
using telmora::test::HttpServer;
using telmora::test::PackageSpec;

namespace {

const QString bundleID = QStringLiteral("app.telmora.Telmora");

// Builds archives member by member, including the hostile ones a release never makes.
class ZipBuilder {
public:
    void file(const QString& name, const QByteArray& content, mode_t mode = 0644)
    {
        m_members.append({name, content, S_IFREG | mode});
    }
    void link(const QString& name, const QByteArray& target) { m_members.append({name, target, S_IFLNK | 0777}); }
    void folder(const QString& name) { m_members.append({name + u'/', {}, S_IFDIR | 0755}); }
    // Every file and folder below `folder`, under `prefix`.
    void tree(const QString& folder, const QString& prefix)
    {
        this->folder(prefix);
        QStringList entries;
        QDirIterator walk(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
        while (walk.hasNext())
            entries.append(walk.next());
        entries.sort();
        for (const QString& path : entries) {
            const QString name = prefix + u'/' + QDir(folder).relativeFilePath(path);
            const QFileInfo info(path);
            if (info.isSymLink()) {
                char target[4096];
                const ssize_t length = ::readlink(QFile::encodeName(path).constData(), target, sizeof target);
                link(name, QByteArray(target, static_cast<qsizetype>(qMax<ssize_t>(length, 0))));
            } else if (info.isDir()) {
                this->folder(name);
            } else {
                QFile source(path);
                source.open(QIODevice::ReadOnly);
                file(name, source.readAll(), info.isExecutable() ? 0755 : 0644);
            }
        }
    }
    void save(const QString& path) const
    {
        int error = 0;
        zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        QVERIFY(archive);
        for (const Member& member : m_members) {
            const QByteArray name = member.name.toUtf8();
            zip_int64_t index = -1;
            if (S_ISDIR(member.mode)) {
                index = zip_dir_add(archive, name.constData(), ZIP_FL_ENC_UTF_8);
            } else {
                zip_source_t* source = zip_source_buffer(archive, member.content.constData(),
                                                         static_cast<zip_uint64_t>(member.content.size()), 0);
                index = zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8);
            }
            QVERIFY(index >= 0);
            zip_file_set_external_attributes(archive, static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                             static_cast<zip_uint32_t>(member.mode) << 16);
        }
        QCOMPARE(zip_close(archive), 0);
    }

private:
    struct Member {
        QString name;
        QByteArray content;
        mode_t mode;
    };
    QList<Member> m_members;
};

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// How `action` fails: an UpdateError's kind and text, or no kind and the system's own words.
struct Failure {
    std::optional<UpdateError::Kind> kind;
    QString text;
};

template<typename Action>
std::optional<Failure> failureOf(Action action)
{
    try {
        action();
    } catch (const UpdateError& error) {
        return Failure{error.kind(), error.description()};
    } catch (const UpdateSystemError& error) {
        return Failure{std::nullopt, error.description()};
    }
    return std::nullopt;
}

} // namespace

using PackageChange = std::function<void(const QString& package)>;
using ArchiveBuild = std::function<void(ZipBuilder& zip, const QString& outside)>;
Q_DECLARE_METATYPE(PackageChange)
Q_DECLARE_METATYPE(ArchiveBuild)
Q_DECLARE_METATYPE(telmora::test::PackageSpec)

class UpdateInstallTest : public QObject {
    Q_OBJECT

private:
    test::Sandbox m_root; // TMPDIR in it receives the downloads
    QString m_case; // a fresh folder per test
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    HttpServer m_server;
    QNetworkAccessManager m_network;

    QString casePath(const QString& name) const { return QDir(m_case).filePath(name); }

    // A signed package, archived and served; the offer a feed would make for it.
    UpdateOffer serve(const QString& archive, const QString& route = QStringLiteral("/Telmora.zip"))
    {
        m_server.route(route, HttpServer::fileResponse(archive));
        return test::offerFor(archive, m_server.url(route));
    }

    QString archived(const QString& package)
    {
        const QString archive = casePath(QStringLiteral("update.zip"));
        packFolder(package, archive);
        return archive;
    }

    QString prepare(const UpdateOffer& offer, QList<double>* progress = nullptr)
    {
        std::function<void(double)> onProgress;
        if (progress)
            onProgress = [progress](double fraction) { progress->append(fraction); };
        return test::awaitTask(prepareUpdate(offer, bundleID, casePath(QStringLiteral("work")), m_key.rawPublicKey(),
                                            onProgress, m_network));
    }

    std::optional<Failure> preparingFails(const UpdateOffer& offer)
    {
        return failureOf([&] { (void)prepare(offer); });
    }

    QStringList leftoverDownloads() const
    {
        return QDir(m_root.tempFolder()).entryList({QStringLiteral("*.zip")}, QDir::Files | QDir::Hidden);
    }

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
        const QString path = casePath(QStringLiteral("data.bin"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QCOMPARE(sha256OfFile(path), QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex()));
        QVERIFY_THROWS_EXCEPTION(UpdateSystemError, sha256OfFile(casePath(QStringLiteral("missing.bin"))));
    }

    void preparesSignedUpdate()
    {
        const QString package = test::makePackage(casePath(QStringLiteral("release")));
        signPackage(package, m_key);
        const UpdateOffer offer = serve(archived(package));

        QList<double> progress;
        const QString app = prepare(offer, &progress);
        QCOMPARE(app, casePath(QStringLiteral("work/Telmora.app")));
        // Unpacked intact: the signature covers contents, the executable bit and the link.
        QVERIFY(verifyPackageSignature(app, m_key.rawPublicKey()));

        QVERIFY(!progress.isEmpty());
        QCOMPARE(progress.last(), 1.0);
        QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        QCOMPARE(leftoverDownloads(), QStringList());
    }

    void downloadFailures_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("expected");
        QTest::newRow("one byte short") << "short" << QStringLiteral("Файл обновления повреждён.");
        QTest::newRow("one byte changed") << "changed" << QStringLiteral("Файл обновления повреждён.");
        QTest::newRow("longer than offered") << "long" << QStringLiteral("Файл обновления повреждён.");
        QTest::newRow("HTTP 404") << "404" << QStringLiteral("Сервер обновлений ответил 404.");
        QTest::newRow("connection cut") << "cut" << QString(); // the network layer's own text
    }

    void downloadFailures()
    {
        QFETCH(QString, change);
        QFETCH(QString, expected);
        const QString package = test::makePackage(casePath(QStringLiteral("release")));
        signPackage(package, m_key);
        const QString archive = archived(package);
        const UpdateOffer offer = test::offerFor(archive, m_server.url(QStringLiteral("/Telmora.zip")));

        QByteArray bytes = readAll(archive);
        HttpServer::Response response;
        if (change == u"short")
            bytes.chop(1);
        else if (change == u"changed")
            bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x01);
        else if (change == u"long")
            bytes.append(QByteArray(64 * 1024, 'x'));
        else if (change == u"404")
            response.status = 404;
        else if (change == u"cut")
            response.truncateAt = bytes.size() / 2;
        response.body = bytes;
        m_server.route(QStringLiteral("/Telmora.zip"), response);

        const std::optional<Failure> failure = preparingFails(offer);
        QVERIFY(failure);
        QVERIFY2(failure->kind.has_value() == !expected.isEmpty() && !failure->text.isEmpty(), qPrintable(failure->text));
        if (!expected.isEmpty())
            QCOMPARE(failure->text, expected);
        QCOMPARE(leftoverDownloads(), QStringList());
        QVERIFY(!QFileInfo::exists(casePath(QStringLiteral("work/Telmora.app"))));
    }

    void unsuitablePackage_data()
    {
        QTest::addColumn<PackageSpec>("spec");
        QTest::addColumn<bool>("sign");
        QTest::addColumn<PackageChange>("change"); // after signing

        const PackageSpec plain;
        const PackageSpec otherID{.bundleID = QStringLiteral("app.telmora.Other")};
        const PackageSpec notAnApp{.name = QStringLiteral("Telmora")};
        const auto path = [](const char* relative) {
            return [relative](const QString& package) { return QDir(package).filePath(QString::fromLatin1(relative)); };
        };
        const auto catalog = path("Resources/AppsList.txt");

        QTest::newRow("another bundle identifier") << otherID << true << PackageChange();
        QTest::newRow("not an application folder") << notAnApp << true << PackageChange();
        QTest::newRow("unsigned") << plain << false << PackageChange();
        QTest::newRow("file changed after signing") << plain << true << PackageChange([=](const QString& p) {
            QFile file(catalog(p));
            QVERIFY(file.open(QIODevice::Append));
            file.write("Evil\t1\n");
        });
        QTest::newRow("file added after signing") << plain << true << PackageChange([=](const QString& p) {
            QFile file(path("Resources/extra.so")(p));
            QVERIFY(file.open(QIODevice::WriteOnly));
        });
        QTest::newRow("file removed after signing")
            << plain << true << PackageChange([=](const QString& p) { QVERIFY(QFile::remove(catalog(p))); });
        QTest::newRow("link retargeted after signing") << plain << true << PackageChange([=](const QString& p) {
            const QString link = path("Resources/catalog.txt")(p);
            QVERIFY(QFile::remove(link));
            QVERIFY(QFile::link(QStringLiteral("Info.plist"), link));
        });
        QTest::newRow("executable made plain after signing") << plain << true << PackageChange([=](const QString& p) {
            QVERIFY(QFile::setPermissions(path("telmora")(p), QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        });
        QTest::newRow("signed with another key") << plain << true << PackageChange([](const QString& p) {
            signPackage(p, Ed25519PrivateKey::generate());
        });
        QTest::newRow("signature removed") << plain << true << PackageChange([=](const QString& p) {
            QVERIFY(QFile::remove(path("_CodeSignature/Signature")(p)));
        });
        QTest::newRow("Info.plist missing") << plain << true << PackageChange([=](const QString& p) {
            QVERIFY(QFile::remove(path("Resources/Info.plist")(p)));
        });
    }

    void unsuitablePackage()
    {
        QFETCH(PackageSpec, spec);
        QFETCH(bool, sign);
        QFETCH(PackageChange, change);
        const QString package = test::makePackage(casePath(QStringLiteral("release")), spec);
        if (sign)
            signPackage(package, m_key);
        if (change)
            change(package);
        const std::optional<Failure> failure = preparingFails(serve(archived(package)));
        QVERIFY(failure);
        QCOMPARE(failure->kind, UpdateError::Kind::invalidApp);
        QCOMPARE(failure->text, QStringLiteral("Внутри обновления нет подходящего приложения."));
        QCOMPARE(leftoverDownloads(), QStringList());
    }

    void firstApplicationIsUsed_data()
    {
        QTest::addColumn<QString>("otherName");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ours listed first") << QStringLiteral("Zed.app") << true;
        QTest::newRow("another listed first") << QStringLiteral("Another.app") << false;
    }

    void firstApplicationIsUsed()
    {
        QFETCH(QString, otherName);
        QFETCH(bool, accepted);
        const QString ours = test::makePackage(casePath(QStringLiteral("release")));
        signPackage(ours, m_key);
        const QString other = test::makePackage(casePath(QStringLiteral("release")),
                                                {.name = otherName, .bundleID = QStringLiteral("app.telmora.Other")});
        signPackage(other, m_key);

        ZipBuilder zip;
        zip.tree(other, otherName); // the other one first in the archive too: only the name order counts
        zip.tree(ours, QStringLiteral("Telmora.app"));
        const QString archive = casePath(QStringLiteral("two.zip"));
        zip.save(archive);
        const UpdateOffer offer = serve(archive);
        if (accepted)
            QCOMPARE(prepare(offer), casePath(QStringLiteral("work/Telmora.app")));
        else
            QCOMPARE(preparingFails(offer).value_or(Failure{}).kind, UpdateError::Kind::invalidApp);
    }

    void unpackKeepsPermissionsAndInnerLinks()
    {
        ZipBuilder zip;
        zip.folder(QStringLiteral("Telmora.app"));
        zip.file(QStringLiteral("Telmora.app/telmora"), "#!/bin/sh\n", 0755);
        zip.file(QStringLiteral("Telmora.app/private.txt"), "x", 0600);
        zip.file(QStringLiteral("Telmora.app/setuid"), "x", 04755);
        zip.file(QStringLiteral("Telmora.app/lib/libtool.so.1"), "elf");
        zip.link(QStringLiteral("Telmora.app/lib/libtool.so"), "libtool.so.1");
        zip.link(QStringLiteral("Telmora.app/Current"), "lib/../lib");
        const QString archive = casePath(QStringLiteral("a.zip"));
        zip.save(archive);
        const QString work = casePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        unpackArchive(archive, work);

        const auto mode = [&](const char* name) {
            struct stat info;
            return ::lstat(QFile::encodeName(QDir(work).filePath(QString::fromLatin1(name))).constData(), &info) == 0
                ? info.st_mode & 07777
                : mode_t(-1);
        };
        QCOMPARE(mode("Telmora.app/telmora"), mode_t(0755));
        QCOMPARE(mode("Telmora.app/private.txt"), mode_t(0600));
        QCOMPARE(mode("Telmora.app/setuid"), mode_t(0755)); // never a set-user-id file from an update
        QCOMPARE(readAll(QDir(work).filePath(QStringLiteral("Telmora.app/lib/libtool.so"))), QByteArray("elf"));
        QVERIFY(QFileInfo(QDir(work).filePath(QStringLiteral("Telmora.app/Current"))).isSymLink());
    }

    void unpackRefusesEscapes_data()
    {
        QTest::addColumn<ArchiveBuild>("build");
        using Build = ArchiveBuild;
        QTest::newRow("absolute path") << Build([](ZipBuilder& zip, const QString& outside) {
            zip.file(QStringLiteral("Telmora.app/a"), "a");
            zip.file(outside + QStringLiteral("/escaped"), "x");
        });
        QTest::newRow("parent component") << Build([](ZipBuilder& zip, const QString&) {
            zip.file(QStringLiteral("Telmora.app/a"), "a");
            zip.file(QStringLiteral("../outside/escaped"), "x");
        });
        QTest::newRow("parent inside a name") << Build([](ZipBuilder& zip, const QString&) {
            zip.file(QStringLiteral("Telmora.app/../../outside/escaped"), "x");
        });
        QTest::newRow("link to an absolute folder") << Build([](ZipBuilder& zip, const QString& outside) {
            zip.link(QStringLiteral("Telmora.app/out"), QFile::encodeName(outside));
        });
        QTest::newRow("link climbing out") << Build([](ZipBuilder& zip, const QString&) {
            zip.link(QStringLiteral("Telmora.app/out"), "../../outside");
        });
        QTest::newRow("write through an outward link") << Build([](ZipBuilder& zip, const QString&) {
            zip.link(QStringLiteral("out"), "../outside");
            zip.file(QStringLiteral("out/escaped"), "x");
        });
        QTest::newRow("write through an inner link") << Build([](ZipBuilder& zip, const QString&) {
            zip.folder(QStringLiteral("Telmora.app"));
            zip.link(QStringLiteral("Telmora.app/self"), ".");
            zip.file(QStringLiteral("Telmora.app/self/escaped"), "x");
        });
        QTest::newRow("chain of links") << Build([](ZipBuilder& zip, const QString&) {
            // Each looks harmless by name; together "m" is the folder above the work folder.
            zip.folder(QStringLiteral("d/e"));
            zip.link(QStringLiteral("d/e/l"), "../..");
            zip.link(QStringLiteral("m"), "d/e/l/..");
        });
        QTest::newRow("dangling link") << Build([](ZipBuilder& zip, const QString&) {
            zip.link(QStringLiteral("Telmora.app/nowhere"), "missing/file");
        });
    }

    void unpackRefusesEscapes()
    {
        QFETCH(ArchiveBuild, build);
        const QString outside = casePath(QStringLiteral("outside"));
        QVERIFY(QDir().mkpath(outside));
        const QString work = casePath(QStringLiteral("work"));
        QVERIFY(QDir().mkpath(work));
        ZipBuilder zip;
        build(zip, outside);
        const QString archive = casePath(QStringLiteral("hostile.zip"));
        zip.save(archive);

        QCOMPARE(failureOf([&] { unpackArchive(archive, work); }).value_or(Failure{}).kind, UpdateError::Kind::invalidApp);
        QCOMPARE(entriesOf(outside), QStringList());
        QCOMPARE(entriesOf(m_case), (QStringList{QStringLiteral("hostile.zip"), QStringLiteral("outside"), QStringLiteral("work")}));
    }

    void notWritableBeforeAnythingMoves()
    {
        const QString apps = casePath(QStringLiteral("apps"));
        const QString target = test::makePackage(apps);
        const QString work = casePath(QStringLiteral("work"));
        const QString fresh = test::makePackage(work, {.version = QStringLiteral("3.0")});
        const QString marker = casePath(QStringLiteral("update-failed"));

        // Root ignores permission bits; an immutable folder stops root too.
        const bool root = ::geteuid() == 0;
        const auto run = [](const QString& program, const QStringList& args) {
            QProcess process;
            process.start(program, args);
            return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        };
        if (root) {
            if (!run(QStringLiteral("chattr"), {QStringLiteral("+i"), apps}))
                QSKIP("running as root on a file system without immutable folders: no folder is unwritable for root here");
        } else {
            QVERIFY(QFile::setPermissions(apps, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        }
        const auto restore = qScopeGuard([&] {
            if (root)
                run(QStringLiteral("chattr"), {QStringLiteral("-i"), apps});
            else
                QFile::setPermissions(apps, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });

        const std::optional<Failure> failure = failureOf([&] { launchSwapHelper(fresh, target, work, marker); });
        QVERIFY(failure);
        QCOMPARE(failure->kind, UpdateError::Kind::notWritable);
        QCOMPARE(failure->text, QStringLiteral("Нет прав на замену приложения. Установите его в папку, где у вас есть права на запись."));
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
        // A package that is not there cannot be moved in: the old one has to come back.
        const QString moved = newArrives ? fresh : QDir(work).filePath(QStringLiteral("Missing.app"));
        const QString marker = casePath(QStringLiteral("data/update-failed"));
        QVERIFY(QDir().mkpath(casePath(QStringLiteral("data"))));

        // Stands in for the running application, which the script waits for.
        QProcess running;
        running.start(QStringLiteral("sleep"), {QStringLiteral("600")});
        QVERIFY(running.waitForStarted());
        launchSwapHelper(moved, target, work, marker, running.processId());

        QTest::qWait(300); // the script is polling; nothing may have moved
        QVERIFY(readAll(QDir(target).filePath(QStringLiteral("Resources/Info.plist"))).contains("1.0"));
        QVERIFY(QFileInfo::exists(work));
        running.kill();
        QVERIFY(running.waitForFinished());

        const QByteArray expected = newArrives ? "2.0\n" : "1.0\n";
        QTRY_COMPARE_WITH_TIMEOUT(readAll(launched), expected, 30000);
        QVERIFY(readAll(QDir(target).filePath(QStringLiteral("Resources/Info.plist"))).contains(expected.trimmed()));
        QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(work), 30000);
        QCOMPARE(entriesOf(apps), QStringList{QStringLiteral("Telmora.app")}); // no backup left
        QCOMPARE(QFileInfo::exists(marker), !newArrives);
    }
};

QTEST_GUILESS_MAIN(UpdateInstallTest)
#include "tst_update_install.moc"
