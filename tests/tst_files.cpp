// Stored packages: listing, re-reading only what changed, the file-name map and the trash.
#include "store/store.h"

#include "ipafixture.h"
#include "storeaccess.h"
#include "sandbox.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::Sandbox;

namespace {

QVariantMap plist(const QString& name, const QString& version, const QString& minOS = QStringLiteral("15.0"))
{
    return {{QStringLiteral("CFBundleDisplayName"), name},
            {QStringLiteral("CFBundleShortVersionString"), version},
            {QStringLiteral("MinimumOSVersion"), minOS},
            {QStringLiteral("DTPlatformName"), QStringLiteral("iphoneos")}};
}

void setModified(const QString& path, const QDateTime& time)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(time, QFileDevice::FileModificationTime));
}

QJsonObject readFilesJson(const QString& dataFolder)
{
    QFile file(QDir(dataFolder).filePath(QStringLiteral("files.json")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

class FilesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        QVERIFY(QDir().mkpath(m_sandbox->downloadsFolder()));
        m_store = std::make_unique<Store>(StoreOptions{.resourcesFolder = QStringLiteral(TELMORA_SOURCE_DIR "/resources"), .autoStart = false});
        m_downloads = m_sandbox->downloadsFolder();
    }

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void listsOnlyPackagesNewestFirst()
    {
        const QDateTime base = QDateTime::currentDateTimeUtc().addSecs(-3600);
        QVERIFY(test::writeIPA(path("A.IPA"), QStringLiteral("A"), plist(QStringLiteral("Alpha"), QStringLiteral("1.0"))));
        QVERIFY(test::writeIPA(path("b.ipa"), QStringLiteral("B"), plist(QStringLiteral("Beta"), QStringLiteral("2.0"))));
        QVERIFY(test::writeIPA(path(".hidden.ipa"), QStringLiteral("H"), plist(QStringLiteral("Hidden"), QStringLiteral("3.0"))));
        QFile notes(path("notes.txt"));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("not a package");
        notes.close();
        QVERIFY(QDir().mkpath(path("folder.ipa")));
        QVERIFY(QDir().mkpath(path(".tmp-ABC")));
        QVERIFY(test::writeIPA(path(".tmp-ABC/inner.ipa"), QStringLiteral("I"), plist(QStringLiteral("Inner"), QStringLiteral("1"))));
        setModified(path("A.IPA"), base);
        setModified(path("b.ipa"), base.addSecs(60));
        setModified(path(".hidden.ipa"), base.addSecs(30));
        StoreTestAccess::fileApps(*m_store).insert(QStringLiteral("b.ipa"), QStringLiteral("222"));

        QCoro::waitFor(m_store->refreshFiles());

        const QList<IPAFile>& files = m_store->files();
        QCOMPARE(files.size(), 3);
        QCOMPARE(files.at(0).url, path("b.ipa"));
        QCOMPARE(files.at(1).url, path(".hidden.ipa"));
        QCOMPARE(files.at(2).url, path("A.IPA"));
        QCOMPARE(files.at(0).appID, std::optional<QString>(QStringLiteral("222")));
        QCOMPARE(files.at(2).appID, std::nullopt);
        QVERIFY(files.at(0).info);
        QCOMPARE(files.at(0).info->name, QStringLiteral("Beta"));
        QCOMPARE(files.at(2).info->version, QStringLiteral("1.0"));
        QCOMPARE(files.at(0).size, QFileInfo(path("b.ipa")).size());
        QCOMPARE(files.at(0).modified, base.addSecs(60));
    }

    void unreadablePackageIsListedWithoutInfo()
    {
        QFile broken(path("broken.ipa"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("plain text");
        broken.close();
        QCoro::waitFor(m_store->refreshFiles());
        QCOMPARE(m_store->files().size(), 1);
        QCOMPARE(m_store->files().at(0).info, std::nullopt);
        QCOMPARE(m_store->files().at(0).size, qint64(10));
    }

    void readsAgainOnlyWhenTouched()
    {
        const QDateTime first = QDateTime::currentDateTimeUtc().addSecs(-600);
        QVERIFY(test::writeIPA(path("app.ipa"), QStringLiteral("App"), plist(QStringLiteral("Old"), QStringLiteral("1.0"))));
        setModified(path("app.ipa"), first);
        QCoro::waitFor(m_store->refreshFiles());
        QCOMPARE(m_store->files().at(0).info->name, QStringLiteral("Old"));

        // New content under the same modification time: the remembered metadata stays.
        QVERIFY(test::writeIPA(path("app.ipa"), QStringLiteral("App"), plist(QStringLiteral("New"), QStringLiteral("2.0"))));
        setModified(path("app.ipa"), first);
        QCoro::waitFor(m_store->refreshFiles());
        QCOMPARE(m_store->files().at(0).info->name, QStringLiteral("Old"));
        // The size is always taken afresh.
        QCOMPARE(m_store->files().at(0).size, QFileInfo(path("app.ipa")).size());

        setModified(path("app.ipa"), first.addSecs(5));
        QCoro::waitFor(m_store->refreshFiles());
        QCOMPARE(m_store->files().at(0).info->name, QStringLiteral("New"));
        QCOMPARE(m_store->files().at(0).info->version, QStringLiteral("2.0"));
    }

    void fileForAppIsTheNewest()
    {
        const QDateTime base = QDateTime::currentDateTimeUtc().addSecs(-600);
        QVERIFY(test::writeIPA(path("old.ipa"), QStringLiteral("App"), plist(QStringLiteral("App"), QStringLiteral("1"))));
        QVERIFY(test::writeIPA(path("new.ipa"), QStringLiteral("App"), plist(QStringLiteral("App"), QStringLiteral("2"))));
        QVERIFY(test::writeIPA(path("unrecorded.ipa"), QStringLiteral("App"), plist(QStringLiteral("App"), QStringLiteral("3"))));
        setModified(path("old.ipa"), base);
        setModified(path("new.ipa"), base.addSecs(10));
        setModified(path("unrecorded.ipa"), base.addSecs(20));
        auto& map = StoreTestAccess::fileApps(*m_store);
        map.insert(QStringLiteral("old.ipa"), QStringLiteral("777"));
        map.insert(QStringLiteral("new.ipa"), QStringLiteral("777"));
        QCoro::waitFor(m_store->refreshFiles());

        QCOMPARE(m_store->file(QStringLiteral("777"))->url, path("new.ipa"));
        QCOMPARE(m_store->file(QStringLiteral("778")), std::nullopt);
        QCOMPARE(m_store->file(QString()), std::nullopt);

        // Making the older file the newer one changes the answer.
        setModified(path("old.ipa"), base.addSecs(30));
        QCoro::waitFor(m_store->refreshFiles());
        QCOMPARE(m_store->file(QStringLiteral("777"))->url, path("old.ipa"));
    }

    void saveFileAppsCreatesTheDataFolderAndRoundTrips()
    {
        QVERIFY(!QFileInfo::exists(m_sandbox->dataFolder()));
        auto& map = StoreTestAccess::fileApps(*m_store);
        map.insert(QStringLiteral("Notes_1.0_iOS_15.0+_a@b.c.ipa"), QStringLiteral("123456"));
        map.insert(QStringLiteral("Maps «new».ipa"), QStringLiteral("654321"));
        m_store->saveFileApps();

        const QJsonObject saved = readFilesJson(m_sandbox->dataFolder());
        QCOMPARE(saved.size(), 2);
        QCOMPARE(saved.value(QStringLiteral("Maps «new».ipa")).toString(), QStringLiteral("654321"));

        Store reloaded(StoreOptions{.resourcesFolder = QStringLiteral(TELMORA_SOURCE_DIR "/resources"), .autoStart = false});
        StoreTestAccess::loadFileApps(reloaded);
        QCOMPARE(reloaded.fileApps(), m_store->fileApps());
    }

    void trashForgetsTheFile()
    {
        QVERIFY(test::writeIPA(path("keep.ipa"), QStringLiteral("App"), plist(QStringLiteral("Keep"), QStringLiteral("1"))));
        QVERIFY(test::writeIPA(path("gone.ipa"), QStringLiteral("App"), plist(QStringLiteral("Gone"), QStringLiteral("2"))));
        setModified(path("keep.ipa"), QDateTime::currentDateTimeUtc().addSecs(-100));
        auto& map = StoreTestAccess::fileApps(*m_store);
        map.insert(QStringLiteral("keep.ipa"), QStringLiteral("1"));
        map.insert(QStringLiteral("gone.ipa"), QStringLiteral("2"));
        m_store->saveFileApps();
        QCoro::waitFor(m_store->refreshFiles());
        const IPAFile gone = *m_store->file(QStringLiteral("2"));

        QCoro::waitFor(m_store->moveToTrash(gone));

        QVERIFY(!QFileInfo::exists(path("gone.ipa")));
        QVERIFY(QFileInfo::exists(m_sandbox->filePath(QStringLiteral(".local/share/Trash/files/gone.ipa"))));
        QCOMPARE(m_store->file(QStringLiteral("2")), std::nullopt);
        QCOMPARE(m_store->files().size(), 1);
        const QJsonObject saved = readFilesJson(m_sandbox->dataFolder());
        QVERIFY(!saved.contains(QStringLiteral("gone.ipa")));
        QCOMPARE(saved.value(QStringLiteral("keep.ipa")).toString(), QStringLiteral("1"));
        QCOMPARE(m_store->notice(), std::nullopt);
    }

    void failedTrashSetsTheNoticeAndKeepsTheMap()
    {
        QVERIFY(test::writeIPA(path("app.ipa"), QStringLiteral("App"), plist(QStringLiteral("App"), QStringLiteral("1"))));
        StoreTestAccess::fileApps(*m_store).insert(QStringLiteral("app.ipa"), QStringLiteral("9"));
        QCoro::waitFor(m_store->refreshFiles());
        IPAFile missing = m_store->files().at(0);
        missing.url = path("missing.ipa");

        QCoro::waitFor(m_store->moveToTrash(missing));

        QVERIFY(m_store->notice());
        QVERIFY(!m_store->notice()->isEmpty());
        QCOMPARE(StoreTestAccess::fileApps(*m_store).value(QStringLiteral("app.ipa")), QStringLiteral("9"));
        QCOMPARE(m_store->files().size(), 1);
    }

    // Qt falls back to a makeshift trash in the current folder when the home trash cannot be
    // made; the file must stay where it was, and the failure be told.
    void noHomeTrashKeepsTheFile()
    {
        QVERIFY(test::writeIPA(path("app.ipa"), QStringLiteral("App"), plist(QStringLiteral("App"), QStringLiteral("1"))));
        QFile blocker(m_sandbox->filePath(QStringLiteral(".local/share/Trash")));
        QVERIFY(QDir().mkpath(m_sandbox->filePath(QStringLiteral(".local/share"))) && blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString previous = QDir::currentPath();
        QDir::setCurrent(m_sandbox->path());
        QCoro::waitFor(m_store->refreshFiles());
        QCoro::waitFor(m_store->moveToTrash(m_store->files().at(0)));
        QDir::setCurrent(previous);

        QVERIFY(QFileInfo::exists(path("app.ipa")));
        QCOMPARE(m_store->notice(), std::optional(QStringLiteral("Не удалось переместить файл в Корзину.")));
        QCOMPARE(m_store->files().size(), 1);
    }

    void folderSizeCountsDirectFilesOnly()
    {
        const QString folder = path("sized");
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
        auto write = [](const QString& file, int bytes) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(QByteArray(bytes, 'x'));
        };
        write(folder + QStringLiteral("/a.tmp"), 1000);
        write(folder + QStringLiteral("/.hidden"), 24);
        write(folder + QStringLiteral("/sub/deeper"), 5000);
        QCOMPARE(folderSize(folder), qint64(1024));
        QCOMPARE(folderSize(path("no-such-folder")), qint64(0));
    }

private:
    QString path(const char* name) const { return QDir(m_downloads).filePath(QString::fromUtf8(name)); }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    QString m_downloads;
};

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
