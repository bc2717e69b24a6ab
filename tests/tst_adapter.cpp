// The package's ipatool (telmora-ipatool) in front of the simulated upstream ipatool, the Store
// working through it, and `telmora --doctor`'s verdict on that set of tools.
#include "store/doctor.h"
#include "store/store.h"

#include "awaittask.h"
#include "sandbox.h"
#include "toolrun.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "tools/bin.h"
#include "tools/upstream.h"

#include <QScopeGuard>
#include <QtTest>

using namespace telmora;
using test::SimWorld;
using test::Sandbox;
using test::Terminal;
using test::ToolRun;

namespace {

const QString adapter = QStringLiteral(TELMORA_APP_DIR "/Resources/bin/ipatool");
const QString simBin = QStringLiteral(TELMORA_SIM_BIN_DIR);
const QString jane = QString::fromLatin1(SimWorld::sampleEmail); // no two-factor code
const QString anna = QStringLiteral("anna@example.com");          // code 123456
const QStringList deviceTools = QStringLiteral("idevice_id ideviceinfo ideviceinstaller").split(u' ');

ToolRun runAdapter(const QString& line)
{
    return test::runProgram(adapter, line.split(u' '));
}

// What the adapter asked of upstream, oldest first: the calls whose first word is `command`
// (all of them for an empty one).
QList<QStringList> upstreamCalls(const QString& command = {})
{
    QList<QStringList> calls = SimWorld::calls(QStringLiteral("ipatool"));
    calls.removeIf([&](const QStringList& call) { return !command.isEmpty() && call.value(0) != command; });
    return calls;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString passphraseFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Telmora/ipatool-passphrase");
}

QString storedPassphrase()
{
    return QString::fromUtf8(readFile(passphraseFile())).trimmed();
}

// The arguments of a running program, as every process of this user can read them.
QStringList commandLine(pid_t pid)
{
    return QString::fromUtf8(readFile(QStringLiteral("/proc/%1/cmdline").arg(pid))).split(QChar(0), Qt::SkipEmptyParts).mid(1);
}

// Sets PATH (when `value` is given) until the guard goes.
auto pathGuard(const std::optional<QString>& value)
{
    const QByteArray saved = qgetenv("PATH");
    if (value)
        qputenv("PATH", QFile::encodeName(*value));
    return qScopeGuard([saved] { qputenv("PATH", saved); });
}

// A package tool folder: its ipatool is the adapter, the device tools (those listed) the
// simulated ones. Bin points at it until the guard goes.
auto usePackageTools(const QTemporaryDir& bin, const QStringList& tools)
{
    QFile::link(adapter, bin.filePath(QStringLiteral("ipatool")));
    for (const QString& tool : tools)
        QFile::link(simBin + u'/' + tool, bin.filePath(tool));
    Bin::setDirForTesting(bin.path());
    return qScopeGuard([] { Bin::setDirForTesting(std::nullopt); });
}

// code: empty when none is asked for; xdg: the XDG_*_HOME set (both: and a folder in the way).
struct Login {
    QString email, password, code, xdg, result;
};

enum Session { signedOut, signedIn, lockedElsewhere };

// A run of the adapter and its answer: texts expected on standard output (status 0) or error,
// one never printed, the first word of every upstream call, what Telmora shows of the error.
// Upstream: the simulated `version` (where: sim), or only the adapter where Telmora looks
// (PATH: behind a link, with upstream after it; nowhere; itself: TELMORA_IPATOOL), or with an
// `ending` a stand-in that prints `out` and `err` and runs `ending`.
struct Answer {
    QString arguments;
    Session session;
    int status;
    QStringList expected;
    QString absent, calls;
    SimWorld::Failure failure;
    QString shown, version = QStringLiteral("2.8.0"), where = QStringLiteral("sim");
    QByteArray out, err, ending;
};

struct Doctor {
    QString upstream, installer; // upstream empty: none installed
    QStringList tools;
    bool ready;
    QStringList lines;
};

} // namespace

Q_DECLARE_METATYPE(Login)
Q_DECLARE_METATYPE(Answer)
Q_DECLARE_METATYPE(Doctor)

class AdapterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // No session bus: the passphrase goes to its file, as on a machine without a desktop.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        QVERIFY2(QFileInfo(adapter).isExecutable(), qPrintable(adapter));
    }

    void init()
    {
        m_sandbox.emplace();
        qputenv("TELMORA_IPATOOL", QFile::encodeName(simBin + QStringLiteral("/ipatool")));
        m_sandbox->world.addSample().addAccount(anna, QStringLiteral("pw-anna"), QStringLiteral("Anna"), QStringLiteral("123456"));
        m_sandbox->world.setUpstreamDialect().write();
    }

    void cleanup()
    {
        m_sandbox.reset();
        qunsetenv("TELMORA_IPATOOL");
    }

    // Upstream 2.6+ would move ~/.ipatool to $XDG_STATE_HOME/ipatool or $XDG_DATA_HOME/ipatool:
    // the session stays in ~/.ipatool whichever is set.
    void signIn_data()
    {
        QTest::addColumn<Login>("login");
        const QString janeIn = QStringLiteral("INF email=jane@example.com name=\"Jane Doe\" success=true");
        QTest::newRow("password") << Login{jane, "secret", "", "", janeIn};
        QTest::newRow("two-factor code, XDG_STATE_HOME") << Login{anna, "pw-anna", "123456", "state", "INF email=anna@example.com name=Anna success=true"};
        QTest::newRow("XDG_DATA_HOME") << Login{jane, "secret", "", "data", janeIn};
        QTest::newRow("both XDG folders, a folder in the way") << Login{jane, "secret", "", "state data", janeIn};
        QTest::newRow("wrong password") << Login{jane, "not-it", "", "", "ERR error=\"password was incorrect\" success=false"};
        // Apple answers a wrong password of such an account with a request for the code.
        QTest::newRow("wrong code") << Login{anna, "pw-anna", "654321", "", "ERR error=\"something went wrong\" success=false"};
    }

    void signIn()
    {
        QFETCH(Login, login);
        const QDir home = QDir::home();
        for (const QString& folder : login.xdg.split(u' ', Qt::SkipEmptyParts))
            qputenv(("XDG_" + folder.toUpper() + "_HOME").toLatin1(), QFile::encodeName(home.filePath(folder)));
        if (login.xdg.contains(u' '))
            QVERIFY(home.mkpath(QStringLiteral("data/Telmora/ipatool-state/ipatool")) && home.mkpath(QStringLiteral(".ipatool")));

        const QStringList arguments{QStringLiteral("auth"), QStringLiteral("login")};
        Terminal terminal(adapter, arguments);
        QList<std::pair<QByteArray, QString>> dialogue{{"Enter email:", login.email}, {"Enter password:", login.password}};
        if (!login.code.isEmpty())
            dialogue.append({"Enter 2FA code:", login.code});
        for (const auto& [prompt, answer] : dialogue) {
            QVERIFY2(terminal.waitFor(prompt), terminal.transcript);
            QVERIFY2(terminal.transcript.trimmed().endsWith(prompt), terminal.transcript); // no line end
            QCOMPARE(commandLine(terminal.pid()), arguments); // secrets are typed, never arguments
            terminal.send(answer.toUtf8());
        }
        const bool success = login.result.contains(QStringLiteral("success=true"));
        QCOMPARE(terminal.finish(), success ? 0 : 1);
        const QString transcript = terminal.clean();
        QVERIFY2(transcript.contains(login.result), qPrintable(transcript));
        QCOMPARE(transcript.count(QStringLiteral("Enter 2FA code:")), login.code.isEmpty() ? 0 : 1);

        // Upstream got the answers as arguments, once without a code and once with it, each
        // time with the passphrase: 32 random bytes in a file of the user's alone.
        const QString passphrase = storedPassphrase();
        QCOMPARE(passphrase.size(), 43);
        QCOMPARE(QFile::permissions(passphraseFile()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QList<QStringList> logins = upstreamCalls(QStringLiteral("auth"));
        QCOMPARE(logins.size(), login.code.isEmpty() ? 1 : 2);
        QVERIFY(logins.constFirst().contains(QStringLiteral("--password=") + login.password));
        QVERIFY(!logins.constFirst().join(u' ').contains(QStringLiteral("--auth-code")));
        QVERIFY(login.code.isEmpty() || logins.constLast().contains(QStringLiteral("--auth-code=") + login.code));
        for (const QStringList& call : logins)
            QVERIFY(call.contains(QStringLiteral("--keychain-passphrase=") + passphrase));
        // None of it in what the adapter printed; the code is echoed by the terminal only.
        QVERIFY(!transcript.contains(login.password) && !transcript.contains(passphrase));
        QVERIFY(login.code.isEmpty() || transcript.count(login.code) == 1);

        const QString session = home.filePath(QStringLiteral(".ipatool"));
        QCOMPARE(QFile::exists(session + QStringLiteral("/account")), success);
        if (!success)
            return;
        QVERIFY(QFileInfo(session).isDir() && !QFileInfo(session).isSymLink());
        QVERIFY(QFile::exists(session + QStringLiteral("/cookies")));
        // Moving the files away signs the account out; putting them back signs it in again.
        QVERIFY(QFile::rename(session + QStringLiteral("/account"), session + QStringLiteral("/aside")));
        QVERIFY(runAdapter(QStringLiteral("auth info")).err().contains(QStringLiteral("Not logged in")));
        QVERIFY(QFile::rename(session + QStringLiteral("/aside"), session + QStringLiteral("/account")));
        QVERIFY(runAdapter(QStringLiteral("auth info")).out().contains(QStringLiteral("email=") + login.email));
    }

    // A purchase every fifth day from 2019 to mid-2022, beside the sample's two of 2021 and 2024.
    void purchasesComeInPages_data()
    {
        QTest::addColumn<int>("sinceYear"); // 0: all
        QTest::addColumn<QString>("pages");
        QTest::newRow("all of 250, three pages") << 0 << "1 2 3";
        QTest::newRow("since 2022: within the first page") << 2022 << "1";
        QTest::newRow("since 2021: into the second page") << 2021 << "1 2";
    }

    void purchasesComeInPages()
    {
        QFETCH(int, sinceYear);
        QFETCH(QString, pages);
        QMap<QDate, QString> bought{{QDate(2021, 3, 5), QStringLiteral("100000001")}, {QDate(2024, 2, 1), QStringLiteral("100000002")}};
        for (int i = 0; i < 250; ++i) {
            const QDate date = QDate(2019, 1, 1).addDays(5 * i);
            bought.insert(date, QString::number(200000000 + i));
            m_sandbox->world.addPurchase(jane, bought.value(date), QStringLiteral("App %1").arg(i), date);
        }
        m_sandbox->world.write();
        SimWorld::signIn(jane);

        const ToolRun run = runAdapter(sinceYear ? QStringLiteral("list-purchases --since-year %1").arg(sinceYear)
                                                 : QStringLiteral("list-purchases --all"));
        QCOMPARE(run.status, 0);
        // One line, oldest first, dates in the store's words.
        QCOMPARE(run.out().count(u'\n'), 1);
        QVERIFY(sinceYear || run.out().contains(QStringLiteral(
                                 "apps=[{\"id\":200000000,\"kind\":\"iOS App\",\"name\":\"App 0\",\"purchaseDate\":\"Jan 1, 2019\"}")));
        QStringList expected, ids, asked; // newest first, as Telmora reads them
        for (auto it = bought.cbegin(); it != bought.cend(); ++it) {
            if (it.key().year() >= sinceYear)
                expected.prepend(it.value());
        }
        const QList<AppItem> items = parsePurchases(run.out()).value_or(QList<AppItem>());
        for (const AppItem& item : items)
            ids.append(item.id);
        QCOMPARE(ids, expected);
        QCOMPARE(items.value(0).purchaseDate, QStringLiteral("01.02.2024"));
        for (const QStringList& call : upstreamCalls(QStringLiteral("list-purchases"))) {
            QCOMPARE(call.mid(0, 4), QStringLiteral("list-purchases -l 100 -p").split(u' '));
            asked.append(call.value(4));
        }
        QCOMPARE(asked.join(u' '), pages);
    }

    void downloadShowsUpstreamsProgress()
    {
        m_sandbox->world.setTiming(QStringLiteral("download"), 400).write(); // 0.4 s at the tests' speed
        SimWorld::signIn(jane);
        QTemporaryDir folder;
        Terminal terminal(adapter, QStringLiteral("download -i 100000001 --purchase").split(u' '), folder.path());
        QCOMPARE(terminal.finish(), 0);
        const QString transcript = terminal.clean();
        // The bar as upstream draws it, frame by frame, reaches Telmora's terminal.
        QSet<QString> percentages;
        static const QRegularExpression frame(QStringLiteral("downloading\\s+(\\d+)% \\|"));
        for (auto it = frame.globalMatch(transcript); it.hasNext();)
            percentages.insert(it.next().captured(1));
        QVERIFY2(percentages.size() >= 3 && percentages.contains(QStringLiteral("100")), qPrintable(transcript));
        QVERIFY(transcript.contains(QStringLiteral("success=true")));
        QCOMPARE(QDir(folder.path()).entryList({QStringLiteral("*.ipa")}).size(), 1);
        const QStringList call = upstreamCalls(QStringLiteral("download")).value(0);
        QVERIFY(call.contains(QStringLiteral("--keychain-passphrase=") + storedPassphrase()));
        QVERIFY(!call.contains(QStringLiteral("--non-interactive"))); // the bar needs interactive mode
    }

    void answersInTheContractsShape_data()
    {
        QTest::addColumn<Answer>("answer");
        const auto row = [](const char* name, const Answer& answer) { QTest::newRow(name) << answer; };
        const QString auth = QStringLiteral("--version auth");
        row("signed out", {"auth info", signedOut, 1, {"ERR error=\"Not logged in\" success=false"}, "", auth});
        row("signed in", {"auth info", signedIn, 0, {"INF email=jane@example.com name=\"Jane Doe\" success=true"}, "ERR", auth});
        row("session locked with another passphrase", {"auth info", lockedElsewhere, 1, {"Not logged in"}, "", auth});
        row("download signed out", {"download -i 100000001 --purchase", signedOut, 1, {"ERR error=\"Not logged in\" success=false"}});
        row("kbsync without upstream", {"kbsync --refresh", signedIn, 0, {"INF success=true"}});
        row("search keeps its JSON", {"search Notes --limit 25 --format json --non-interactive", signedIn, 0,
                                      {"{\"level\":\"info\",\"apps\":[{\"bundleID\":\"com.example.notes\",\"id\":100000001"}, "success",
                                      "--version search"});
        row("version details without a minimum iOS",
            {"get-version-metadata -i 100000001 --external-version-id 800000001", signedIn, 0,
             {"displayVersion=1.0", "externalVersionID=800000001"}, "minimumOSVersion", "--version get-version-metadata"});
        row("versions of an app not owned: licence first", {"list-versions -i 100000004 --purchase", signedIn, 0,
             {"externalVersionIdentifiers=[\"800000005\"]"}, "", "--version list-versions purchase list-versions"});
        row("versions without --purchase",
            {"list-versions -i 100000004", signedIn, 1, {"ERR error=\"license is required\""}, "", "--version list-versions"});
        row("licence already held", {"purchase -i 100000001", signedIn, 0, {"INF alreadyOwned=true success=true"}, "", "--version purchase"});
        row("free licence", {"purchase -i 100000004", signedIn, 0, {"alreadyOwned=false success=true"}, "", "--version purchase"});
        row("paid app", {"purchase -i 100000003", signedIn, 1, {"purchasing paid apps is not supported"}, "", "--version purchase"});
        row("expired session that needs a code", {"search Notes --limit 25", signedIn, 1, {"ERR error=\"session expired\" success=false"},
             "", "--version search", {.command = "ipatool search", .error = "auth code is required"}});
        row("keyring that cannot be opened",
            {"auth info", signedIn, 1, {"хранилище входа", "Ответ ipatool: open ~/.ipatool/cookies: permission denied"}, "goroutine", auth,
             {.command = "ipatool auth", .error = "open ~/.ipatool/cookies: permission denied", .panic = true}});
        row("unknown command", {"frobnicate", signedIn, 1, {"unknown command \\\"frobnicate\\\""}});

        const auto found = [&](const char* name, const char* version, const char* where, const char* calls, const QString& message = {}) {
            row(name, {"auth info", signedIn, message.isEmpty() ? 0 : 1,
                       message.isEmpty() ? QStringList{"email=jane@example.com"} : QStringList{"github.com/majd/ipatool/releases", "ipatool-2.8.0-linux-"},
                       "", calls, {}, message, version, where});
        };
        found("oldest release that signs in", "2.6.0", "sim", "--version auth");
        found("a build from source", "dev", "sim", "--version auth");
        found("release that can no longer sign in", "2.3.1", "sim", "--version", upstream::tooOldMessage({2, 3, 1}));
        found("on PATH behind a link to the adapter", "2.8.0", "PATH", "--version auth");
        found("only the adapter on PATH", "2.8.0", "nowhere", "", upstream::missingMessage());
        found("TELMORA_IPATOOL naming the adapter", "2.8.0", "itself", "", upstream::missingMessage());

        // Upstream answering what it should not.
        const auto odd = [&](const char* name, const char* arguments, const QByteArray& out, const QByteArray& err, const char* ending,
                             const QString& message) {
            row(name, {arguments, signedIn, 1, {message}, {}, {}, {}, message == u"Not logged in" ? QString() : message, "2.8.0", "sim", out, err, ending});
        };
        const QString unreadable = QStringLiteral("ipatool ответил непонятно");
        odd("no JSON", "auth info", "hello\n", {}, "exit 0", unreadable);
        odd("cut-off JSON", "auth info", "{\"level\":\"info\",\"email\":\"j@x", {}, "exit 0", unreadable);
        odd("another shape", "auth info", "[1,2]\n{\"level\":\"info\",\"count\":1}\n", {}, "exit 0", unreadable);
        odd("no text at all", "auth info", QByteArray("\x00\xff\xfe{{\n\x01", 7), {}, "exit 0", unreadable);
        odd("one enormous line", "list-purchases --all", QByteArray(4 << 20, '['), {}, "exit 0", unreadable);
        odd("apps that are no list", "list-purchases --all", "{\"level\":\"info\",\"apps\":7,\"totalCount\":1}\n", {}, "exit 0", unreadable);
        odd("error without words", "auth info", {}, {}, "exit 1", QStringLiteral("ipatool завершился с ошибкой (код 1)."));
        odd("Go panic", "auth info", {}, "panic: runtime error: index out of range\n\ngoroutine 1:\n", "exit 2",
            QStringLiteral("Ответ ipatool: runtime error: index out of range"));
        odd("account without an address", "auth info", "{\"level\":\"info\",\"email\":\"\",\"name\":\" \",\"success\":true}\n", {},
            "exit 0", QStringLiteral("Not logged in"));
        odd("killed", "auth info", {}, {}, "kill -SEGV $$", QStringLiteral("ipatool завершился аварийно"));
    }

    void answersInTheContractsShape()
    {
        QFETCH(Answer, answer);
        m_sandbox->world.setUpstreamDialect(answer.version);
        if (!answer.failure.command.isEmpty())
            m_sandbox->world.addFailure(answer.failure);
        m_sandbox->world.write();
        if (answer.session != signedOut)
            SimWorld::signIn(jane);
        if (answer.session == lockedElsewhere)
            QVERIFY(writeFile(QDir::home().filePath(QStringLiteral(".ipatool/account")),
                              R"({"email":"jane@example.com","name":"Jane Doe","keyring":"0123"})"));
        QTemporaryDir folder;
        if (!answer.ending.isEmpty()) { // a stand-in that says it is 2.8.0
            const QString path = folder.filePath(QStringLiteral("ipatool"));
            QVERIFY(writeFile(path, "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'ipatool version 2.8.0'; exit 0; fi\n"
                                    "cat \"$0.out\"; cat \"$0.err\" >&2\n" + answer.ending + '\n')
                    && writeFile(path + QStringLiteral(".out"), answer.out) && writeFile(path + QStringLiteral(".err"), answer.err));
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            qputenv("TELMORA_IPATOOL", QFile::encodeName(path));
        }
        const QString link = folder.filePath(QStringLiteral("ipatool"));
        if (answer.where != u"sim") {
            QVERIFY(QFile::link(adapter, link));
            qunsetenv("TELMORA_IPATOOL");
        }
        if (answer.where == u"itself")
            qputenv("TELMORA_IPATOOL", QFile::encodeName(link));
        const auto restorePath = pathGuard(answer.where == u"PATH" ? std::optional(folder.path() + u':' + simBin)
                                           : answer.where == u"nowhere" ? std::optional(folder.path())
                                                                        : std::nullopt);

        const ToolRun run = runAdapter(answer.arguments);
        const QString printed = answer.status == 0 ? run.out() : run.err();
        QCOMPARE(run.status, answer.status);
        for (const QString& text : answer.expected)
            QVERIFY2(printed.contains(text), qPrintable(printed));
        QVERIFY2(answer.absent.isEmpty() || !(run.out() + run.err()).contains(answer.absent), qPrintable(run.out() + run.err()));
        if (answer.status != 0) // the contract's error line, last
            QVERIFY(printed.contains(QStringLiteral("ERR error=\"")) && printed.trimmed().endsWith(QStringLiteral("success=false")));
        QVERIFY2(friendlyError(run.err()).contains(answer.shown), qPrintable(friendlyError(run.err()))); // as written
        QStringList asked;
        for (const QStringList& call : upstreamCalls())
            asked.append(call.value(0));
        QCOMPARE(asked.join(u' '), answer.calls);
        if (answer.arguments.contains(QStringLiteral("json")))
            QCOMPARE(parseSearch(run.out()).value(0).id, QStringLiteral("100000001"));
    }

    void storeWorksThroughTheAdapter()
    {
        m_sandbox->world.addPurchase(anna, QStringLiteral("100000001"), QStringLiteral("Notes Pro"), QDate(2021, 3, 5))
            .addPurchase(anna, QStringLiteral("100000002"), QStringLiteral("Maps Plus"), QDate(2024, 2, 1))
            .write();
        QTemporaryDir bin;
        const auto restoreBin = usePackageTools(bin, deviceTools);

        Store store(test::storeOptions());
        test::awaitTask(store.checkAuth(false));
        QVERIFY(!store.email());
        QVERIFY(test::signIn(store, anna, QStringLiteral("pw-anna"), QStringLiteral("123456")));

        test::awaitTask(store.loadPurchases(true));
        QVERIFY(!store.purchasesError());
        QCOMPARE(store.purchases().size(), 2);
        QCOMPARE(store.purchases().constFirst().purchaseDate, QStringLiteral("01.02.2024")); // newest first

        const AppItem notes{QStringLiteral("100000001"), QStringLiteral("Notes Pro")};
        store.enqueue({notes});
        QTRY_COMPARE_WITH_TIMEOUT(store.activeJobCount(), 0, 30000);
        QCOMPARE(store.jobs().constFirst().state.kind, Job::State::Kind::done);
        QCOMPARE(store.files().size(), 1);

        store.openVersions(notes);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading() && store.versions().size() == 2, 30000);
        QVERIFY(!store.versionsError());
        QCOMPARE(store.versions().constFirst().id, QStringLiteral("800000002"));
        QCOMPARE(store.versions().constFirst().meta->display, QStringLiteral("2.0"));
        QCOMPARE(store.versions().constFirst().meta->minOS, std::nullopt); // upstream says none

        // Every upstream run carried the passphrase; kbsync never reached upstream.
        const QString passphrase = QStringLiteral("--keychain-passphrase=") + storedPassphrase();
        for (const QStringList& call : upstreamCalls())
            QVERIFY(call.value(0) != u"kbsync" && (call == QStringList{QStringLiteral("--version")} || call.contains(passphrase)));
    }

    // Ready only when every tool a real run needs is there and new enough; the device
    // service and the account are reported, not required.
    void doctor_data()
    {
        QTest::addColumn<Doctor>("doctor");
        QTest::newRow("everything") << Doctor{"2.8.0", "1.2.0", deviceTools, true,
                                              {"[ок]  ipatool (upstream): " + simBin + "/ipatool, версия 2.8.0",
                                               "синтаксис 1.2 (--udid UDID install|upgrade PATH)",
                                               "[ок]  служба устройств (usbmuxd): отвечает, подключено iPhone: 1",
                                               "[--]  аккаунт: вход не выполнен"}};
        QTest::newRow("Debian's installer") << Doctor{"2.6.0", "1.1.1", deviceTools, true, {"синтаксис 1.1 (-u UDID -i PATH, -g PATH)"}};
        QTest::newRow("no upstream") << Doctor{"", "1.2.0", deviceTools, false, {"[нет] ipatool (upstream): Не найден ipatool"}};
        QTest::newRow("old upstream") << Doctor{"2.3.1", "1.2.0", deviceTools, false, {"[нет] ipatool (upstream):", "2.3.1"}};
        QTest::newRow("no installer")
            << Doctor{"2.8.0", "1.2.0", deviceTools.mid(0, 2), false, {"[нет] ideviceinstaller: не найден", "Не хватает"}};
    }

    void doctor()
    {
        QFETCH(Doctor, doctor);
        m_sandbox->world.setUpstreamDialect(doctor.upstream.isEmpty() ? QStringLiteral("2.8.0") : doctor.upstream)
            .setOption(QStringLiteral("installerVersion"), doctor.installer)
            .write();
        if (doctor.upstream.isEmpty())
            qunsetenv("TELMORA_IPATOOL");
        const auto restorePath = pathGuard(doctor.upstream.isEmpty() ? std::optional(m_runtime.path()) : std::nullopt);
        QTemporaryDir bin;
        const auto restoreBin = usePackageTools(bin, doctor.tools);

        const Diagnosis diagnosis = test::awaitTask(diagnose(QStringLiteral("/session"), QStringLiteral("/downloads")));
        QCOMPARE(diagnosis.ready(), doctor.ready);
        for (const QString& line : doctor.lines)
            QVERIFY2(diagnosis.text().contains(line), qPrintable(diagnosis.text()));
    }

private:
    QTemporaryDir m_runtime;
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(AdapterTest)
#include "tst_adapter.moc"
