// runTool, runQuietly and the tool folder, with /bin/sh scripts as children.
#include "tools/bin.h"
#include "tools/environment.h"
#include "tools/ipatool.h"
#include "tools/runner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace telmora;

namespace {

const QString shell = QStringLiteral("/bin/sh");
constexpr int runTimeout = 60000;

struct Outcome {
    std::optional<ToolResult> result;
};

// Awaits a run and stores its result; the outcome is shared so a test that gives up
// waiting leaves nothing dangling.
QCoro::Task<> collect(std::shared_ptr<Outcome> outcome, QString exe, QStringList args, std::optional<QString> cwd)
{
    outcome->result = co_await runTool(exe, args, cwd);
}

} // namespace

class RunnerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_binDir;

    // Runs to completion without blocking the event loop; fails the test after a
    // generous time rather than hanging.
    std::optional<ToolResult> run(const QString& exe, const QStringList& args,
                                  const std::optional<QString>& cwd = {})
    {
        auto outcome = std::make_shared<Outcome>();
        collect(outcome, exe, args, cwd);
        if (!QTest::qWaitFor([&] { return outcome->result.has_value(); }, runTimeout))
            return std::nullopt;
        return outcome->result;
    }

    std::optional<ToolResult> script(const QString& text) { return run(shell, {QStringLiteral("-c"), text}); }

