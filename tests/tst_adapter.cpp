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

#include <QSysInfo>
#include <QtTest>

using namespace telmora;
using namespace Qt::StringLiterals;
using test::SimWorld;
using test::writeFile;

namespace {

const QString adapter = QStringLiteral(TELMORA_APP_DIR "/Resources/bin/ipatool");
const QString simBin = QStringLiteral(TELMORA_SIM_BIN_DIR);
const QString jane = QString::fromLatin1(SimWorld::sampleEmail); // no two-factor code
const QString anna = u"anna@example.com"_s;                       // code 123456
const QStringList deviceTools = u"idevice_id ideviceinfo ideviceinstaller"_s.split(u' ');

test::ToolRun runAdapter(const QString& line)
{
    return test::runProgram(adapter, line.split(u' '));
}

// What the adapter asked of upstream, oldest first: the calls whose first word is `command`
// (all of them for an empty one).
QList<QStringList> upstreamCalls(const QString& command = {})
{
    QList<QStringList> calls = SimWorld::calls(u"ipatool"_s);
    calls.removeIf([&](const QStringList& call) { return !command.isEmpty() && call.value(0) != command; });
    return calls;
}

QString passphraseFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Telmora/ipatool-passphrase"_s;
}

QString storedPassphrase() { return QString::fromUtf8(test::readFile(passphraseFile())).trimmed(); }

// Bin at a package's tool folder until cleanup(): the adapter as ipatool, the listed device tools simulated.
void usePackageTools(const QTemporaryDir& bin, const QStringList& tools)
{
    QFile::link(adapter, bin.filePath(u"ipatool"_s));
    for (const QString& tool : tools)
        QFile::link(simBin + u'/' + tool, bin.filePath(tool));
    Bin::setDirForTesting(bin.path());
}

// code: empty when none is asked for; xdg: the XDG_*_HOME set (both: and a folder in the way).
struct Login { QString email, password, code, xdg, result; };

enum Session { signedOut, signedIn, lockedElsewhere };

// A run of the adapter: texts expected on standard output (status 0) or error, one never printed,
// the first word of every upstream call, what Telmora shows of the error. Upstream: the simulated
// `version`, or only the adapter where Telmora looks (where: PATH before upstream, nowhere else,
// itself as TELMORA_IPATOOL), or with an `ending`, a stand-in printing `out` and `err`.
struct Answer {
    QString arguments;
    Session session;
    int status;
    QStringList expected;
    QString absent, calls;
    SimWorld::Failure failure;
    QString shown, version = u"2.8.0"_s, where = u"sim"_s;
    QByteArray out, err, ending;
};

