// The built package as a user meets it, in a sandbox home with the demo world and a signed
// update served here, used only through its window. One walk, a step per test function; a
// failed step ends it. Screenshots of every step go to <build>/screenshots/e2e/.
#include "httpserver.h"
#include "updatefixture.h"
#include "model/plist.h"
#include "update/archive.h"
#include "update/crypto.h"
#include "update/publish.h"
#include "update/signature.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>
#include <memory>

using namespace telmora;
using telmora::test::HttpServer;
using telmora::test::readFile;
using telmora::test::writeFile;
using namespace Qt::Literals::StringLiterals;

// Every action and wait of the walk: on failure, what the window showed.
#define CHECK(done) QVERIFY2(done, m_app->failure())

namespace {

// The application through its window driver (`telmora --drive`): one JSON line per action on
// a local socket. Actions wait until their item is shown, every wait is bounded; a failure
// leaves in failure() what the window showed, with a screenshot named after the step.
class DrivenApp {
public:
    static constexpr int patience = 60000; // generous: only a fault runs into it

    explicit DrivenApp(const QString& screenshots) : m_screenshots(screenshots)
    {
        QDir(screenshots).removeRecursively(); // this run's pictures only
        QDir().mkpath(screenshots);
    }
    ~DrivenApp() // never leaves the application running
    {
        m_socket.abort();
        m_process.kill();
        m_process.waitForFinished(10000);
    }

    bool start(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment, const QString& folder,
               const QString& socket)
    {
        m_process.setWorkingDirectory(folder);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(program, QStringList{u"--drive"_s, socket} + arguments);
        return waitFor(u"window driver listening"_s, [&] {
            m_socket.connectToServer(socket);
            return m_socket.waitForConnected(1000);
        });
    }
    [[nodiscard]] const QProcess& process() const { return m_process; }

    void setStep(const QString& step) { m_step = step; }
    [[nodiscard]] const char* failure() const { return m_failure.constData(); }

    bool click(const QString& path, const QString& button = u"left"_s)
    {
        return waitUntilShown(path) && perform({{"command", "click"}, {"name", path}, {"button", button}, {"modifiers", QJsonArray()}});
    }
    bool hover(const QString& path) { return waitUntilShown(path) && perform({{"command", "hover"}, {"name", path}}); }
    bool key(const QString& key, const QStringList& modifiers = {}) { return perform({{"command", "key"}, {"key", key}, {"modifiers", QJsonArray::fromStringList(modifiers)}}); }
    // Replaces a field's text as a user does: click into it, select all, type.
    bool fill(const QString& field, const QString& text) { return click(field) && key(u"A"_s, {u"ctrl"_s}) && perform({{"command", "type"}, {"text", text}}); }
    bool shot(const QString& name)
    {
        QTest::qWait(400); // the picture of a settled window: opening sheets and menus fade in
        return perform({{"command", "shot"}, {"file", QDir(m_screenshots).filePath(name + u".png"_s)}});
    }

    // Undefined when nothing of that name is shown.
    QJsonValue get(const QString& path, const QString& property) { return send({{"command", "get"}, {"name", path}, {"property", property}}).value(u"value"_s); }
    QString text(const QString& path) { return get(path, u"text"_s).toString(); }
    bool shown(const QString& path) { return send({{"command", "exists"}, {"name", path}}).value(u"exists"_s).toBool(); }
    QStringList names(const QString& prefix)
    {
        QStringList found;
        for (const QJsonValue& name : send({{"command", "names"}, {"prefix", prefix}}).value(u"names"_s).toArray())
            found.append(name.toString());
        return found;
    }

    bool waitFor(const QString& what, const std::function<bool()>& condition)
    {
        const QDeadlineTimer deadline(patience);
        while (!condition()) {
            if (m_process.state() == QProcess::NotRunning)
                return fail(u"waiting for %1: the application is not running (exit code %2)"_s.arg(what).arg(m_process.exitCode()));
            if (deadline.hasExpired())
                return fail(u"no %1 within %2 s"_s.arg(what).arg(patience / 1000));
            QTest::qWait(10);
        }
        return true;
    }
    bool waitUntilShown(const QString& path) { return waitFor(u"«%1» shown"_s.arg(path), [&] { return shown(path); }); }
    bool waitUntilGone(const QString& path) { return waitFor(u"«%1» gone"_s.arg(path), [&] { return !shown(path); }); }
    bool waitForText(const QString& path, const QString& expected) { return waitFor(u"«%1» reading «%2»"_s.arg(path, expected), [&] { return text(path) == expected; }); }

private:
    QJsonObject send(const QJsonObject& command)
    {
        const auto error = [](const QString& what) { return QJsonObject{{"ok", false}, {"error", what}}; };
        if (m_socket.state() != QLocalSocket::ConnectedState)
            return error(u"not connected to the window"_s);
        m_socket.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
        // Blocking: the application answers at once; the test's server needs no loop meanwhile.
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(patience))
                return error(u"no answer: "_s + m_socket.errorString());
        }
        return QJsonDocument::fromJson(m_socket.readLine()).object();
    }
    bool perform(const QJsonObject& command)
    {
        const QJsonObject answer = send(command);
        return answer.value(u"ok"_s).toBool()
            || fail(command.value(u"command"_s).toString() + u": "_s + answer.value(u"error"_s).toString());
    }
    bool fail(const QString& what)
    {
        const QString picture = QDir(m_screenshots).filePath(u"failure-"_s + m_step + u".png"_s);
        const bool saved = send({{"command", "shot"}, {"file", picture}}).value(u"ok"_s).toBool();
        // What the window shows: the object names, each with its text when it has one.
        QStringList shownItems;
        for (const QString& name : names(QString())) {
            const QString text = this->text(name).simplified();
            shownItems.append(text.isEmpty() ? name : u"%1 «%2»"_s.arg(name, text.left(80)));
        }
        m_failure = (what + u"\n   The window shows: "_s
                     + (shownItems.isEmpty() ? u"nothing (it does not answer)"_s : shownItems.join(u", "_s))
                     + (saved ? u"\n   Screenshot: "_s + picture : QString()))
                        .toUtf8();
        return false;
    }

    QString m_screenshots;
    QString m_step = u"start"_s;
    QProcess m_process;
    QLocalSocket m_socket;
    QByteArray m_failure;
};

