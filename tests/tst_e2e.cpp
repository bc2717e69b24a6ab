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

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace telmora;
using telmora::test::DrivenApp;
using telmora::test::HttpServer;
using namespace Qt::Literals::StringLiterals;

// Every action and wait of the walk: on failure, what the window showed.
#define CHECK(done) QVERIFY2(done, m_app->failure())

namespace {

const QString telegramRow = u"row_686449807"_s;
const QString anna = u"anna@example.com"_s;
const QString max = u"max@example.com"_s;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
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
    QString package() const { return sandbox(u"apps/Telmora.app"_s); }
    QString launchRecord() const { return sandbox(u"launched"_s); }

    // The built package as build 5, updating itself from the local feed with this test's key.
    bool installPackage()
    {
        if (QProcess::execute(u"cp"_s, {u"-a"_s, QStringLiteral(TELMORA_APP_DIR), package()}) != 0)
            return false;
        QFile file(package() + u"/Resources/Info.plist"_s);
        QString info = QString::fromUtf8(contents(file.fileName()));
        const QList<std::pair<QString, QString>> values{{u"CFBundleVersion"_s, u"5"_s},
                                                        {u"TelmoraUpdateFeed"_s, m_server.url(u"/feed.json"_s).toString()},
                                                        {u"TelmoraUpdateKey"_s, QString::fromLatin1(m_key.rawPublicKey().toBase64())}};
        for (const auto& [key, value] : values) {
            info.replace(QRegularExpression(u"(<key>%1</key>\\s*<string>)[^<]*"_s.arg(key)), u"\\1"_s + value.toHtmlEscaped());
            if (!info.contains(u"<string>"_s + value.toHtmlEscaped()))
                return false;
        }
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(info.toUtf8()) > 0;
    }

    // A signed newer build, whose `telmora` writes its version into launchRecord() when it starts.
    void publishUpdate()
    {
        const test::PackageSpec spec{.version = u"2.0"_s, .launchRecord = launchRecord()};
        const QString release = test::makePackage(sandbox(u"release"_s), spec);
        signPackage(release, m_key);
        const QString archive = sandbox(u"Telmora-2.0.zip"_s);
        packFolder(release, archive);
        m_server.route(u"/Telmora-2.0.zip"_s, HttpServer::fileResponse(archive));
        const FeedEntry entry{6, spec.version, u"Новое"_s, u"Telmora-2.0.zip"_s, u"linux"_s};
        m_server.route(u"/feed.json"_s, {.body = makeUpdateFeed(entry, archive, m_key)});
    }