// upstream empty: none installed; ready: the verdict; lines: in the report.
struct Doctor { QString upstream, installer; QStringList tools; bool ready; QStringList lines; };

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
        qputenv("TELMORA_IPATOOL", QFile::encodeName(simBin + u"/ipatool"_s));
        m_sandbox->world.addSample().addAccount(anna, u"pw-anna"_s, u"Anna"_s, u"123456"_s).setUpstreamDialect().write();
    }

    void cleanup()
    {
        m_sandbox.reset();
        qunsetenv("TELMORA_IPATOOL");
        qputenv("PATH", m_path);
        Bin::setDirForTesting(std::nullopt);
    }

    // Upstream 2.6+ would move ~/.ipatool to $XDG_STATE_HOME/ipatool or $XDG_DATA_HOME/ipatool:
    // the session stays in ~/.ipatool whichever is set.
    void signIn_data()
    {
        QTest::addColumn<Login>("login");
        const QString janeIn = u"INF email=jane@example.com name=\"Jane Doe\" success=true"_s;
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
            QVERIFY(home.mkpath(u"data/Telmora/ipatool-state/ipatool"_s) && home.mkpath(u".ipatool"_s));

        test::Terminal terminal(adapter, {u"auth"_s, u"login"_s});
        const QList<std::pair<QByteArray, QString>> dialogue{
            {"Enter email:", login.email}, {"Enter password:", login.password}, {"Enter 2FA code:", login.code}};
        for (const auto& [prompt, answer] : dialogue.mid(0, login.code.isEmpty() ? 2 : 3)) {
            QVERIFY2(terminal.waitFor(prompt), terminal.transcript);
            QVERIFY2(terminal.transcript.trimmed().endsWith(prompt), terminal.transcript); // no line end
            // Telmora types the secrets; they never become the adapter's arguments.
            QFile commandLine(u"/proc/%1/cmdline"_s.arg(terminal.pid())); // readable by every process of the user
            QVERIFY(commandLine.open(QIODevice::ReadOnly));
            QCOMPARE(commandLine.readAll().split('\0').mid(1), QByteArrayList({"auth", "login", ""}));
            terminal.send(answer.toUtf8());
        }
        const bool success = login.result.contains(u"success=true"_s);
        QCOMPARE(terminal.finish(), success ? 0 : 1);
        const QString transcript = terminal.clean();
        QVERIFY2(transcript.contains(login.result), qPrintable(transcript));
        QCOMPARE(transcript.count(u"Enter 2FA code:"_s), login.code.isEmpty() ? 0 : 1);

        // Upstream got the answers as arguments, the code in a second call, and the passphrase: 32 random bytes in a user-only file.
        const QString passphrase = storedPassphrase();
        QCOMPARE(passphrase.size(), 43);
        QCOMPARE(QFile::permissions(passphraseFile()) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QList<QStringList> logins = upstreamCalls(u"auth"_s);
        QCOMPARE(logins.size(), login.code.isEmpty() ? 1 : 2);
        QVERIFY(logins.constFirst().contains(u"--password="_s + login.password) && !logins.constFirst().join(u' ').contains(u"--auth-code"_s));
        QVERIFY(login.code.isEmpty() || logins.constLast().contains(u"--auth-code="_s + login.code));
        for (const QStringList& call : logins)
            QVERIFY(call.contains(u"--keychain-passphrase="_s + passphrase));
        // None of it in what the adapter printed; the code is echoed by the terminal only.
        QVERIFY(!transcript.contains(login.password) && !transcript.contains(passphrase));
        QVERIFY(login.code.isEmpty() || transcript.count(login.code) == 1);

        const QString account = home.filePath(u".ipatool/account"_s);
        QCOMPARE(QFile::exists(account), success);
        if (!success)
            return;
        const QFileInfo session(home.filePath(u".ipatool"_s));
        QVERIFY(session.isDir() && !session.isSymLink() && QFile::exists(home.filePath(u".ipatool/cookies"_s)));
        // Moving the account away signs it out; putting it back signs it in again.
        QVERIFY(QFile::rename(account, account + u".aside"_s));
        QVERIFY(runAdapter(u"auth info"_s).err().contains(u"Not logged in"_s));
        QVERIFY(QFile::rename(account + u".aside"_s, account));
        QVERIFY(runAdapter(u"auth info"_s).out().contains(u"email="_s + login.email));
    }

    void answersInTheContractsShape_data()
    {
        QTest::addColumn<Answer>("answer");
        const auto row = [](const char* name, const Answer& answer) { QTest::newRow(name) << answer; };
        const char* auth = "--version auth";
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
        // All purchases from the year asked, page by page, in one line, oldest first, dates in the store's words.
        const QString page = u" list-purchases -l 100 -p "_s;
        row("purchases: all of 250, three pages", {"list-purchases --all", signedIn, 0,
            {"apps=[{\"id\":200000000,\"kind\":\"iOS App\",\"name\":\"App 0\",\"purchaseDate\":\"Jan 1, 2019\"}"}, "",
            "--version" + page + "1" + page + "2" + page + "3"});
        row("purchases since 2022: within the first page", {"list-purchases --since-year 2022", signedIn, 0, {}, "", "--version" + page + "1"});
        row("purchases since 2021: into the second page", {"list-purchases --since-year 2021", signedIn, 0, {}, "", "--version" + page + "1" + page + "2"});

        const QStringList in{"email=jane@example.com"}, release{"github.com/majd/ipatool/releases", u"ipatool-2.8.0-linux-%1.tar.gz"_s.arg(
            QSysInfo::currentCpuArchitecture().startsWith(u"x86_64") ? u"amd64"_s : u"arm64"_s)};
        row("oldest release that signs in", {"auth info", signedIn, 0, in, "", auth, {}, "", "2.6.0"});
        row("a build from source", {"auth info", signedIn, 0, in, "", auth, {}, "", "dev"});
        row("release that can no longer sign in", {"auth info", signedIn, 1, release, "", "--version", {}, upstream::tooOldMessage({2, 3, 1}), "2.3.1"});
        row("on PATH behind a link to the adapter", {"auth info", signedIn, 0, in, "", auth, {}, "", "2.8.0", "PATH"});
        row("only the adapter on PATH", {"auth info", signedIn, 1, release, "", "", {}, upstream::missingMessage(), "2.8.0", "nowhere"});
        row("TELMORA_IPATOOL naming the adapter", {"auth info", signedIn, 1, release, "", "", {}, upstream::missingMessage(), "2.8.0", "itself"});

        // Upstream answering what it should not.
        const auto odd = [&](const char* name, const char* arguments, const QByteArray& out, const QByteArray& err, const char* ending,
                             const QString& message) { row(name, {arguments, signedIn, 1, {message}, {}, {}, {}, message, "2.8.0", "sim", out, err, ending}); };
        const QString unreadable = u"ipatool ответил непонятно"_s;
        odd("no JSON", "auth info", "hello\n", {}, "exit 0", unreadable);
        odd("cut-off JSON", "auth info", "{\"level\":\"info\",\"email\":\"j@x", {}, "exit 0", unreadable);
        odd("another shape", "auth info", "[1,2]\n{\"level\":\"info\",\"count\":1}\n", {}, "exit 0", unreadable);
        odd("no text at all", "auth info", QByteArray("\x00\xff\xfe{{\n\x01", 7), {}, "exit 0", unreadable);
        odd("one enormous line", "list-purchases --all", QByteArray(4 << 20, '['), {}, "exit 0", unreadable);
        odd("apps that are no list", "list-purchases --all", "{\"level\":\"info\",\"apps\":7,\"totalCount\":1}\n", {}, "exit 0", unreadable);
        odd("error without words", "auth info", {}, {}, "exit 1", u"ipatool завершился с ошибкой (код 1)."_s);
        odd("Go panic", "auth info", {}, "panic: runtime error: index out of range\n\ngoroutine 1:\n", "exit 2",
            u"Ответ ipatool: runtime error: index out of range"_s);
        row("account without an address", {"auth info", signedIn, 1, {"ERR error=\"Not logged in\""}, {}, {}, {}, {}, "2.8.0", "sim",
                                           "{\"level\":\"info\",\"email\":\"\",\"name\":\" \",\"success\":true}\n", {}, "exit 0"});
        odd("killed", "auth info", {}, {}, "kill -SEGV $$", u"ipatool завершился аварийно"_s);
    }

    void answersInTheContractsShape()
    {
        QFETCH(Answer, answer);
        m_sandbox->world.setUpstreamDialect(answer.version);
        // A purchase every fifth day from 2019 to mid-2022, beside the sample's two of 2021 and 2024.
        const bool purchases = answer.arguments.startsWith(u"list-purchases");
        QMap<QDate, QString> bought{{QDate(2021, 3, 5), u"100000001"_s}, {QDate(2024, 2, 1), u"100000002"_s}};
        for (int i = 0; i < 250 && purchases; ++i) {
            const QDate date = QDate(2019, 1, 1).addDays(5 * i);
            m_sandbox->world.addPurchase(jane, bought[date] = QString::number(200000000 + i), u"App %1"_s.arg(i), date);
        }
        if (!answer.failure.command.isEmpty())
            m_sandbox->world.addFailure(answer.failure);
        m_sandbox->world.write();
        if (answer.session != signedOut)
            SimWorld::signIn(jane);
        if (answer.session == lockedElsewhere)
            QVERIFY(writeFile(QDir::home().filePath(u".ipatool/account"_s), R"({"email":"jane@example.com","name":"Jane Doe","keyring":"0123"})"));
        QTemporaryDir folder; // for the stand-in (saying it is 2.8.0) or the link to the adapter
        const QString ipatool = folder.filePath(u"ipatool"_s);
        if (!answer.ending.isEmpty())
            QVERIFY(writeFile(ipatool, "#!/bin/sh\nif [ \"$1\" = --version ]; then echo 'ipatool version 2.8.0'; exit 0; fi\n"
                                       "cat \"$0.out\"; cat \"$0.err\" >&2\n" + answer.ending + '\n')
                    && writeFile(ipatool + u".out"_s, answer.out) && writeFile(ipatool + u".err"_s, answer.err)
                    && QFile::setPermissions(ipatool, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        if (answer.where != u"sim")
            QVERIFY(QFile::link(adapter, ipatool));
        if (!answer.ending.isEmpty() || answer.where == u"itself")
            qputenv("TELMORA_IPATOOL", QFile::encodeName(ipatool));
        else if (answer.where != u"sim")
            qunsetenv("TELMORA_IPATOOL");
        if (answer.where == u"PATH" || answer.where == u"nowhere")
            qputenv("PATH", QFile::encodeName(answer.where == u"PATH" ? folder.path() + u':' + simBin : folder.path()));

        const auto run = runAdapter(answer.arguments);
        const QString printed = answer.status == 0 ? run.out() : run.err(), all = run.out() + run.err();
        QCOMPARE(run.status, answer.status);
        for (const QString& text : answer.expected)
            QVERIFY2(printed.contains(text), qPrintable(all));
        QVERIFY2(answer.absent.isEmpty() || !all.contains(answer.absent), qPrintable(all));
        QVERIFY2(answer.status != 0 || run.out().count(u'\n') == 1, qPrintable(all)); // one line
        // A failure ends in the contract's error line; Telmora shows `shown` as written.
        QVERIFY2(answer.status == 0 || (printed.contains(u"ERR error=\""_s) && printed.trimmed().endsWith(u"success=false"_s)), qPrintable(all));
        QVERIFY2(friendlyError(run.err()).contains(answer.shown), qPrintable(friendlyError(run.err())));
        QStringList asked;
        for (const QStringList& call : upstreamCalls()) // a page of purchases with its number
            asked.append(call.value(0) == u"list-purchases" ? call.mid(0, 5).join(u' ') : call.value(0));
        QCOMPARE(asked.join(u' '), answer.calls);
        if (purchases && answer.status == 0) { // newest first, as Telmora reads them
            QStringList expected, ids;
            for (auto it = bought.lowerBound(QDate(std::max(answer.arguments.section(u' ', 2).toInt(), 2019), 1, 1)); it != bought.cend(); ++it)
                expected.prepend(it.value());
            const QList<AppItem> items = parsePurchases(run.out()).value_or(QList<AppItem>());
            for (const AppItem& item : items)
                ids.append(item.id);
            QCOMPARE(ids, expected);
            QCOMPARE(items.value(0).purchaseDate, u"01.02.2024"_s);
        }
        if (answer.arguments.contains(u"json"_s))
            QCOMPARE(parseSearch(run.out()).value(0).id, u"100000001"_s);
    }

    void storeWorksThroughTheAdapter()
    {
        m_sandbox->world.setTiming(u"download"_s, 400).write(); // 0.4 s at the tests' speed
        QTemporaryDir bin;
        usePackageTools(bin, deviceTools);
        Store store(test::storeOptions());
        QVERIFY(test::signIn(store, anna, u"pw-anna"_s, u"123456"_s));

        // The bar as upstream draws it reaches the Store frame by frame: upstream runs interactively.
        QSet<double> fractions;
        connect(&store, &Store::jobsChanged, this, [&] { fractions.insert(store.jobs().value(0).fraction.value_or(0)); });
        const AppItem notes{u"100000001"_s, u"Notes Pro"_s};
        store.enqueue({notes});
        QTRY_COMPARE_WITH_TIMEOUT(store.activeJobCount(), 0, 30000);
        QVERIFY(store.jobs().constFirst().state.kind == Job::State::Kind::done && store.files().size() == 1);
        QVERIFY2(fractions.size() >= 4 && fractions.contains(1.0), qPrintable(QString::number(fractions.size())));
        QVERIFY(!upstreamCalls(u"download"_s).value(0).contains(u"--non-interactive"_s));

        store.openVersions(notes);
        QTRY_VERIFY_WITH_TIMEOUT(!store.versionsLoading() && store.versions().size() == 2, 30000);
        const auto& newest = store.versions().constFirst();
        QVERIFY(!store.versionsError() && newest.id == u"800000002"_s && newest.meta->display == u"2.0"_s);
        QCOMPARE(newest.meta->minOS, std::nullopt); // upstream says none

        // Every upstream run carried the passphrase; kbsync never reached upstream.
        const QString passphrase = u"--keychain-passphrase="_s + storedPassphrase();
        for (const QStringList& call : upstreamCalls())
            QVERIFY(call.value(0) != u"kbsync" && (call == QStringList{u"--version"_s} || call.contains(passphrase)));
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
        QTest::newRow("no installer") << Doctor{"2.8.0", "1.2.0", deviceTools.mid(0, 2), false, {"[нет] ideviceinstaller: не найден", "Не хватает"}};
    }

    void doctor()
    {
        QFETCH(Doctor, doctor);
        m_sandbox->world.setUpstreamDialect(doctor.upstream.isEmpty() ? u"2.8.0"_s : doctor.upstream)
            .setOption(u"installerVersion"_s, doctor.installer).write();
        if (doctor.upstream.isEmpty()) {
            qunsetenv("TELMORA_IPATOOL");
            qputenv("PATH", QFile::encodeName(m_runtime.path()));
        }
        QTemporaryDir bin;
        usePackageTools(bin, doctor.tools);

        const Diagnosis diagnosis = test::awaitTask(diagnose(u"/session"_s, u"/downloads"_s));
        QCOMPARE(diagnosis.ready(), doctor.ready);
        for (const QString& line : doctor.lines)
            QVERIFY2(diagnosis.text().contains(line), qPrintable(diagnosis.text()));
    }

private:
    QTemporaryDir m_runtime;
    const QByteArray m_path = qgetenv("PATH");
    std::optional<test::Sandbox> m_sandbox;
};

QTEST_GUILESS_MAIN(AdapterTest)
#include "tst_adapter.moc"
