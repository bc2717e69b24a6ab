// Running tools: runTool, runQuietly, PTYTool sessions and the tool folder, with /bin/sh
// scripts as children.
#include "tools/bin.h"
#include "tools/environment.h"
#include "tools/ipatool.h"
#include "tools/pty.h"
#include "tools/runner.h"

#include "files.h"

#include <QtTest>
#include <csignal>
#include <memory>

using namespace telmora;

namespace {

const QString shell = QStringLiteral("/bin/sh");
constexpr int runTimeout = 60000;
const QVariantMap socks{{"SOCKSEnable", 1}, {"SOCKSProxy", "s"}, {"SOCKSPort", 1080}};

// The run's result, waiting at most runTimeout: runTool has no time-out of its own, so a run
// that hangs comes back as status -2 and fails the comparisons that follow.
ToolResult finished(QCoro::Task<ToolResult> run)
{
    auto result = std::make_shared<std::optional<ToolResult>>(); // outlives a run given up on
    [](std::shared_ptr<std::optional<ToolResult>> into, QCoro::Task<ToolResult> task) -> QCoro::Task<> {
        *into = co_await std::move(task);
    }(result, std::move(run));
    QTest::qWaitFor([&] { return result->has_value(); }, runTimeout);
    ToolResult hung;
    hung.status = -2;
    hung.err = QStringLiteral("no end within a minute");
    return result->value_or(hung);
}

ToolResult run(const QString& exe, const QStringList& args, const std::optional<QString>& cwd = {})
{
    return finished(runTool(exe, args, cwd));
}

ToolResult script(const QString& text) { return run(shell, {QStringLiteral("-c"), text}); }

void setProxy(const std::optional<QVariantMap>& settings) { setProxySettingsSourceForTesting([settings] { return settings; }); }

// What a session delivered, shared with the coroutine that awaits wait().
struct Transcript {
    QStringList chunks;
    std::optional<int> status;
    QString textWhenWaited; // everything delivered when wait() completed

    [[nodiscard]] QString text() const { return chunks.join(QString()); }
};

// Holds no reference to the session: its owner alone decides when it goes.
QCoro::Task<> awaitEnd(PTYTool* tool, std::shared_ptr<Transcript> transcript)
{
    QCoro::Task<int> ended = tool->wait();
    const int status = co_await std::move(ended);
    transcript->textWhenWaited = transcript->text();
    transcript->status = status;
}

struct Session {
    std::shared_ptr<PTYTool> tool;
    std::shared_ptr<Transcript> transcript = std::make_shared<Transcript>();

    explicit Session(const QString& script, const std::optional<QString>& cwd = {})
        : tool(std::make_shared<PTYTool>(shell, QStringList{QStringLiteral("-c"), script}, cwd))
    {
        tool->start([sink = transcript](const QString& text) { sink->chunks.append(text); });
        awaitEnd(tool.get(), transcript);
    }

    [[nodiscard]] bool ended() const { return transcript->status.has_value(); }
};

QString lines(int count)
{
    QStringList text;
    for (int i = 1; i <= count; ++i)
        text << QString::number(i) + QStringLiteral("\r\n");
    return text.join(QString());
}

} // namespace

class ToolsTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_binDir;
    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        // Before anything reads the tool folder: it is fixed on first read.
        qputenv("CRVEL_BIN_DIR", QFile::encodeName(m_binDir.path()));
        // Every tool's environment has this proxy.
        setProxy(socks);
        for (const char* name : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
            qunsetenv(name);
    }

    void cleanupTestCase() { setProxySettingsSourceForTesting({}); }

    void toolFolderComesFromEnvironmentAndStaysFixed()
    {
        QCOMPARE(Bin::dir(), m_binDir.path());
        qputenv("CRVEL_BIN_DIR", "/elsewhere");
        QCOMPARE(Bin::dir(), m_binDir.path());
        QCOMPARE(Bin::tool(QStringLiteral("idevice_id")), m_binDir.path() + QStringLiteral("/idevice_id"));
        Bin::setDirForTesting(QStringLiteral("/other/bin"));
        QCOMPARE(Bin::tool(QStringLiteral("ideviceinfo")), QStringLiteral("/other/bin/ideviceinfo"));
        Bin::setDirForTesting(std::nullopt);
        QCOMPARE(Bin::dir(), m_binDir.path());
        qputenv("CRVEL_BIN_DIR", QFile::encodeName(m_binDir.path()));

        // ipatool is run from there.
        const QString tool = m_binDir.filePath(QStringLiteral("ipatool"));
        QVERIFY(test::writeFile(tool, "#!/bin/sh\necho \"ipatool $*\"\n", true));
        QCOMPARE(ipatool::executable(), tool);
        const ToolResult result = run(ipatool::executable(), ipatool::authInfo());
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out, QStringLiteral("ipatool auth info\n"));
    }

    void outputIsCollected_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("args"); // $0, $1, … of the script
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const QStringList none;

        QTest::newRow("streams kept apart") << "echo out; echo err >&2; exit 3" << none << "" << 3 << "out\n" << "err\n";
        // Colour and cursor sequences go; a bare carriage return, a title sequence and a lone ESC stay.
        QTest::newRow("control sequences removed")
            << R"(printf '\033[36memail=\033[0mj@x.com\r\033[2Kdone\033]0;t\007\033(B\033'; printf '\033[31mERR\033[0m\n' >&2)"
            << none << "" << 0 << "email=j@x.com\rdone\x1b]0;t\x07\x1b(B\x1b" << "ERR\n";
        QTest::newRow("invalid UTF-8 replaced") << R"(printf '\377ok \320\220\320\275\320\270\n')" << none << "" << 0
                                                << QString(QChar(0xFFFD)) + QStringLiteral("ok Ани\n") << "";
        QTest::newRow("standard input at end of file")
            << "if read line; then echo got; else echo eof; fi" << none << "" << 0 << "eof\n" << "";
        QTest::newRow("nothing printed") << "exit 0" << none << "" << 0 << "" << "";
        QTest::newRow("arguments unsplit") << R"(printf '%s|' "$@")" << QStringList{"sh", "a b", "$HOME", "'q\"", ""}
                                           << "" << 0 << "a b|$HOME|'q\"||" << "";
        QTest::newRow("working folder") << "pwd -P" << none << m_binDir.path() << 0
                                        << QDir(m_binDir.path()).canonicalPath() + u'\n' << "";
        // Far more than a pipe holds, before anything on standard output.
        QTest::newRow("large standard error first") << "head -c 3000000 /dev/zero | tr '\\000' e >&2; echo done" << none
                                                    << "" << 0 << "done\n" << QString(3000000, u'e');
    }

    void outputIsCollected()
    {
        QFETCH(QString, script);
        QFETCH(QStringList, args);
        QFETCH(QString, cwd);
        const ToolResult result = run(shell, QStringList{QStringLiteral("-c"), script} + args,
                                      cwd.isEmpty() ? std::nullopt : std::optional(cwd));
        QTEST(result.status, "status");
        QTEST(result.out, "out");
        QTEST(result.err, "err");
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/ipatool");
        QTest::newRow("not executable") << QStringLiteral(TELMORA_SOURCE_DIR "/CMakeLists.txt");
        QTest::newRow("folder") << QStringLiteral(TELMORA_SOURCE_DIR);
    }

    void startFailures()
    {
        QFETCH(QString, exe);
        const ToolResult result = run(exe, {QStringLiteral("auth"), QStringLiteral("info")});
        QVERIFY(result.status == -1 && result.out.isEmpty() && !result.err.isEmpty());
        QCOMPARE(runQuietly(exe, {}), -1);

        PTYTool tool(exe, {QStringLiteral("auth"), QStringLiteral("login")});
        bool called = false;
        try {
            tool.start([&](const QString&) { called = true; });
            QFAIL("start did not throw");
        } catch (const ToolStartError& error) {
            QVERIFY(!error.description().isEmpty() && QString::fromStdString(error.what()) == error.description());
        }
        QVERIFY(!tool.isRunning() && !called);
    }

    // runTool's children get this process's environment with the system proxy, unless the
    // user set one; runQuietly's get this process's environment unchanged.
    void environmentOfChildren()
    {
        setProxy(QVariantMap{{"HTTPSEnable", 1}, {"HTTPSProxy", "h"}, {"HTTPSPort", 8080}});
        qputenv("http_proxy", "http://old:3128");
        qputenv("TELMORA_QUIET_MARK", "yes");
        const QString echo = QStringLiteral("echo \"$https_proxy $http_proxy $HTTPS_PROXY $TELMORA_QUIET_MARK\"");
        const auto fromSettings = script(echo);
        const int quiet = runQuietly(
            shell, {QStringLiteral("-c"), QStringLiteral("[ -z \"$https_proxy\" ] && [ \"$TELMORA_QUIET_MARK\" = yes ]")});
        qputenv("HTTPS_PROXY", "http://mine:1");
        const auto own = script(echo);
        setProxy(socks);
        for (const char* name : {"HTTPS_PROXY", "http_proxy", "TELMORA_QUIET_MARK"})
            qunsetenv(name);
        QCOMPARE(fromSettings.out, QStringLiteral("http://h:8080 http://h:8080  yes\n"));
        QCOMPARE(own.out, QStringLiteral(" http://old:3128 http://mine:1 yes\n"));
        QCOMPARE(quiet, 0);
    }

    void abandonedRunFinishesAlone()
    {
        const QString marker = m_folder.filePath(QStringLiteral("ended"));
        (void)runTool(shell, {QStringLiteral("-c"), QStringLiteral("sleep 0.2; echo x; touch \"$0\""), marker}); // dropped at once
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), runTimeout);
        // A later run still works once the abandoned one has been reaped.
        QCOMPARE(script(QStringLiteral("sleep 0.3; echo after")).out, QStringLiteral("after\n"));
    }

    void manyRunsAtOnce()
    {
        std::vector<QCoro::Task<ToolResult>> runs; // all started at once
        for (int i = 0; i < 20; ++i)
            runs.push_back(runTool(shell, {QStringLiteral("-c"), QStringLiteral("echo %1").arg(i)}));
        for (int i = 0; i < 20; ++i)
            QCOMPARE(finished(std::move(runs[size_t(i)])).out, QStringLiteral("%1\n").arg(i));
    }

    // The exit status, with every stream on the null device.
    void runQuietlyStatus()
    {
        const QString script = QStringLiteral("for n in 0 1 2; do [ \"$(readlink /proc/$$/fd/$n)\" = /dev/null ] || exit 1; done; "
                                              "echo noise; echo noise >&2; exit 7");
        QCOMPARE(runQuietly(shell, {QStringLiteral("-c"), script}), 7);
    }

    void promptWithoutLineEndArrivesAtOnce()
    {
        Session session(QStringLiteral("printf 'Enter 2FA code:'; read code; echo \"code=$code\"; exit 4"));
        // The child is blocked reading: the prompt can only have come without a line end.
        QTRY_COMPARE_WITH_TIMEOUT(session.transcript->text(), QStringLiteral("Enter 2FA code:"), runTimeout);
        QVERIFY(session.tool->isRunning() && !session.ended());

        session.tool->write(QStringLiteral("123 456"));
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), runTimeout);
        QVERIFY(*session.transcript->status == 4 && !session.tool->isRunning());
        // The terminal echoes the typed line; output line ends come back as CR LF.
        QCOMPARE(session.transcript->text(), QStringLiteral("Enter 2FA code:123 456\r\ncode=123 456\r\n"));
    }

    // Everything is delivered before wait() returns, however soon the child ends.
    void sessionOutput_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("cwd");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");

        QTest::newRow("nothing") << "exit 0" << "" << 0 << "";
        QTest::newRow("short") << "printf done; exit 2" << "" << 2 << "done";
        QTest::newRow("long") << "seq 1 20000; exit 1" << "" << 1 << lines(20000);
        // About 290 kB written in one go by seq, and a long line without line ends.
        QTest::newRow("large, in chunks") << "seq 1 50000; head -c 100000 /dev/zero | tr '\\000' x" << "" << 0
                                          << lines(50000) + QString(100000, u'x');
        QTest::newRow("error and output merged in order")
            << "echo one; echo two >&2; printf three; printf ' four\\n' >&2; echo five" << "" << 0
            << "one\r\ntwo\r\nthree four\r\nfive\r\n";
        QTest::newRow("window size") << "stty size" << "" << 0 << "50 240\r\n";
        QTest::newRow("controlling terminal") << "exec 3</dev/tty && echo yes" << "" << 0 << "yes\r\n";
        QTest::newRow("all streams on it") << "[ -t 0 ] && [ -t 1 ] && [ -t 2 ] && echo tty" << "" << 0 << "tty\r\n";
        QTest::newRow("no inherited master") << "ls -l /proc/$$/fd | grep -q ptmx || echo clean" << "" << 0 << "clean\r\n";
        QTest::newRow("environment and working folder")
            << "echo \"$https_proxy $http_proxy\"; pwd -P" << m_folder.path() << 0
            << QStringLiteral("socks5h://s:1080 socks5h://s:1080\r\n") + QDir(m_folder.path()).canonicalPath() + QStringLiteral("\r\n");
    }

    void sessionOutput()
    {
        QFETCH(QString, script);
        QFETCH(QString, cwd);
        Session session(script, cwd.isEmpty() ? std::nullopt : std::optional(cwd));
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), runTimeout);
        QTEST(*session.transcript->status, "status");
        QTEST(session.transcript->textWhenWaited, "text");
        for (const QString& chunk : std::as_const(session.transcript->chunks))
            QVERIFY(!chunk.isEmpty() && chunk.toUtf8().size() <= 8192);
    }

    void terminateEndsWait()
    {
        // sleep keeps the terminal open after the shell dies: the hang-up of the
        // controlling terminal must end it too, or the stream would never end.
        Session session(QStringLiteral("echo ready; sleep 60; echo never"));
        QTRY_COMPARE_WITH_TIMEOUT(session.transcript->text(), QStringLiteral("ready\r\n"), runTimeout);
        session.tool->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), runTimeout);
        QVERIFY(*session.transcript->status == SIGTERM && !session.tool->isRunning());
        QCOMPARE(session.transcript->text(), QStringLiteral("ready\r\n"));
        session.tool->write(QStringLiteral("ignored after the end"));
    }

    void destroyingRunningSessionKillsChild()
    {
        // Only the session's owner holds it, and wait() is pending on it.
        Session session(QStringLiteral("echo $$; sleep 60"));
        QTRY_VERIFY_WITH_TIMEOUT(session.transcript->text().endsWith(u'\n'), runTimeout);
        const pid_t pid = session.transcript->text().trimmed().toInt();
        QVERIFY(pid > 0);
        session.tool.reset();
        QTRY_COMPARE_WITH_TIMEOUT(session.transcript->status, std::optional<int>(SIGKILL), runTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, runTimeout);
    }

    void destroyingFromCallback()
    {
        auto owner = std::make_shared<std::shared_ptr<PTYTool>>();
        auto seen = std::make_shared<int>(0);
        *owner = std::make_shared<PTYTool>(shell, QStringList{QStringLiteral("-c"), QStringLiteral("echo go; sleep 60")});
        (*owner)->start([owner, seen](const QString&) {
            ++*seen;
            owner->reset(); // the session ends itself from its own callback
        });
        QTRY_VERIFY_WITH_TIMEOUT(!*owner, runTimeout);
        QCOMPARE(*seen, 1);
    }
};

QTEST_GUILESS_MAIN(ToolsTest)
#include "tst_runner.moc"