private slots:
    void initTestCase()
    {
        // Before anything reads the tool folder: it is fixed on first read.
        qputenv("CRVEL_BIN_DIR", QFile::encodeName(m_binDir.path()));
        setProxySettingsSourceForTesting([] { return std::optional<QVariantMap>(); });
    }

    void cleanupTestCase() { setProxySettingsSourceForTesting({}); }

    void toolFolderComesFromEnvironmentAndStaysFixed()
    {
        QCOMPARE(Bin::dir(), m_binDir.path());
        QCOMPARE(ipatool::executable(), m_binDir.path() + QStringLiteral("/ipatool"));
        qputenv("CRVEL_BIN_DIR", "/elsewhere");
        QCOMPARE(Bin::dir(), m_binDir.path());
        QCOMPARE(Bin::tool(QStringLiteral("idevice_id")), m_binDir.path() + QStringLiteral("/idevice_id"));

        Bin::setDirForTesting(QStringLiteral("/other/bin"));
        QCOMPARE(Bin::tool(QStringLiteral("ideviceinfo")), QStringLiteral("/other/bin/ideviceinfo"));
        Bin::setDirForTesting(std::nullopt);
        QCOMPARE(Bin::dir(), m_binDir.path());
        qputenv("CRVEL_BIN_DIR", QFile::encodeName(m_binDir.path()));
    }

    void toolFromToolFolderRuns()
    {
        const QString tool = Bin::tool(QStringLiteral("ipatool"));
        QFile file(tool);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho \"ipatool $*\"\n");
        file.close();
        QVERIFY(file.setPermissions(file.permissions() | QFile::ExeOwner));

        const auto result = run(ipatool::executable(), ipatool::authInfo());
        QVERIFY(result);
        QCOMPARE(result->status, 0);
        QCOMPARE(result->out, QStringLiteral("ipatool auth info\n"));
    }

    void outputIsCollected_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");

        QTest::newRow("streams kept apart") << "echo out; echo err >&2; exit 3" << 3 << "out\n" << "err\n";
        // Colour and cursor sequences go; a bare carriage return and a lone ESC stay.
        QTest::newRow("control sequences removed")
            << R"(printf '\033[36memail=\033[0mj@x.com\r\033[2Kdone\033(B\n'; printf '\033[31mERR\033[0m\n' >&2)" << 0
            << "email=j@x.com\rdone\x1b(B\n" << "ERR\n";
        QTest::newRow("invalid UTF-8 replaced") << R"(printf '\377ok \320\220\320\275\320\270\n')" << 0
                                                << QString(QChar(0xFFFD)) + QStringLiteral("ok Ани\n") << "";
        QTest::newRow("standard input at end of file")
            << "if read line; then echo got; else echo eof; fi" << 0 << "eof\n" << "";
        QTest::newRow("nothing printed") << "exit 0" << 0 << "" << "";
    }

    void outputIsCollected()
    {
        QFETCH(QString, script);
        const auto result = this->script(script);
        QVERIFY(result);
        QTEST(result->status, "status");
        QTEST(result->out, "out");
        QTEST(result->err, "err");
    }

    void argumentsArePassedUnsplit()
    {
        const QStringList args = {QStringLiteral("-c"), QStringLiteral("printf '%s|' \"$@\""), QStringLiteral("sh"),
                                  QStringLiteral("a b"), QStringLiteral("$HOME"), QStringLiteral("'q\""),
                                  QString()};
        const auto result = run(shell, args);
        QVERIFY(result);
        QCOMPARE(result->out, QStringLiteral("a b|$HOME|'q\"||"));
    }

    void workingFolderIsUsed()
    {
        QTemporaryDir folder;
        const auto result = run(shell, {QStringLiteral("-c"), QStringLiteral("pwd -P")}, folder.path());
        QVERIFY(result);
        QCOMPARE(result->out.trimmed(), QDir(folder.path()).canonicalPath());
    }

    void largeStandardErrorBeforeOutput()
    {
        // Far more than a pipe holds, before anything on standard output.
        const auto result = script(QStringLiteral("head -c 3000000 /dev/zero | tr '\\000' e >&2; echo done"));
        QVERIFY(result);
        QCOMPARE(result->status, 0);
        QCOMPARE(result->out, QStringLiteral("done\n"));
        QCOMPARE(result->err.size(), 3000000);
        QCOMPARE(result->err.count(u'e'), 3000000);
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
        const auto result = run(exe, {QStringLiteral("auth"), QStringLiteral("info")});
        QVERIFY(result);
        QCOMPARE(result->status, -1);
        QCOMPARE(result->out, QString());
        QVERIFY(!result->err.isEmpty());
    }

    void childSeesToolEnvironment()
    {
        QVariantMap settings{{QStringLiteral("HTTPSEnable"), 1},
                             {QStringLiteral("HTTPSProxy"), QStringLiteral("h")},
                             {QStringLiteral("HTTPSPort"), 8080}};
        setProxySettingsSourceForTesting([settings] { return std::optional<QVariantMap>(settings); });
        qunsetenv("HTTPS_PROXY");
        qunsetenv("https_proxy");
        qunsetenv("ALL_PROXY");
        qunsetenv("all_proxy");
        const auto result = script(QStringLiteral("echo \"$https_proxy $http_proxy\""));
        setProxySettingsSourceForTesting([] { return std::optional<QVariantMap>(); });
        QVERIFY(result);
        QCOMPARE(result->out, QStringLiteral("http://h:8080 http://h:8080\n"));
    }

    void abandonedRunFinishesAlone()
    {
        QTemporaryDir folder;
        const QString marker = folder.filePath(QStringLiteral("ended"));
        {
            // The task is dropped at once: the run must go on to the end without its caller.
            QCoro::Task<ToolResult> dropped =
                runTool(shell, {QStringLiteral("-c"), QStringLiteral("sleep 0.2; echo x; touch \"$0\""), marker});
            Q_UNUSED(dropped);
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), runTimeout);
        // A later run still works once the abandoned one has been reaped.
        const auto result = script(QStringLiteral("sleep 0.3; echo after"));
        QVERIFY(result);
        QCOMPARE(result->out, QStringLiteral("after\n"));
    }

    void manyRunsAtOnce()
    {
        std::vector<std::shared_ptr<Outcome>> outcomes;
        for (int i = 0; i < 20; ++i) {
            outcomes.push_back(std::make_shared<Outcome>());
            collect(outcomes.back(), shell, {QStringLiteral("-c"), QStringLiteral("echo %1").arg(i)}, std::nullopt);
        }
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(outcomes.begin(), outcomes.end(),
                                             [](const auto& outcome) { return outcome->result.has_value(); }),
                                 runTimeout);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(outcomes[size_t(i)]->result->out, QStringLiteral("%1\n").arg(i));
    }

    void runQuietlyStatus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");

        QTest::newRow("exit status") << shell << QStringList{QStringLiteral("-c"), QStringLiteral("exit 7")} << 7;
        // Every stream is the null device.
        QTest::newRow("null streams")
            << shell
            << QStringList{QStringLiteral("-c"),
                           QStringLiteral("for n in 0 1 2; do [ \"$(readlink /proc/$$/fd/$n)\" = /dev/null ] || exit "
                                          "1; done; echo noise; echo noise >&2")}
            << 0;
        QTest::newRow("missing") << QStringLiteral("/nonexistent/tool") << QStringList() << -1;
    }

    void runQuietlyStatus()
    {
        QFETCH(QString, path);
        QFETCH(QStringList, args);
        QTEST(runQuietly(path, args), "status");
    }

    void runQuietlyInheritsEnvironmentUnchanged()
    {
        QVariantMap settings{{QStringLiteral("SOCKSEnable"), 1},
                             {QStringLiteral("SOCKSProxy"), QStringLiteral("s")},
                             {QStringLiteral("SOCKSPort"), 1080}};
        setProxySettingsSourceForTesting([settings] { return std::optional<QVariantMap>(settings); });
        qunsetenv("https_proxy");
        qputenv("TELMORA_QUIET_MARK", "yes");
        const int status = runQuietly(
            shell, {QStringLiteral("-c"), QStringLiteral("[ -z \"$https_proxy\" ] && [ \"$TELMORA_QUIET_MARK\" = yes ]")});
        setProxySettingsSourceForTesting([] { return std::optional<QVariantMap>(); });
        qunsetenv("TELMORA_QUIET_MARK");
        QCOMPARE(status, 0);
    }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "tst_runner.moc"