    // Only the sandbox: nothing of the user's home, desktop session or proxies reaches the app.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME", "XDG_DOWNLOAD_DIR", "TELMORA_DEMO",
                                 "http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
            environment.remove(QString::fromLatin1(name));
        // DBUS_SESSION_BUS_ADDRESS: where no bus answers; left unset, the bus library may start a bus of its own.
        const QList<std::pair<QString, QString>> values{
            {u"HOME"_s, sandbox(u"home"_s)}, {u"XDG_RUNTIME_DIR"_s, sandbox(u"runtime"_s)}, {u"TMPDIR"_s, sandbox(u"tmp"_s)},
            {u"DBUS_SESSION_BUS_ADDRESS"_s, u"unix:path="_s + sandbox(u"runtime/no-bus"_s)}, {u"CRVEL_BIN_DIR"_s, QStringLiteral(TELMORA_SIM_BIN_DIR)},
            {u"TELMORA_SIM_WORLD"_s, QStringLiteral(TELMORA_SOURCE_DIR "/sim/worlds/demo.json")}, {u"TELMORA_SIM_SPEED"_s, u"20"_s},
            {u"QT_QPA_PLATFORM"_s, u"offscreen"_s}, {u"QT_QUICK_BACKEND"_s, u"software"_s}};
        for (const auto& [name, value] : values)
            environment.insert(name, value);
        return environment;
    }

    QStringList telegramFiles() { return m_app->names(u"file_"_s).filter(u"Telegram"_s); }
    // Nothing downloading or installing any more.
    bool idle() { return m_app->names(u"job_"_s).isEmpty() && !m_app->shown(u"installSpinner"_s); }

    // A sheet is closed once its view is gone and its popup has finished closing: until then
    // the dimmed window takes the clicks.
    bool sheetClosed(const QString& view) { return m_app->waitUntilGone(view) && m_app->waitUntilGone(u"sheet"_s); }

    bool switchAccount(const QString& email)
    {
        return m_app->click(u"accountButton"_s) && m_app->click(u"account_"_s + email) && m_app->waitForText(u"accountTitle"_s, email);
    }

    // The shown rows of this prefix, top to bottom.
    QStringList rowsInOrder(const QString& prefix)
    {
        QStringList rows = m_app->names(prefix);
        QHash<QString, double> top;
        for (const QString& row : std::as_const(rows))
            top.insert(row, m_app->get(row, u"y"_s).toDouble());
        std::sort(rows.begin(), rows.end(), [&](const QString& a, const QString& b) { return top.value(a) < top.value(b); });
        return rows;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_sandbox.isValid());
        for (const char* folder : {"home", "runtime", "tmp", "apps"})
            QVERIFY(QDir().mkpath(sandbox(QString::fromLatin1(folder))));
        QVERIFY(QFile::setPermissions(sandbox(u"runtime"_s), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(installPackage());
        publishUpdate();
        m_app = std::make_unique<DrivenApp>(QDir::cleanPath(QStringLiteral(TELMORA_APP_DIR "/../screenshots/e2e")));
        // Started from its home folder, as a desktop starts it.
        CHECK(m_app->start(package() + u"/telmora"_s, {u"--appearance"_s, u"light"_s}, environment(), sandbox(u"home"_s), sandbox(u"runtime/drive"_s)));
    }
    void init()
    {
        if (m_walkBroken)
            QSKIP("an earlier step of the walk failed");
        m_app->setStep(QString::fromLatin1(QTest::currentTestFunction()));
    }
    // A picture of where each step ends.
    void cleanup() { m_walkBroken = m_walkBroken || QTest::currentTestFailed() || !m_app->shot(QString::fromLatin1(QTest::currentTestFunction())); }
    void cleanupTestCase() { m_app.reset(); }

    void signInWithTwoFactorCode()
    {
        // Nobody is signed in yet: the sign-in sheet opens by itself.
        CHECK(m_app->fill(u"emailField"_s, anna));
        CHECK(m_app->fill(u"passwordField"_s, u"demo1234"_s));
        CHECK(m_app->click(u"loginSubmit"_s));
        CHECK(m_app->fill(u"codeField"_s, u"123456"_s));
        CHECK(m_app->key(u"Return"_s));
        CHECK(sheetClosed(u"loginView"_s));
    }

    void searchForTelegram()
    {
        // A catalog tile offers its checkbox while the pointer is over it.
        CHECK(m_app->hover(u"tile_686449807"_s) && m_app->waitUntilShown(u"tile_686449807/tileCheck"_s));
        CHECK(m_app->fill(u"searchField"_s, u"Telegram"_s));
        CHECK(m_app->key(u"Return"_s));
        // "Установить" once the trusted phone has been found.
        CHECK(m_app->waitForText(telegramRow + u"/mainAction"_s, u"Установить"_s));
    }

    void downloadAndInstallUntilInstallAgain()
    {
        CHECK(m_app->click(telegramRow + u"/mainAction"_s));
        // Every change of the row's status on the way, and whether "Отмена" was offered meanwhile.
        QStringList statuses;
        bool cancelOffered = false;
        const auto installedAgain = [&] {
            const QString status = m_app->text(telegramRow + u"/rowStatus"_s);
            if (!status.isEmpty() && status != statuses.value(statuses.size() - 1))
                statuses.append(status);
            const QString plain = m_app->text(telegramRow + u"/mainActionPlain"_s);
            cancelOffered = cancelOffered || plain == u"Отмена";
            return plain == u"Установить снова";
        };
        CHECK(m_app->waitFor(u"«Установить снова» on Telegram's row"_s, installedAgain));
        QList<int> percentages;
        for (const QString& status : std::as_const(statuses)) {
            if (const auto match = QRegularExpression(u"^(\\d{1,3})%$"_s).match(status); match.hasMatch())
                percentages.append(match.captured(1).toInt());
        }
        const QByteArray seen = ("statuses seen: " + statuses.join(u" | "_s)).toUtf8();
        QVERIFY2(!percentages.isEmpty() && std::is_sorted(percentages.cbegin(), percentages.cend()), seen.constData());
        QVERIFY2(cancelOffered, seen.constData());
        QVERIFY(!m_app->shown(telegramRow + u"/rowStatus"_s));
    }

    void olderVersionFromTheVersionsSheet()
    {
        CHECK(m_app->click(telegramRow, u"right"_s));
        CHECK(m_app->click(u"menuVersions"_s));
        CHECK(m_app->waitUntilShown(u"versionsView"_s));
        // Newest first; the details of the first ten rows arrive by themselves.
        QString older;
        const auto sixthHasDetails = [&] {
            older = rowsInOrder(u"version_"_s).value(5);
            return !older.isEmpty() && m_app->text(older + u"/versionSubtitle"_s).startsWith(u"iOS ");
        };
        CHECK(m_app->waitFor(u"details of the sixth version"_s, sixthHasDetails));
        CHECK(m_app->waitForText(older + u"/versionAction"_s, u"Установить"_s));
        CHECK(m_app->shot(u"4-versions-sheet"_s));
        CHECK(m_app->click(older + u"/versionAction"_s));
        CHECK(sheetClosed(u"versionsView"_s));

        CHECK(m_app->click(u"sectionDownloads"_s));
        CHECK(m_app->waitFor(u"two Telegram files, nothing downloading or installing"_s, [&] { return telegramFiles().size() == 2 && idle(); }));
    }

    void trashAStoredFile()
    {
        CHECK(m_app->click(u"sectionDownloads"_s));
        CHECK(m_app->waitFor(u"a Telegram file, nothing downloading or installing"_s, [&] { return !telegramFiles().isEmpty() && idle(); }));
        const QString row = telegramFiles().constFirst();
        const QString fileName = row.mid(u"file_"_s.size());
        CHECK(m_app->click(row + u"/fileMenu"_s));
        CHECK(m_app->click(u"fileTrash"_s));
        CHECK(m_app->click(u"confirmAction"_s));
        CHECK(m_app->waitUntilGone(u"trashDialog"_s));
        CHECK(m_app->waitUntilGone(row));
        QVERIFY(!QFileInfo::exists(sandbox(u"home/Downloads/Telmora/"_s) + fileName));
        QVERIFY(QFileInfo::exists(sandbox(u"home/.local/share/Trash/files/"_s) + fileName));
    }

    void switchAccountsAndBack()
    {
        CHECK(m_app->click(u"accountButton"_s));
        CHECK(m_app->click(u"addAccount"_s));
        CHECK(m_app->fill(u"emailField"_s, max));
        CHECK(m_app->fill(u"passwordField"_s, u"demo1234"_s));
        CHECK(m_app->key(u"Return"_s));
        CHECK(sheetClosed(u"loginView"_s));
        CHECK(m_app->waitForText(u"accountTitle"_s, max));
        for (const QString& email : {anna, max, anna})
            CHECK(switchAccount(email));
        CHECK(m_app->click(u"accountButton"_s));
        CHECK(m_app->waitUntilShown(u"account_"_s + max));
        CHECK(m_app->key(u"Escape"_s));
        CHECK(m_app->waitUntilGone(u"accountMenu"_s));
    }

    void updateFromTheSignedFeed()
    {
        CHECK(m_app->click(u"brandHeader"_s));
        CHECK(m_app->click(u"menuCheckUpdates"_s));
        CHECK(m_app->waitUntilShown(u"updateView"_s));
        CHECK(m_app->waitFor(u"«Обновить» enabled"_s, [&] { return m_app->get(u"updateInstall"_s, u"enabled"_s).toBool(); }));
        CHECK(m_app->shot(u"7-update-sheet"_s));
        CHECK(m_app->click(u"updateInstall"_s));

        // The app quits by itself; the swap script puts the new package in place and starts it.
        CHECK(m_app->waitForExit());
        QCOMPARE(m_app->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app->process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(contents(launchRecord()), QByteArray("2.0\n"), DrivenApp::patience);
        const auto info = readPlistDictionary(contents(package() + u"/Resources/Info.plist"_s));
        QCOMPARE(info.value_or(QVariantMap()).value(u"CFBundleShortVersionString"_s), QVariant(u"2.0"_s));
        // Neither the old package nor the unpacked update stays behind.
        QCOMPARE(QDir(sandbox(u"apps"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"Telmora.app"_s});
        QCOMPARE(QDir(sandbox(u"tmp"_s)).entryList({u"telmora-update-*"_s}, QDir::AllEntries), QStringList());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
