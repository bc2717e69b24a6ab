// Start-up: folders of the old product name, leftovers of interrupted downloads, and the
// sign-in form that opens by itself only when there is no account at all.
#include "store/store.h"

#include "sandbox.h"

#include <QCoroTask>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;

class StoreStartupTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void oldFoldersMoveOnlyWhereNothingIsInTheWay_data()
    {
        QTest::addColumn<bool>("targetsExist");
        QTest::newRow("first start after the old product") << false;
        QTest::newRow("Telmora folders already there") << true;
    }

    void oldFoldersMoveOnlyWhereNothingIsInTheWay()
    {
        QFETCH(bool, targetsExist);
        Sandbox home;
        const QString downloads = home.downloadsFolder() + u'/', data = home.dataFolder() + u'/';
        const QString oldDownloads = home.filePath(QStringLiteral("Downloads/Carvell/"));
        const QString oldData = home.filePath(QStringLiteral(".local/share/Carvell/"));
        QVERIFY(writeFile(oldDownloads + QStringLiteral("Old.ipa"), "old package"));
        QVERIFY(writeFile(oldData + QStringLiteral("files.json"), "{}"));
        if (targetsExist)
            QVERIFY(writeFile(downloads + QStringLiteral("New.ipa")) && writeFile(data + QStringLiteral("files.json"), "new"));

        Store::prepareFolders(home.downloadsFolder(), home.dataFolder());

        // Moved whole, or both left as they were.
        QCOMPARE(readFile((targetsExist ? oldDownloads : downloads) + QStringLiteral("Old.ipa")), QByteArray("old package"));
        QCOMPARE(QFileInfo::exists(oldDownloads), targetsExist);
        QCOMPARE(QFileInfo::exists(oldData) && readFile(oldData + QStringLiteral("files.json")) == "{}", targetsExist);
        QCOMPARE(QFile::exists(downloads + QStringLiteral("Old.ipa")), !targetsExist);
        QCOMPARE(readFile(data + QStringLiteral("files.json")), targetsExist ? QByteArray("new") : QByteArray("{}"));
    }

    void leftoversAreSweptOnlyAtTheTop_data()
    {
        QTest::addColumn<QString>("written"); // a file, with the folders above it
        QTest::addColumn<QString>("entry");   // what the sweep removes or keeps
        QTest::addColumn<bool>("swept");
        QTest::newRow("a download's folder") << ".tmp-1234/App.ipa.tmp" << ".tmp-1234" << true;
        QTest::newRow("a file") << ".tmp-file" << ".tmp-file" << true;
        QTest::newRow("deeper down") << "Kept/.tmp-inner/part" << "Kept/.tmp-inner/part" << false;
        QTest::newRow("a package") << "App.ipa" << "App.ipa" << false;
        QTest::newRow("the prefix inside a name") << "x.tmp-y" << "x.tmp-y" << false;
        QTest::newRow("the user's own folder in capitals") << ".TMP-mine/photo.jpg" << ".TMP-mine/photo.jpg" << false;
    }

    void leftoversAreSweptOnlyAtTheTop()
    {
        QFETCH(QString, written);
        QFETCH(QString, entry);
        Sandbox home;
        const QString downloads = home.downloadsFolder() + u'/';
        QVERIFY(writeFile(downloads + written));
        Store::prepareFolders(home.downloadsFolder(), home.dataFolder());
        QTEST(!QFileInfo::exists(downloads + entry), "swept");
    }

    void signInFormOpensOnlyWithoutAnyAccount_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("opens");
        QTest::newRow("no account at all") << false << false << true;
        QTest::newRow("only a saved account") << false << true << false;
        QTest::newRow("signed in") << true << false << false;
    }

    void signInFormOpensOnlyWithoutAnyAccount()
    {
        QFETCH(bool, signedIn);
        QFETCH(bool, saved);
        QFETCH(bool, opens);
        Sandbox home;
        home.world.addAccount(QStringLiteral("anna@example.com"), QStringLiteral("pw-anna"), QStringLiteral("Anna")).write();
        if (signedIn || saved)
            SimWorld::signIn(QStringLiteral("anna@example.com"), QStringLiteral("Anna"));
        if (saved) { // a remembered account's folder, as switching away from it leaves it
            QDir session(home.filePath(QStringLiteral(".ipatool")));
            QVERIFY(session.mkpath(QStringLiteral("anna@example.com")));
            for (const char* name : {"account", "cookies", "login"})
                QVERIFY(session.rename(name, QStringLiteral("anna@example.com/") + name));
        }

        StoreOptions options = storeOptions();
        options.autoStart = true;
        Store store(options);
        QTRY_VERIFY_WITH_TIMEOUT(store.authChecked(), 20000);
        // The form opens in the same step of the start-up as the check.
        QCOMPARE(store.showLogin(), opens);
        QCOMPARE(store.email().has_value(), signedIn);
        QCOMPARE(store.savedAccounts().isEmpty(), !saved);
        if (opens)
            QVERIFY(store.loginStep() == LoginStep::form() && !store.addingAccount());
    }
};

QTEST_GUILESS_MAIN(StoreStartupTest)
#include "tst_store_startup.moc"
