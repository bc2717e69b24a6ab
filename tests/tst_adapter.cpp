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
const QStringList deviceTools{QStringLiteral("idevice_id"), QStringLiteral("ideviceinfo"), QStringLiteral("ideviceinstaller")};

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

QString passphraseFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Telmora/ipatool-passphrase");
}

QString storedPassphrase()
{
    QFile file(passphraseFile());
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).trimmed() : QString();
}

// The arguments of a running program, as every process of this user can read them.
QStringList commandLine(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    QStringList words = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).split(QChar(0), Qt::SkipEmptyParts)
                                                       : QStringList();
    return words.mid(1);
}

// Sets PATH (when `value` is given) until the guard goes.
auto pathGuard(const std::optional<QByteArray>& value)
{
    const QByteArray saved = qgetenv("PATH");
    if (value)
        qputenv("PATH", *value);
    return qScopeGuard([saved] { qputenv("PATH", saved); });
}

// A stand-in for upstream that says it is 2.8.0 and answers every command with the given
// output and last shell line.
QString writeFakeUpstream(const QTemporaryDir& folder, const QByteArray& out, const QByteArray& err, const QByteArray& ending)
{
    const QString path = folder.filePath(QStringLiteral("ipatool"));
    const QList<std::pair<QString, QByteArray>> files{
        {path, "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'ipatool version 2.8.0'; exit 0; fi\n"
               "cat \"$0.out\"; cat \"$0.err\" >&2\n" + ending + '\n'},
        {path + QStringLiteral(".out"), out},
        {path + QStringLiteral(".err"), err}};
    for (const auto& [name, bytes] : files) {
        QFile file(name);
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
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

enum Session { signedOut, signedIn, lockedElsewhere };

} // namespace

Q_DECLARE_METATYPE(telmora::test::SimWorld::Failure)

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
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("code"); // empty: no code is asked for
        QTest::addColumn<QString>("xdg");  // state, data, both (and a folder where the link belongs)
        QTest::addColumn<QString>("result");

        const QString janeIn = QStringLiteral("INF email=jane@example.com name=\"Jane Doe\" success=true");
        QTest::newRow("password") << jane << "secret" << "" << "" << janeIn;
        QTest::newRow("two-factor code, XDG_STATE_HOME") << anna << "pw-anna" << "123456" << "state"
                                                         << "INF email=anna@example.com name=Anna success=true";
        QTest::newRow("XDG_DATA_HOME") << jane << "secret" << "" << "data" << janeIn;
        QTest::newRow("both XDG folders, a folder in the way") << jane << "secret" << "" << "both" << janeIn;
        QTest::newRow("wrong password") << jane << "not-it" << "" << "" << "ERR error=\"password was incorrect\" success=false";
        // Apple answers a wrong password of such an account with a request for the code.
        QTest::newRow("wrong code") << anna << "pw-anna" << "654321" << "" << "ERR error=\"something went wrong\" success=false";
    }

    void signIn()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, code);
        QFETCH(QString, xdg);
        QFETCH(QString, result);
        const QDir home = QDir::home();
        if (xdg == u"state" || xdg == u"both")
            qputenv("XDG_STATE_HOME", QFile::encodeName(home.filePath(QStringLiteral("state"))));
        if (xdg == u"data" || xdg == u"both")
            qputenv("XDG_DATA_HOME", QFile::encodeName(home.filePath(QStringLiteral("data"))));
        if (xdg == u"both")
            QVERIFY(home.mkpath(QStringLiteral("data/Telmora/ipatool-state/ipatool")) && home.mkpath(QStringLiteral(".ipatool")));

        Terminal terminal(adapter, {QStringLiteral("auth"), QStringLiteral("login")});
        QList<std::pair<QByteArray, QString>> dialogue{{"Enter email:", email}, {"Enter password:", password}};
        if (!code.isEmpty())
            dialogue.append({"Enter 2FA code:", code});
        for (const auto& [prompt, answer] : dialogue) {
            QVERIFY2(terminal.waitFor(prompt), terminal.transcript);
            QVERIFY2(terminal.transcript.trimmed().endsWith(prompt), terminal.transcript); // no line end
            // Telmora types the secrets; they never become the adapter's own arguments.
            QCOMPARE(commandLine(terminal.pid()), (QStringList{QStringLiteral("auth"), QStringLiteral("login")}));
            terminal.send(answer.toUtf8());
        }
        const bool success = result.contains(QStringLiteral("success=true"));
        QCOMPARE(terminal.finish(), success ? 0 : 1);
        const QString transcript = terminal.clean();
        QVERIFY2(transcript.contains(result), qPrintable(transcript));
        QCOMPARE(transcript.count(QStringLiteral("Enter 2FA code:")), code.isEmpty() ? 0 : 1);

        // Upstream got the answers as arguments, once without a code and once with it, each
        // time with the passphrase: 32 random bytes in a file of the user's alone.
        const QString passphrase = storedPassphrase();
        QCOMPARE(passphrase.size(), 43);
        QCOMPARE(QFile::permissions(passphraseFile()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QList<QStringList> logins = upstreamCalls(QStringLiteral("auth"));
        QCOMPARE(logins.size(), code.isEmpty() ? 1 : 2);
        QVERIFY(logins.constFirst().contains(QStringLiteral("--password=") + password));
        QVERIFY(!logins.constFirst().join(u' ').contains(QStringLiteral("--auth-code")));
        if (!code.isEmpty())
            QVERIFY(logins.constLast().contains(QStringLiteral("--auth-code=") + code));
        for (const QStringList& call : logins)
            QVERIFY(call.contains(QStringLiteral("--keychain-passphrase=") + passphrase));
        // None of it in what the adapter printed; the code is echoed by the terminal only.
        QVERIFY(!transcript.contains(password) && !transcript.contains(passphrase));
        QVERIFY(code.isEmpty() || transcript.count(code) == 1);

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
        QVERIFY(runAdapter(QStringLiteral("auth info")).out().contains(QStringLiteral("email=") + email));
    }

    void upstreamIsFoundAndChecked_data()
    {
        QTest::addColumn<QString>("where"); // sim, itself, nowhere, PATH
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("message"); // empty: signed in as expected

        QTest::newRow("current release") << "sim" << "2.8.0" << "";
        QTest::newRow("oldest release that signs in") << "sim" << "2.6.0" << "";
        QTest::newRow("a build from source") << "sim" << "dev" << "";
        QTest::newRow("release that can no longer sign in") << "sim" << "2.3.1" << upstream::tooOldMessage({2, 3, 1});
        QTest::newRow("on PATH behind a link to the adapter") << "PATH" << "2.8.0" << "";
        QTest::newRow("only the adapter on PATH") << "nowhere" << "2.8.0" << upstream::missingMessage();
        QTest::newRow("TELMORA_IPATOOL naming the adapter") << "itself" << "2.8.0" << upstream::missingMessage();
    }

    void upstreamIsFoundAndChecked()
    {
        QFETCH(QString, where);
        QFETCH(QString, version);
        QFETCH(QString, message);
        m_sandbox->world.setUpstreamDialect(version).write();
        SimWorld::signIn(jane);
        QTemporaryDir links;
        QVERIFY(QFile::link(adapter, links.filePath(QStringLiteral("ipatool"))));
        if (where == u"itself")
            qputenv("TELMORA_IPATOOL", QFile::encodeName(links.filePath(QStringLiteral("ipatool"))));
        if (where == u"PATH" || where == u"nowhere")
            qunsetenv("TELMORA_IPATOOL");
        const auto restorePath = pathGuard(where == u"PATH" ? std::optional(QFile::encodeName(links.path() + u':' + simBin))
                                           : where == u"nowhere" ? std::optional(QFile::encodeName(links.path()))
                                                                 : std::nullopt);

        const ToolRun run = runAdapter(QStringLiteral("auth info"));
        QCOMPARE(run.status, message.isEmpty() ? 0 : 1);
        if (message.isEmpty()) {
            QVERIFY2(run.out().contains(QStringLiteral("email=") + jane), qPrintable(run.out() + run.err()));
            return;
        }
        QVERIFY2(run.err().contains(QStringLiteral("ERR error=\"")), qPrintable(run.err()));
        QCOMPARE(friendlyError(run.err()), message); // Telmora shows it as written
        QVERIFY(message.contains(QRegularExpression(QStringLiteral("ipatool-2\\.8\\.0-linux-(amd64|arm64)\\.tar\\.gz"))));
        QVERIFY(message.contains(QStringLiteral("github.com/majd/ipatool/releases")));
        // A release too old is asked for its version and nothing else.
        for (const QStringList& call : upstreamCalls())
            QCOMPARE(call, QStringList{QStringLiteral("--version")});
    }

    void purchasesComeInPages_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("sinceYear"); // 0: all
        QTest::addColumn<QString>("pages");
        QTest::newRow("all of 250, three pages") << "list-purchases --all" << 0 << "1 2 3";
        QTest::newRow("since 2022: within the first page") << "list-purchases --since-year 2022" << 2022 << "1";
        QTest::newRow("since 2021: into the second page") << "list-purchases --since-year 2021" << 2021 << "1 2";
    }

    void purchasesComeInPages()
    {
        QFETCH(QString, arguments);
        QFETCH(int, sinceYear);
        QFETCH(QString, pages);
        // A purchase every fifth day from 2019 to mid-2022, beside the sample's two of 2021 and 2024.
        QMap<QDate, QString> bought{{QDate(2021, 3, 5), QStringLiteral("100000001")}, {QDate(2024, 2, 1), QStringLiteral("100000002")}};
        for (int i = 0; i < 250; ++i) {
            const QDate date = QDate(2019, 1, 1).addDays(5 * i);
            bought.insert(date, QString::number(200000000 + i));
            m_sandbox->world.addPurchase(jane, bought.value(date), QStringLiteral("App %1").arg(i), date);
        }
        m_sandbox->world.write();
        SimWorld::signIn(jane);

        const ToolRun run = runAdapter(arguments);
        QCOMPARE(run.status, 0);
        // One line, oldest first, dates in the store's words.
        QCOMPARE(run.out().count(u'\n'), 1);
        if (sinceYear == 0)
            QVERIFY(run.out().contains(QStringLiteral("apps=[{\"id\":200000000,\"kind\":\"iOS App\",\"name\":\"App 0\",\"purchaseDate\":\"Jan 1, 2019\"}")));
        QStringList expected; // newest first, as Telmora reads them
        for (auto it = bought.cbegin(); it != bought.cend(); ++it) {
            if (it.key().year() >= sinceYear)
                expected.prepend(it.value());
        }
        QStringList ids;
        for (const AppItem& item : parsePurchases(run.out()).value_or(QList<AppItem>()))
            ids.append(item.id);
        QCOMPARE(ids, expected);
        QCOMPARE(parsePurchases(run.out())->constFirst().purchaseDate, QStringLiteral("01.02.2024"));

        QStringList asked;
        for (const QStringList& call : upstreamCalls(QStringLiteral("list-purchases"))) {
            QCOMPARE(call.mid(0, 4), QStringLiteral("list-purchases -l 100 -p").split(u' '));
            asked.append(call.value(4));
        }
        QCOMPARE(asked.join(u' '), pages);
    }

    void downloadShowsUpstreamsProgress_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        QTest::newRow("signed out") << false;
    }

    void downloadShowsUpstreamsProgress()
    {
        QFETCH(bool, signedIn);
        m_sandbox->world.setTiming(QStringLiteral("download"), 400).write(); // 0.4 s at the tests' speed
        if (signedIn)
            SimWorld::signIn(jane);
        QTemporaryDir folder;
        Terminal terminal(adapter, QStringLiteral("download -i 100000001 --purchase").split(u' '), folder.path());
        QCOMPARE(terminal.finish(), signedIn ? 0 : 1);
        const QString transcript = terminal.clean();
        if (!signedIn) {
            QVERIFY2(transcript.contains(QStringLiteral("ERR error=\"Not logged in\" success=false")), qPrintable(transcript));
            QVERIFY(upstreamCalls(QStringLiteral("download")).isEmpty());
            return;
        }
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
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<int>("session");
        QTest::addColumn<SimWorld::Failure>("failure");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("absent");
        QTest::addColumn<QString>("calls"); // first word of every upstream run
        const auto row = [](const char* name, const char* arguments, Session session, int status, const QStringList& expected,
                            const char* absent, const char* calls, const SimWorld::Failure& failure = {}) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << int(session) << failure << status << expected
                                << QString::fromUtf8(absent) << QString::fromUtf8(calls);
        };
        row("signed out", "auth info", signedOut, 1, {"ERR error=\"Not logged in\" success=false"}, "", "--version auth");
        row("signed in", "auth info", signedIn, 0, {"INF email=jane@example.com name=\"Jane Doe\" success=true"}, "ERR", "--version auth");
        row("session locked with another passphrase", "auth info", lockedElsewhere, 1, {"Not logged in"}, "", "--version auth");
        row("kbsync without upstream", "kbsync --refresh", signedIn, 0, {"INF success=true"}, "", "");
        row("search keeps its JSON", "search Notes --limit 25 --format json --non-interactive", signedIn, 0,
            {"{\"level\":\"info\",\"apps\":[{\"bundleID\":\"com.example.notes\",\"id\":100000001"}, "success", "--version search");
        row("version details without a minimum iOS", "get-version-metadata -i 100000001 --external-version-id 800000001", signedIn, 0,
            {"displayVersion=1.0", "externalVersionID=800000001"}, "minimumOSVersion", "--version get-version-metadata");
        row("versions of an app not owned: licence first", "list-versions -i 100000004 --purchase", signedIn, 0,
            {"externalVersionIdentifiers=[\"800000005\"]"}, "", "--version list-versions purchase list-versions");
        row("versions without --purchase", "list-versions -i 100000004", signedIn, 1, {"ERR error=\"license is required\""}, "",
            "--version list-versions");
        row("licence already held", "purchase -i 100000001", signedIn, 0, {"INF alreadyOwned=true success=true"}, "", "--version purchase");
        row("free licence", "purchase -i 100000004", signedIn, 0, {"alreadyOwned=false success=true"}, "", "--version purchase");
        row("paid app", "purchase -i 100000003", signedIn, 1, {"purchasing paid apps is not supported"}, "", "--version purchase");
        row("expired session that needs a code", "search Notes --limit 25", signedIn, 1, {"ERR error=\"session expired\" success=false"},
            "", "--version search", {.command = "ipatool search", .error = "auth code is required"});
        row("keyring that cannot be opened", "auth info", signedIn, 1,
            {"хранилище входа", "Ответ ipatool: open ~/.ipatool/cookies: permission denied", "success=false"}, "goroutine",
            "--version auth", {.command = "ipatool auth", .error = "open ~/.ipatool/cookies: permission denied", .panic = true});
        row("unknown command", "frobnicate", signedIn, 1, {"unknown command \\\"frobnicate\\\""}, "", "");
    }

    void answersInTheContractsShape()
    {
        QFETCH(QString, arguments);
        QFETCH(int, session);
        QFETCH(SimWorld::Failure, failure);
        QFETCH(int, status);
        QFETCH(QStringList, expected);
        QFETCH(QString, absent);
        QFETCH(QString, calls);
        if (!failure.command.isEmpty())
            m_sandbox->world.addFailure(failure).write();
        if (session != signedOut)
            SimWorld::signIn(jane);
        if (session == lockedElsewhere) {
            QFile account(QDir::home().filePath(QStringLiteral(".ipatool/account")));
            QVERIFY(account.open(QIODevice::WriteOnly));
            account.write(R"({"email":"jane@example.com","name":"Jane Doe","keyring":"0123"})");
        }

        const ToolRun run = runAdapter(arguments);
        const QString output = run.out() + run.err();
        QCOMPARE(run.status, status);
        for (const QString& text : expected)
            QVERIFY2(output.contains(text), qPrintable(output));
        QVERIFY2(absent.isEmpty() || !output.contains(absent), qPrintable(output));
        QStringList asked;
        for (const QStringList& call : upstreamCalls())
            asked.append(call.value(0));
        QCOMPARE(asked.join(u' '), calls);
        if (arguments.contains(QStringLiteral("json")))
            QCOMPARE(parseSearch(run.out()).value(0).id, QStringLiteral("100000001"));
    }

    void unexpectedAnswersBecomeErrors_data()
    {
        QTest::addColumn<QString>("arguments");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        QTest::addColumn<QByteArray>("ending");
        QTest::addColumn<QString>("message");
        const auto row = [](const char* name, const char* arguments, const QByteArray& out, const QByteArray& err,
                            const QByteArray& ending, const QString& message) {
            QTest::newRow(name) << QString::fromUtf8(arguments) << out << err << ending << message;
        };
        const QString unreadable = QStringLiteral("ipatool ответил непонятно");
        row("no JSON", "auth info", "hello\n", {}, "exit 0", unreadable);
        row("cut-off JSON", "auth info", "{\"level\":\"info\",\"email\":\"j@x", {}, "exit 0", unreadable);
        row("another shape", "auth info", "[1,2]\n{\"level\":\"info\",\"count\":1}\n", {}, "exit 0", unreadable);
        row("no text at all", "auth info", QByteArray("\x00\xff\xfe{{\n\x01", 7), {}, "exit 0", unreadable);
        row("one enormous line", "list-purchases --all", QByteArray(4 << 20, '['), {}, "exit 0", unreadable);
        row("apps that are no list", "list-purchases --all", "{\"level\":\"info\",\"apps\":7,\"totalCount\":1}\n", {}, "exit 0", unreadable);
        row("error without words", "auth info", {}, {}, "exit 1", QStringLiteral("ipatool завершился с ошибкой (код 1)."));
        row("Go panic", "auth info", {}, "panic: runtime error: index out of range\n\ngoroutine 1:\n", "exit 2",
            QStringLiteral("Ответ ipatool: runtime error: index out of range"));
        row("account without an address", "auth info", "{\"level\":\"info\",\"email\":\"\",\"name\":\" \",\"success\":true}\n", {},
            "exit 0", QStringLiteral("Not logged in"));
        row("killed", "auth info", {}, {}, "kill -SEGV $$", QStringLiteral("ipatool завершился аварийно"));
    }

    void unexpectedAnswersBecomeErrors()
    {
        QFETCH(QString, arguments);
        QFETCH(QByteArray, out);
        QFETCH(QByteArray, err);
        QFETCH(QByteArray, ending);
        QFETCH(QString, message);
        SimWorld::signIn(jane);
        QTemporaryDir folder;
        qputenv("TELMORA_IPATOOL", QFile::encodeName(writeFakeUpstream(folder, out, err, ending)));

        const ToolRun run = runAdapter(arguments);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err().contains(QStringLiteral("ERR error=\"")) && run.err().contains(message), qPrintable(run.err()));
        QVERIFY(run.err().trimmed().endsWith(QStringLiteral("success=false")));
        if (message != u"Not logged in")
            QVERIFY(friendlyError(run.err()).contains(message)); // shown to the user as written
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
        QCOMPARE(store.purchases().constFirst().id, QStringLiteral("100000002"));
        QCOMPARE(store.purchases().constFirst().purchaseDate, QStringLiteral("01.02.2024"));

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
        for (const QStringList& call : upstreamCalls()) {
            QVERIFY(call.value(0) != u"kbsync");
            QVERIFY(call == QStringList{QStringLiteral("--version")} || call.contains(passphrase));
        }
    }

    // Ready only when every tool a real run needs is there and new enough; the device
    // service and the account are reported, not required.
    void doctor_data()
    {
        QTest::addColumn<QString>("upstreamVersion"); // empty: none installed
        QTest::addColumn<QString>("installerVersion");
        QTest::addColumn<QStringList>("tools");
        QTest::addColumn<bool>("ready");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("everything") << "2.8.0" << "1.2.0" << deviceTools << true
                                    << QStringList{"[ок]  ipatool (upstream): " + simBin + "/ipatool, версия 2.8.0",
                                                   "синтаксис 1.2 (--udid UDID install|upgrade PATH)",
                                                   "[ок]  служба устройств (usbmuxd): отвечает, подключено iPhone: 1",
                                                   "[--]  аккаунт: вход не выполнен"};
        QTest::newRow("Debian's installer") << "2.6.0" << "1.1.1" << deviceTools << true
                                            << QStringList{"синтаксис 1.1 (-u UDID -i PATH, -g PATH)"};
        QTest::newRow("no upstream") << "" << "1.2.0" << deviceTools << false << QStringList{"[нет] ipatool (upstream): Не найден ipatool"};
        QTest::newRow("old upstream") << "2.3.1" << "1.2.0" << deviceTools << false << QStringList{"[нет] ipatool (upstream):", "2.3.1"};
        QTest::newRow("no installer") << "2.8.0" << "1.2.0" << deviceTools.mid(0, 2) << false
                                      << QStringList{"[нет] ideviceinstaller: не найден", "Не хватает"};
    }

    void doctor()
    {
        QFETCH(QString, upstreamVersion);
        QFETCH(QString, installerVersion);
        QFETCH(QStringList, tools);
        QFETCH(bool, ready);
        QFETCH(QStringList, lines);
        m_sandbox->world.setUpstreamDialect(upstreamVersion.isEmpty() ? QStringLiteral("2.8.0") : upstreamVersion)
            .setOption(QStringLiteral("installerVersion"), installerVersion)
            .write();
        if (upstreamVersion.isEmpty())
            qunsetenv("TELMORA_IPATOOL");
        const auto restorePath = pathGuard(upstreamVersion.isEmpty() ? std::optional(QFile::encodeName(m_runtime.path())) : std::nullopt);
        QTemporaryDir bin;
        const auto restoreBin = usePackageTools(bin, tools);

        const Diagnosis diagnosis = test::awaitTask(diagnose(QStringLiteral("/session"), QStringLiteral("/downloads")));
        QCOMPARE(diagnosis.ready(), ready);
        for (const QString& line : lines)
            QVERIFY2(diagnosis.text().contains(line), qPrintable(diagnosis.text()));
    }

private:
    QTemporaryDir m_runtime;
    std::optional<Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(AdapterTest)
#include "tst_adapter.moc"