const QString telegramRow = u"row_686449807"_s;
const QString anna = u"anna@example.com"_s;
const QString max = u"max@example.com"_s;

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
        const QString plist = package() + u"/Resources/Info.plist"_s;
        QString info = QString::fromUtf8(readFile(plist));
        const QList<std::pair<QString, QString>> values{{u"CFBundleVersion"_s, u"5"_s},
                                                        {u"TelmoraUpdateFeed"_s, m_server.url(u"/feed.json"_s).toString()},
                                                        {u"TelmoraUpdateKey"_s, QString::fromLatin1(m_key.rawPublicKey().toBase64())}};
        for (const auto& [key, value] : values) {
            info.replace(QRegularExpression(u"(<key>%1</key>\\s*<string>)[^<]*"_s.arg(key)), u"\\1"_s + value.toHtmlEscaped());
            if (!info.contains(u"<string>"_s + value.toHtmlEscaped()))
                return false;
        }
        return writeFile(plist, info.toUtf8());
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

    // Until its popup has finished closing, the dimmed window takes the clicks.
    bool sheetClosed(const QString& view) { return m_app->waitUntilGone(view) && m_app->waitUntilGone(u"sheet"_s); }

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
        for (const QString& status : std::as_const(statuses))
            if (const auto match = QRegularExpression(u"^(\\d{1,3})%$"_s).match(status); match.hasMatch())
                percentages.append(match.captured(1).toInt());
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
            older = m_app->names(u"version_"_s).value(5); // made top to bottom
            return !older.isEmpty() && m_app->text(older + u"/versionSubtitle"_s).startsWith(u"iOS ");
        };
        CHECK(m_app->waitFor(u"details of the sixth version"_s, sixthHasDetails));
        CHECK(m_app->waitForText(older + u"/versionAction"_s, u"Установить"_s));
        CHECK(m_app->shot(u"4-versions-sheet"_s));
        CHECK(m_app->click(older + u"/versionAction"_s));
        CHECK(sheetClosed(u"versionsView"_s));

        CHECK(m_app->click(u"sectionDownloads"_s));
        const auto done = [&] { return telegramFiles().size() == 2 && m_app->names(u"job_"_s).isEmpty() && !m_app->shown(u"installSpinner"_s); };
        CHECK(m_app->waitFor(u"two Telegram files, nothing downloading or installing"_s, done));
    }

    void trashAStoredFile()
    {
        // In the downloads, where the previous step ended once nothing was running.
        const QString row = telegramFiles().constFirst();
        const QString fileName = row.mid(u"file_"_s.size());
        const QString stored = sandbox(u"home/Downloads/Telmora/"_s) + fileName;
        const auto askToTrash = [&] { return m_app->click(row + u"/fileMenu"_s) && m_app->click(u"fileTrash"_s); };
        // Dismissed, the dialog keeps the file and forgets its candidate.
        CHECK(askToTrash());
        CHECK(m_app->waitForText(u"confirmTitle"_s, u"Переместить в Корзину?"_s));
        QCOMPARE(m_app->text(u"confirmMessage"_s), fileName);
        QVERIFY(!m_app->get(u"downloadsView"_s, u"trashCandidate"_s).isUndefined());
        CHECK(m_app->key(u"Escape"_s));
        CHECK(m_app->waitUntilGone(u"trashDialog"_s));
        QVERIFY(QFileInfo::exists(stored) && m_app->shown(row));
        QVERIFY(m_app->get(u"downloadsView"_s, u"trashCandidate"_s).isUndefined());
        CHECK(askToTrash());
        CHECK(m_app->click(u"confirmAction"_s));
        CHECK(m_app->waitUntilGone(u"trashDialog"_s));
        CHECK(m_app->waitUntilGone(row));
        QVERIFY(!QFileInfo::exists(stored));
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
            CHECK(m_app->click(u"accountButton"_s) && m_app->click(u"account_"_s + email) && m_app->waitForText(u"accountTitle"_s, email));
        CHECK(m_app->click(u"accountButton"_s)); // listing both accounts: each was picked from it above
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
        CHECK(m_app->waitFor(u"the application quitting"_s, [&] { return m_app->process().state() == QProcess::NotRunning; }));
        QCOMPARE(m_app->process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_app->process().exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(readFile(launchRecord()), QByteArray("2.0\n"), DrivenApp::patience);
        const auto info = readPlistDictionary(readFile(package() + u"/Resources/Info.plist"_s));
        QCOMPARE(info.value_or(QVariantMap()).value(u"CFBundleShortVersionString"_s), QVariant(u"2.0"_s));
        // Neither the old package nor the unpacked update stays behind.
        QCOMPARE(QDir(sandbox(u"apps"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{u"Telmora.app"_s});
        QCOMPARE(QDir(sandbox(u"tmp"_s)).entryList({u"telmora-update-*"_s}, QDir::AllEntries), QStringList());
    }
};

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_e2e.moc"
