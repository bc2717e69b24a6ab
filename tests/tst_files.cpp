// Stored packages: listing, re-reading only what changed, the file-name map and the trash.
#include "store/store.h"

#include "ipafixture.h"
#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::Sandbox;

class FilesTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    const QDateTime m_base = QDateTime::currentDateTimeUtc().addSecs(-3600);

    QString path(const QString& name) const { return QDir(m_sandbox->downloadsFolder()).filePath(name); }
    void refresh() { QCoro::waitFor(m_store->refreshFiles()); }
    QHash<QString, QString>& fileApps() { return StoreTestAccess::fileApps(*m_store); }

    // A package named `display`, modified `seconds` after m_base.
    void ipa(const QString& name, const QString& display, int seconds = 0, const QString& version = QStringLiteral("1.0"))
    {
        QVERIFY(test::writeIPA(path(name), QStringLiteral("App"), {{"CFBundleDisplayName", display}, {"CFBundleShortVersionString", version}}));
        touch(name, seconds);
    }
    void touch(const QString& name, int seconds)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(m_base.addSecs(seconds), QFileDevice::FileModificationTime));
    }
    QJsonObject savedMap() const
    {
        return QJsonDocument::fromJson(test::readFile(QDir(m_sandbox->dataFolder()).filePath(QStringLiteral("files.json")))).object();
    }

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        QVERIFY(QDir().mkpath(m_sandbox->downloadsFolder()));
        m_store = std::make_unique<Store>(test::storeOptions());
    }

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void listsOnlyPackagesNewestFirst()
    {
        ipa("A.IPA", "Alpha", 0);
        ipa("b.ipa", "Beta", 60, "2.0");
        ipa(".hidden.ipa", "Hidden", 30);
        QVERIFY(QDir().mkpath(path("folder.ipa")) && QDir().mkpath(path(".tmp-ABC")));
        ipa(".tmp-ABC/inner.ipa", "Inner");
        for (const char* name : {"notes.txt", "broken.ipa"})
            QVERIFY(test::writeFile(path(name), "plain text"));
        touch("broken.ipa", -60);
        fileApps().insert(QStringLiteral("b.ipa"), QStringLiteral("222"));

        refresh();

        const QList<IPAFile>& files = m_store->files();
        QCOMPARE(files.size(), 4);
        QCOMPARE(files.at(0).url, path("b.ipa"));
        QCOMPARE(files.at(1).url, path(".hidden.ipa"));
        QCOMPARE(files.at(2).url, path("A.IPA"));
        QVERIFY(files.at(0).appID == QStringLiteral("222") && !files.at(2).appID);
        QVERIFY(files.at(0).info->name == QStringLiteral("Beta") && files.at(0).info->version == QStringLiteral("2.0"));
        QCOMPARE(files.at(0).size, QFileInfo(path("b.ipa")).size());
        QCOMPARE(files.at(0).modified, m_base.addSecs(60));
        QVERIFY(!files.at(3).info && files.at(3).size == 10); // unreadable: listed without metadata
    }

    void readsAgainOnlyWhenTouched()
    {
        ipa("app.ipa", "Old");
        refresh();
        // New content under the same modification time: the remembered metadata stays, the size does not.
        ipa("app.ipa", "New", 0, "2.0");
        refresh();
        QCOMPARE(m_store->files().at(0).info->name, QStringLiteral("Old"));
        QCOMPARE(m_store->files().at(0).size, QFileInfo(path("app.ipa")).size());

        touch("app.ipa", 5);
        refresh();
        QCOMPARE(m_store->files().at(0).info->version, QStringLiteral("2.0"));
    }

    void fileForAppIsTheNewest()
    {
        ipa("old.ipa", "App", 0);
        ipa("new.ipa", "App", 10);
        ipa("unrecorded.ipa", "App", 20);
        fileApps() = {{QStringLiteral("old.ipa"), QStringLiteral("777")}, {QStringLiteral("new.ipa"), QStringLiteral("777")}};
        refresh();
        QCOMPARE(m_store->file(QStringLiteral("777"))->url, path("new.ipa"));
        QCOMPARE(m_store->file(QStringLiteral("778")), std::nullopt);
        QCOMPARE(m_store->file(QString()), std::nullopt);

        touch("old.ipa", 30);
        refresh();
        QCOMPARE(m_store->file(QStringLiteral("777"))->url, path("old.ipa"));
    }

    void saveFileAppsCreatesTheDataFolderAndRoundTrips()
    {
        QVERIFY(!QFileInfo::exists(m_sandbox->dataFolder()));
        fileApps() = {{QStringLiteral("Notes_1.0_iOS_15.0+_a@b.c.ipa"), QStringLiteral("123456")},
                      {QStringLiteral("Maps «new».ipa"), QStringLiteral("654321")}};
        m_store->saveFileApps();

        QCOMPARE(savedMap().size(), 2);
        QCOMPARE(savedMap().value(QStringLiteral("Maps «new».ipa")).toString(), QStringLiteral("654321"));
        Store reloaded(test::storeOptions());
        StoreTestAccess::loadFileApps(reloaded);
        QCOMPARE(reloaded.fileApps(), m_store->fileApps());
    }

    void trash_data()
    {
        QTest::addColumn<QString>("name");   // of the file asked for
        QTest::addColumn<bool>("blockTrash"); // a file where the home trash would go
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QString>("notice"); // checked when given
        QTest::newRow("into the home trash, forgotten") << "gone.ipa" << false << false << "";
        QTest::newRow("missing file") << "missing.ipa" << false << true << "";
        // Qt falls back to a makeshift trash in the current folder when the home trash cannot be made.
        QTest::newRow("no home trash: the file stays") << "gone.ipa" << true << true
                                                       << "Не удалось переместить файл в Корзину.";
    }

    void trash()
    {
        QFETCH(QString, name);
        QFETCH(bool, failed);
        QFETCH(QString, notice);
        ipa("keep.ipa", "Keep", 0);
        ipa("gone.ipa", "Gone", 10);
        fileApps() = {{QStringLiteral("keep.ipa"), QStringLiteral("1")}, {QStringLiteral("gone.ipa"), QStringLiteral("2")}};
        m_store->saveFileApps();
        refresh();
        IPAFile target = *m_store->file(QStringLiteral("2"));
        target.url = path(name);
        const QString previous = QDir::currentPath();
        QFETCH(bool, blockTrash);
        if (blockTrash) {
            QVERIFY(test::writeFile(m_sandbox->filePath(QStringLiteral(".local/share/Trash"))));
            QDir::setCurrent(m_sandbox->path());
        }
        QCoro::waitFor(m_store->moveToTrash(target));
        QDir::setCurrent(previous);

        QCOMPARE(m_store->notice().has_value(), failed);
        if (!notice.isEmpty())
            QCOMPARE(*m_store->notice(), notice);
        QCOMPARE(QFileInfo::exists(m_sandbox->filePath(QStringLiteral(".local/share/Trash/files/gone.ipa"))), !failed);
        QCOMPARE(m_store->files().size(), failed ? 2 : 1);
        // Kept on the disk, in the list, in the map and in files.json exactly when the trashing failed.
        QCOMPARE((QList<bool>{QFileInfo::exists(path("gone.ipa")), m_store->file(QStringLiteral("2")).has_value(),
                              fileApps().contains(QStringLiteral("gone.ipa")), savedMap().contains(QStringLiteral("gone.ipa"))}),
                 QList<bool>(4, failed));
        QCOMPARE(savedMap().value(QStringLiteral("keep.ipa")).toString(), QStringLiteral("1"));
    }

    void folderSizeCountsDirectFilesOnly()
    {
        const std::pair<const char*, int> sizes[] = {{"sized/a.tmp", 1000}, {"sized/.hidden", 24}, {"sized/sub/deeper", 5000}};
        for (const auto& [name, bytes] : sizes)
            QVERIFY(test::writeFile(path(name), QByteArray(bytes, 'x')));
        QCOMPARE(folderSize(path("sized")), qint64(1024));
        QCOMPARE(folderSize(path("no-such-folder")), qint64(0));
    }
};

QTEST_GUILESS_MAIN(FilesTest)
#include "tst_files.moc"
