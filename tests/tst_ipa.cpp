#include "ipafixture.h"
#include "sandbox.h"
#include "model/ipa.h"

#include <QCoroTask>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;

namespace {

std::optional<IPAInfo> read(const QString& path) { return QCoro::waitFor(readIPAInfo(path)); }

using Members = QList<QPair<QString, QByteArray>>; // of a ZIP archive

} // namespace

class IpaTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_files;
    telmora::test::Sandbox m_sandbox; // its TMPDIR proves nothing is left behind

    QString path(const QString& name) const { return m_files.filePath(name); }

private Q_SLOTS:
    void cleanup()
    {
        // Reading a package must never leave a file in the temporary folder, on any path.
        QVERIFY(QDir(m_sandbox.tempFolder()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void metadata_data()
    {
        QTest::addColumn<QVariantMap>("entries");
        QTest::addColumn<int>("format");
        QTest::addColumn<QStringList>("expected"); // name, version, minOS, platform

        const QVariantMap full = QVariantMap({{"CFBundleDisplayName", "Maps"}, {"CFBundleName", "MapsApp"},
                                        {"CFBundleShortVersionString", "7.4.1"}, {"MinimumOSVersion", "15.0"},
                                        {"DTPlatformName", "iphoneos"}});
        QTest::newRow("xml") << full << int(PlistFormat::xml) << QStringList{"Maps", "7.4.1", "15.0", "iOS"};
        QTest::newRow("binary") << full << int(PlistFormat::binary) << QStringList{"Maps", "7.4.1", "15.0", "iOS"};
        QTest::newRow("bundle name only") << QVariantMap({{"CFBundleName", "MapsApp"}, {"DTPlatformName", "MacOSX"}})
                                          << int(PlistFormat::xml) << QStringList{"MapsApp", "0", "NA", "macOS"};
        QTest::newRow("empty display name") << QVariantMap({{"CFBundleDisplayName", ""}, {"CFBundleName", "MapsApp"}})
                                            << int(PlistFormat::binary) << QStringList{"App", "0", "NA", "iOS"};
        QTest::newRow("no names, platforms array")
            << QVariantMap({{"CFBundleSupportedPlatforms", QStringList{"AppleTVOS"}}}) << int(PlistFormat::xml)
            << QStringList{"App", "0", "NA", "tvOS"};
        QTest::newRow("watch") << QVariantMap({{"DTPlatformName", "WatchOS"}}) << int(PlistFormat::xml)
                               << QStringList{"App", "0", "NA", "watchOS"};
        QTest::newRow("values of other types ignored")
            << QVariantMap({{"CFBundleShortVersionString", 3}, {"CFBundleSupportedPlatforms", "MacOSX"}})
            << int(PlistFormat::binary) << QStringList{"App", "0", "NA", "iOS"};
    }

    void metadata()
    {
        QFETCH(QVariantMap, entries);
        QFETCH(int, format);
        QVERIFY(writeIPA(path(QStringLiteral("app.ipa")), QStringLiteral("Maps"), entries, PlistFormat(format)));
        const std::optional<IPAInfo> info = read(path(QStringLiteral("app.ipa")));
        QVERIFY(info);
        QTEST((QStringList{info->name, info->version, info->minOS, info->platform}), "expected");
    }

    // Which Info.plist names the app: the app's own, wherever it is among the members.
    void appPlistIsFound_data()
    {
        QTest::addColumn<Members>("members");
        const QByteArray extension = makeInfoPlist(QVariantMap({{"CFBundleDisplayName", "Widget"}}));
        const QByteArray app = makeInfoPlist(QVariantMap({{"CFBundleDisplayName", "App"}}), PlistFormat::binary);
        QTest::newRow("extension and framework plists never taken")
            << Members{{"Payload/A.app/PlugIns/Widget.appex/Info.plist", extension},
                       {"Payload/A.app/Frameworks/Kit.framework/Info.plist", extension}, {"Payload/A.app/Info.plist", app}};
        Members big;
        for (int i = 0; i < 5000; ++i)
            big.append({QStringLiteral("Payload/A.app/Assets/file%1.dat").arg(i), QByteArray(16, 'x')});
        QTest::newRow("after 5000 members") << big + Members{{"Payload/A.app/Info.plist", app}};
    }

    void appPlistIsFound()
    {
        QFETCH(Members, members);
        QVERIFY(writeZip(path(QStringLiteral("app.ipa")), members, true));
        QCOMPARE(read(path(QStringLiteral("app.ipa")))->name, QStringLiteral("App"));
    }

    void unreadablePackagesGiveNothing_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // the file, unless members are given
        QTest::addColumn<Members>("members");
        QVERIFY(writeIPA(path(QStringLiteral("whole.ipa")), QStringLiteral("A"), {{"CFBundleName", "A"}}));
        const QByteArray whole = readFile(path(QStringLiteral("whole.ipa")));
        QTest::newRow("plain text named .ipa") << QByteArray("this is not a zip archive\n") << Members();
        QTest::newRow("truncated archive") << whole.chopped(30) << Members();
        QTest::newRow("no app plist") << QByteArray() << Members{{"Payload/A.app/A", "bin"}, {"Info.plist", "x"}};
        QTest::newRow("plist that is not a dictionary")
            << QByteArray() << Members{{"Payload/A.app/Info.plist", R"(<?xml version="1.0"?><plist version="1.0"><array/></plist>)"}};
        QTest::newRow("damaged plist") << QByteArray() << Members{{"Payload/A.app/Info.plist", "<plist><dict><key>"}};
        QTest::newRow("missing file") << QByteArray() << Members();
    }

    void unreadablePackagesGiveNothing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(Members, members);
        const QString file = path(QStringLiteral("bad.ipa"));
        QFile::remove(file);
        if (!members.isEmpty())
            QVERIFY(writeZip(file, members));
        if (!bytes.isEmpty())
            QVERIFY(writeFile(file, bytes));
        QVERIFY(!read(file));
    }

    void fileNames_data()
    {
        QTest::addColumn<QString>("appName");
        QTest::addColumn<QVariant>("account");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ordinary") << "Notes: Pro - Plus" << QVariant("user") << "2.1" << "Notes_Pro-Plus_2.1_iOS_15.0+_user.ipa";
        QTest::newRow("no account, no app name") << "" << QVariant() << "2.1" << "Maps_Go_2.1_iOS_15.0+_account.ipa";
        QTest::newRow("e-mail account") << "Notes" << QVariant("a.b@x.com") << "1" << "Notes_1_iOS_15.0+_a.b@x.com.ipa";
        QTest::newRow("version escaping the folder") << "Notes" << QVariant("u") << "1/../../x" << "Notes_1....x_iOS_15.0+_u.ipa";
        QTest::newRow("backslash and NUL") << "Notes" << QVariant(QStringLiteral("u\\..\\v") + QChar(0))
                                           << "1" << "Notes_1_iOS_15.0+_u..v.ipa";
    }

    void fileNames()
    {
        QFETCH(QString, appName);
        QFETCH(QVariant, account);
        QFETCH(QString, version);
        const IPAInfo info{QStringLiteral("Maps Go"), version, QStringLiteral("15.0"), QStringLiteral("iOS")};
        const QString name = ipaFileName(info, appName, account.isValid() ? std::optional(account.toString()) : std::nullopt);
        QTEST(name, "expected");
        QVERIFY(!name.contains(u'/') && !name.contains(u'\\') && !name.contains(QChar(0))); // never leaves the folder
    }
};

QTEST_GUILESS_MAIN(IpaTest)
#include "tst_ipa.moc"
