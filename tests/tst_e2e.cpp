// The application as a user meets it, end to end: the built package started as a process of
// its own in a sandbox home, with the simulated App Store and iPhone (the demo world) and a
// signed update served from this machine, used only through its window (telmora --drive).
// One walk, a step per test function: sign in, search and install, an older version, the
// trash, two accounts, and the self-update up to the start of the new package. A failed
// step ends the walk; screenshots of every step go to <build>/screenshots/e2e/.
#include "e2e/drivenapp.h"
#include "httpserver.h"
#include "updatefixture.h"
#include "model/plist.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/publish.h"
#include "update/signature.h"

#include <QDirIterator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace telmora;
using telmora::test::DrivenApp;
using telmora::test::HttpServer;

// Every action and wait of the walk: on failure, what the window showed.
#define CHECK(done) QVERIFY2(done, m_app->failure())

namespace {

const QString telegramRow = QStringLiteral("row_686449807");
const QString anna = QStringLiteral("anna@example.com");
const QString max = QStringLiteral("max@example.com");
const QString installAgain = QStringLiteral("Установить снова");
constexpr qint64 runningBuild = 5;
constexpr qint64 offeredBuild = 6;

void copyFolder(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator entries(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString source = entries.next();
        const QString target = QDir(to).filePath(QDir(from).relativeFilePath(source));
        if (entries.fileInfo().isDir())
            QDir().mkpath(target);
        else if (!QFile::copy(source, target)) // permissions come along
            qFatal("cannot copy %s", qPrintable(source));
    }
}

std::optional<QVariantMap> readPlist(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? readPlistDictionary(file.readAll()) : std::nullopt;
}

// The XML form a release writes; every value of the package's dictionary is text.
QByteArray xmlPlist(const QVariantMap& dictionary)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
    for (auto entry = dictionary.cbegin(); entry != dictionary.cend(); ++entry)
        xml += QStringLiteral("\t<key>%1</key>\n\t<string>%2</string>\n").arg(entry.key().toHtmlEscaped(), entry.value().toString().toHtmlEscaped());
    return (xml + QStringLiteral("</dict>\n</plist>\n")).toUtf8();
}

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_sandbox;
    HttpServer m_server;
    Ed25519PrivateKey m_key = Ed25519PrivateKey::generate();
    std::unique_ptr<DrivenApp> m_app;
    bool m_walkBroken = false;

    QString sandbox(const QString& relative) const { return m_sandbox.filePath(relative); }
    QString package() const { return sandbox(QStringLiteral("apps/Telmora.app")); }
    QString launchRecord() const { return sandbox(QStringLiteral("launched")); }

    // The built package, updating itself from the local feed with this test's key.
    bool installPackage()
    {
        copyFolder(QStringLiteral(TELMORA_APP_DIR), package());
        const QString infoPath = package() + QStringLiteral("/Resources/Info.plist");
        QVariantMap info = readPlist(infoPath).value_or(QVariantMap());
        info.insert(QStringLiteral("CFBundleVersion"), QString::number(runningBuild));
        info.insert(QStringLiteral("TelmoraUpdateFeed"), m_server.url(QStringLiteral("/feed.json")).toString());
        info.insert(QStringLiteral("TelmoraUpdateKey"), QString::fromLatin1(m_key.rawPublicKey().toBase64()));
        QFile file(infoPath);
        return info.contains(QStringLiteral("CFBundleIdentifier")) && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(xmlPlist(info)) > 0;
    }

    // A signed newer build, whose `telmora` writes its version into launchRecord() when it starts.
    void publishUpdate()
    {
        const test::PackageSpec spec{.version = QStringLiteral("2.0"), .launchRecord = launchRecord()};
        const QString release = test::makePackage(sandbox(QStringLiteral("release")), spec);
        signPackage(release, m_key);
        const QString archive = sandbox(QStringLiteral("Telmora-2.0.zip"));
        packFolder(release, archive);
        m_server.route(QStringLiteral("/Telmora-2.0.zip"), HttpServer::fileResponse(archive));
        const FeedEntry entry{offeredBuild, spec.version, QStringLiteral("Новое"), QStringLiteral("Telmora-2.0.zip"), QStringLiteral("linux")};
        m_server.route(QStringLiteral("/feed.json"), {.body = makeUpdateFeed(entry, archive, m_key)});
    }

    // Only the sandbox: nothing of the user's home, desktop session or proxies reaches the app.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DOWNLOAD_DIR", "TELMORA_DEMO",
                                 "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            environment.remove(QString::fromLatin1(name));
        environment.insert(QStringLiteral("HOME"), sandbox(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), sandbox(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("TMPDIR"), sandbox(QStringLiteral("tmp")));
        // An address where no bus answers: left unset, the bus library may start a session bus of its own.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + sandbox(QStringLiteral("runtime/no-bus")));
        environment.insert(QStringLiteral("CRVEL_BIN_DIR"), QStringLiteral(TELMORA_SIM_BIN_DIR));
        environment.insert(QStringLiteral("TELMORA_SIM_WORLD"), QStringLiteral(TELMORA_SOURCE_DIR "/sim/worlds/demo.json"));
        environment.insert(QStringLiteral("TELMORA_SIM_SPEED"), QStringLiteral("20"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        return environment;
    }

    QStringList telegramFiles()
    {
        return m_app->names(QStringLiteral("file_")).filter(QStringLiteral("Telegram"));
    }
    // Nothing downloading or installing any more.
    bool idle() { return m_app->names(QStringLiteral("job_")).isEmpty() && !m_app->shown(QStringLiteral("installSpinner")); }

    // A sheet is closed once its view is gone and its popup has finished closing: until then
    // the dimmed window takes the clicks.
    bool sheetClosed(const QString& view)
    {
        return m_app->waitUntilGone(view) && m_app->waitUntilGone(QStringLiteral("sheet"));
    }

    bool switchAccount(const QString& email)
    {
        return m_app->click(QStringLiteral("accountButton")) && m_app->click(QStringLiteral("account_") + email)
            && m_app->waitForText(QStringLiteral("accountTitle"), email);
    }

    // The shown rows of this prefix, top to bottom.
    QStringList rowsInOrder(const QString& prefix)
    {
        QStringList rows = m_app->names(prefix);
        QHash<QString, double> top;
        for (const QString& row : std::as_const(rows))
            top.insert(row, m_app->get(row, QStringLiteral("y")).toDouble());
        std::sort(rows.begin(), rows.end(), [&](const QString& a, const QString& b) { return top.value(a) < top.value(b); });
        return rows;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sandbox.isValid());
        for (const char* folder : {"home", "runtime", "tmp", "apps"})
            QVERIFY(QDir().mkpath(sandbox(QString::fromLatin1(folder))));
        QVERIFY(QFile::setPermissions(sandbox(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(installPackage());
        publishUpdate();
        m_app = std::make_unique<DrivenApp>(QDir::cleanPath(QStringLiteral(TELMORA_APP_DIR "/../screenshots/e2e")));
        // Started from its home folder, as a desktop starts it.
        CHECK(m_app->start(package() + QStringLiteral("/telmora"), {QStringLiteral("--appearance"), QStringLiteral("light")}, environment(),
                           sandbox(QStringLiteral("home")), sandbox(QStringLiteral("runtime/drive"))));
    }
    void init()
    {
        if (m_walkBroken)
            QSKIP("an earlier step of the walk failed");
    }
    void cleanup() { m_walkBroken = m_walkBroken || QTest::currentTestFailed(); }
    void cleanupTestCase() { m_app.reset(); }

    void signInWithTwoFactorCode()
    {
        m_app->setStep(QStringLiteral("1-sign-in"));
        // Nobody is signed in yet: the sign-in sheet opens by itself.
        CHECK(m_app->fill(QStringLiteral("emailField"), anna));
        CHECK(m_app->fill(QStringLiteral("passwordField"), QStringLiteral("demo1234")));
        CHECK(m_app->click(QStringLiteral("loginSubmit")));
        CHECK(m_app->fill(QStringLiteral("codeField"), QStringLiteral("123456")));
        CHECK(m_app->key(QStringLiteral("Return")));
        CHECK(sheetClosed(QStringLiteral("loginView")));
        CHECK(m_app->shot(QStringLiteral("1-signed-in")));
    }

    void searchAndPressInstall()
    {
        m_app->setStep(QStringLiteral("2-search"));
        // A catalog tile offers its checkbox while the pointer is over it.
        CHECK(m_app->hover(QStringLiteral("tile_686449807")));
        CHECK(m_app->waitUntilShown(QStringLiteral("tile_686449807/tileCheck")));
        CHECK(m_app->fill(QStringLiteral("searchField"), QStringLiteral("Telegram")));
        CHECK(m_app->key(QStringLiteral("Return")));
        // "Установить" once the trusted phone has been found.
        CHECK(m_app->waitForText(telegramRow + QStringLiteral("/mainAction"), QStringLiteral("Установить")));
        CHECK(m_app->shot(QStringLiteral("2-search-results")));
        CHECK(m_app->click(telegramRow + QStringLiteral("/mainAction")));
    }

    void downloadAndInstallUntilInstallAgain()
    {
        m_app->setStep(QStringLiteral("3-install"));
        // Every change of the row's status on the way, and whether "Отмена" was offered meanwhile.
        QStringList statuses;
        bool cancelOffered = false;
        const auto installedAgain = [&] {
            const QString status = m_app->text(telegramRow + QStringLiteral("/rowStatus"));
            if (!status.isEmpty() && status != statuses.value(statuses.size() - 1))
                statuses.append(status);
            const QString plain = m_app->text(telegramRow + QStringLiteral("/mainActionPlain"));
            cancelOffered = cancelOffered || plain == u"Отмена";
            return plain == installAgain;
        };
        CHECK(m_app->waitFor(QStringLiteral("«Установить снова» on Telegram's row"), installedAgain));
        QList<int> percentages;
        static const QRegularExpression percentage(QStringLiteral("^(\\d{1,3})%$"));
        for (const QString& status : std::as_const(statuses)) {
            if (const QRegularExpressionMatch match = percentage.match(status); match.hasMatch())
                percentages.append(match.captured(1).toInt());
        }
        const QByteArray seen = ("statuses seen: " + statuses.join(QStringLiteral(" | "))).toUtf8();
        QVERIFY2(!percentages.isEmpty() && std::is_sorted(percentages.cbegin(), percentages.cend()), seen.constData());
        QVERIFY2(cancelOffered, seen.constData());
        QVERIFY(!m_app->shown(telegramRow + QStringLiteral("/rowStatus")));
        CHECK(m_app->shot(QStringLiteral("3-installed")));
    }

    void olderVersionFromTheVersionsSheet()
    {
        m_app->setStep(QStringLiteral("4-versions"));
        CHECK(m_app->click(telegramRow, QStringLiteral("right")));
        CHECK(m_app->click(QStringLiteral("menuVersions")));
        CHECK(m_app->waitUntilShown(QStringLiteral("versionsView")));
        // Newest first; the details of the first ten rows arrive by themselves.
        QString older;
        const auto sixthHasDetails = [&] {
            older = rowsInOrder(QStringLiteral("version_")).value(5);
            return !older.isEmpty() && m_app->text(older + QStringLiteral("/versionSubtitle")).startsWith(u"iOS ");
        };
        CHECK(m_app->waitFor(QStringLiteral("details of the sixth version"), sixthHasDetails));
        CHECK(m_app->waitForText(older + QStringLiteral("/versionAction"), QStringLiteral("Установить")));
        CHECK(m_app->shot(QStringLiteral("4-versions-sheet")));
        CHECK(m_app->click(older + QStringLiteral("/versionAction")));
        CHECK(sheetClosed(QStringLiteral("versionsView")));

        CHECK(m_app->click(QStringLiteral("sectionDownloads")));
        const auto twoStoredAndIdle = [&] { return telegramFiles().size() == 2 && idle(); };
        CHECK(m_app->waitFor(QStringLiteral("two Telegram files, nothing downloading or installing"), twoStoredAndIdle));
        CHECK(m_app->shot(QStringLiteral("4-two-versions-stored")));
    }

    void trashAStoredFile()
    {
        m_app->setStep(QStringLiteral("5-trash"));
        CHECK(m_app->click(QStringLiteral("sectionDownloads")));
        const auto storedAndIdle = [&] { return !telegramFiles().isEmpty() && idle(); };
        CHECK(m_app->waitFor(QStringLiteral("a Telegram file, nothing downloading or installing"), storedAndIdle));
        const QString row = telegramFiles().constFirst();
        const QString fileName = row.mid(QStringLiteral("file_").size());
        CHECK(m_app->click(row + QStringLiteral("/fileMenu")));
        CHECK(m_app->click(QStringLiteral("fileTrash")));
        CHECK(m_app->click(QStringLiteral("confirmAction")));
        CHECK(m_app->waitUntilGone(QStringLiteral("trashDialog")));
        CHECK(m_app->waitUntilGone(row));
        QVERIFY(!QFileInfo::exists(sandbox(QStringLiteral("home/Downloads/Telmora/")) + fileName));
        QVERIFY(QFileInfo::exists(sandbox(QStringLiteral("home/.local/share/Trash/files/")) + fileName));
        CHECK(m_app->shot(QStringLiteral("5-trashed")));
    }

    void switchAccountsAndBack()
    {
        m_app->setStep(QStringLiteral("6-accounts"));
        CHECK(m_app->click(QStringLiteral("accountButton")));
        CHECK(m_app->click(QStringLiteral("addAccount")));
        CHECK(m_app->fill(QStringLiteral("emailField"), max));
        CHECK(m_app->fill(QStringLiteral("passwordField"), QStringLiteral("demo1234")));
        CHECK(m_app->key(QStringLiteral("Return")));
        CHECK(sheetClosed(QStringLiteral("loginView")));
        CHECK(m_app->waitForText(QStringLiteral("accountTitle"), max));
        for (const QString& email : {anna, max, anna})
            CHECK(switchAccount(email));
        CHECK(m_app->click(QStringLiteral("accountButton")));
        CHECK(m_app->waitUntilShown(QStringLiteral("account_") + max));
        CHECK(m_app->shot(QStringLiteral("6-account-menu")));
        CHECK(m_app->key(QStringLiteral("Escape")));
        CHECK(m_app->waitUntilGone(QStringLiteral("accountMenu")));
    }

    void updateFromTheSignedFeed()
    {
        m_app->setStep(QStringLiteral("7-update"));
        CHECK(m_app->click(QStringLiteral("brandHeader")));
        CHECK(m_app->click(QStringLiteral("menuCheckUpdates")));
        CHECK(m_app->waitUntilShown(QStringLiteral("updateView")));
        const auto offered = [&] { return m_app->get(QStringLiteral("updateInstall"), QStringLiteral("enabled")).toBool(); };
        CHECK(m_app->waitFor(QStringLiteral("«Обновить» enabled"), offered));
        CHECK(m_app->shot(QStringLiteral("7-update-sheet")));
        CHECK(m_app->click(QStringLiteral("updateInstall")));

        // The app quits by itself; the swap script puts the new package in place and starts it.
        CHECK(m_app->waitForExit());
        QCOMPARE(m_app->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app->process().exitCode(), 0);
        const auto launched = [this] {
            QFile record(launchRecord());
            return record.open(QIODevice::ReadOnly) ? record.readAll() : QByteArray();
        };
        QTRY_COMPARE_WITH_TIMEOUT(launched(), QByteArray("2.0\n"), DrivenApp::patience);
        QCOMPARE(readPlist(package() + QStringLiteral("/Resources/Info.plist")).value_or(QVariantMap()).value(QStringLiteral("CFBundleShortVersionString")),
                 QVariant(QStringLiteral("2.0")));
        // Neither the old package nor the unpacked update stays behind.
        QCOMPARE(QDir(sandbox(QStringLiteral("apps"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{QStringLiteral("Telmora.app")});
        QCOMPARE(QDir(sandbox(QStringLiteral("tmp"))).entryList({QStringLiteral("telmora-update-*")}, QDir::AllEntries), QStringList());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
