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

// Shared, so a test that gives up waiting leaves nothing dangling.
QCoro::Task<> collect(std::shared_ptr<Outcome> outcome, QString exe, QStringList args, std::optional<QString> cwd)
{
    outcome->result = co_await runTool(exe, args, cwd);
}

std::optional<ToolResult> run(const QString& exe, const QStringList& args, const std::optional<QString>& cwd = {})
{
    auto outcome = std::make_shared<Outcome>();
    collect(outcome, exe, args, cwd);
    QTest::qWaitFor([&] { return outcome->result.has_value(); }, runTimeout);
    return outcome->result;
}

std::optional<ToolResult> script(const QString& text)
{
    return run(shell, {QStringLiteral("-c"), text});
}

void setProxy(const std::optional<QVariantMap>& settings)
{
    setProxySettingsSourceForTesting([settings] { return settings; });
}

} // namespace

class RunnerTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_binDir;

private slots:
    void initTestCase()
    {
        // Before anything reads the tool folder: it is fixed on first read.
        qputenv("CRVEL_BIN_DIR", QFile::encodeName(m_binDir.path()));
        setProxy(std::nullopt);
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
        QFile tool(m_binDir.filePath(QStringLiteral("ipatool")));
        QVERIFY(tool.open(QIODevice::WriteOnly) && tool.write("#!/bin/sh\necho \"ipatool $*\"\n") > 0);
        tool.close();
        QVERIFY(tool.setPermissions(tool.permissions() | QFile::ExeOwner));
        QCOMPARE(ipatool::executable(), tool.fileName());
        const auto result = run(ipatool::executable(), ipatool::authInfo());
        QVERIFY(result);
        QCOMPARE(result->status, 0);
        QCOMPARE(result->out, QStringLiteral("ipatool auth info\n"));
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
        // Colour and cursor sequences go; a bare carriage return and a lone ESC stay.
        QTest::newRow("control sequences removed")
            << R"(printf '\033[36memail=\033[0mj@x.com\r\033[2Kdone\033(B\n'; printf '\033[31mERR\033[0m\n' >&2)" << none
            << "" << 0 << "email=j@x.com\rdone\x1b(B\n" << "ERR\n";
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
        const auto result = run(shell, QStringList{QStringLiteral("-c"), script} + args,
                                cwd.isEmpty() ? std::nullopt : std::optional(cwd));
        QVERIFY(result);
        QTEST(result->status, "status");
        QTEST(result->out, "out");
        QTEST(result->err, "err");
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

    // runTool's children get the system proxy; runQuietly's this process's environment unchanged.
    void environmentOfChildren()
    {
        setProxy(QVariantMap{{"HTTPSEnable", 1}, {"HTTPSProxy", "h"}, {"HTTPSPort", 8080}});
        for (const char* name : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
            qunsetenv(name);
        qputenv("TELMORA_QUIET_MARK", "yes");
        const auto result = script(QStringLiteral("echo \"$https_proxy $http_proxy\""));
        const int quiet = runQuietly(
            shell, {QStringLiteral("-c"), QStringLiteral("[ -z \"$https_proxy\" ] && [ \"$TELMORA_QUIET_MARK\" = yes ]")});
        setProxy(std::nullopt);
        qunsetenv("TELMORA_QUIET_MARK");
        QVERIFY(result);
        QCOMPARE(result->out, QStringLiteral("http://h:8080 http://h:8080\n"));
        QCOMPARE(quiet, 0);
    }

    void abandonedRunFinishesAlone()
    {
        QTemporaryDir folder;
        const QString marker = folder.filePath(QStringLiteral("ended"));
        {
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
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(outcomes.begin(), outcomes.end(), [](const auto& o) { return o->result.has_value(); }),
                                 runTimeout);
        for (int i = 0; i < 20; ++i)
            QCOMPARE(outcomes[size_t(i)]->result->out, QStringLiteral("%1\n").arg(i));
    }

    void runQuietlyStatus_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("script");
        QTest::addColumn<int>("status");
        QTest::newRow("exit status") << shell << "exit 7" << 7;
        QTest::newRow("null streams")
            << shell << "for n in 0 1 2; do [ \"$(readlink /proc/$$/fd/$n)\" = /dev/null ] || exit 1; done; echo noise; echo noise >&2"
            << 0;
        QTest::newRow("missing") << QStringLiteral("/nonexistent/tool") << "" << -1;
    }

    void runQuietlyStatus()
    {
        QFETCH(QString, path);
        QFETCH(QString, script);
        QTEST(runQuietly(path, {QStringLiteral("-c"), script}), "status");
    }
};

QTEST_GUILESS_MAIN(RunnerTest)
#include "tst_runner.moc"
