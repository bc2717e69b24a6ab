// PTYTool with /bin/sh scripts as children: prompts, merged streams, large output,
// the end of a session and the terminal the child sees.
#include "tools/environment.h"
#include "tools/pty.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <memory>

using namespace telmora;

namespace {

const QString shell = QStringLiteral("/bin/sh");
constexpr int sessionTimeout = 60000;

// What a session delivered, shared with the coroutine that awaits wait().
struct Transcript {
    QStringList chunks;
    std::optional<int> status;
    QString textWhenWaited; // everything delivered when wait() completed

    [[nodiscard]] QString text() const { return chunks.join(QString()); }
};

QCoro::Task<> awaitEnd(std::shared_ptr<PTYTool> tool, std::shared_ptr<Transcript> transcript)
{
    const int status = co_await tool->wait();
    transcript->textWhenWaited = transcript->text();
    transcript->status = status;
}

struct Session {
    std::shared_ptr<PTYTool> tool;
    std::shared_ptr<Transcript> transcript = std::make_shared<Transcript>();

    explicit Session(const QString& script, const std::optional<QString>& cwd = {})
        : tool(std::make_shared<PTYTool>(shell, QStringList{QStringLiteral("-c"), script}, cwd))
    {
        std::shared_ptr<Transcript> sink = transcript;
        tool->start([sink](const QString& text) { sink->chunks.append(text); });
        awaitEnd(tool, transcript);
    }

    [[nodiscard]] bool ended() const { return transcript->status.has_value(); }
};

QString lines(int count)
{
    QString text;
    for (int i = 1; i <= count; ++i)
        text += QString::number(i) + QStringLiteral("\r\n");
    return text;
}

} // namespace

class PTYTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_folder;

private slots:
    void initTestCase()
    {
        // Every session's environment has this proxy.
        setProxySettingsSourceForTesting(
            [] { return std::optional<QVariantMap>({{"SOCKSEnable", 1}, {"SOCKSProxy", "s"}, {"SOCKSPort", 1080}}); });
        for (const char* name : {"HTTPS_PROXY", "https_proxy", "ALL_PROXY", "all_proxy"})
            qunsetenv(name);
    }

    void cleanupTestCase() { setProxySettingsSourceForTesting({}); }

    void promptWithoutLineEndArrivesAtOnce()
    {
        Session session(QStringLiteral("printf 'Enter 2FA code:'; read code; echo \"code=$code\"; exit 4"));
        // The child is blocked reading: the prompt can only have come without a line end.
        QTRY_COMPARE_WITH_TIMEOUT(session.transcript->text(), QStringLiteral("Enter 2FA code:"), sessionTimeout);
        QVERIFY(session.tool->isRunning() && !session.ended());

        session.tool->write(QStringLiteral("123 456"));
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), sessionTimeout);
        QCOMPARE(*session.transcript->status, 4);
        // The terminal echoes the typed line; output line ends come back as CR LF.
        QCOMPARE(session.transcript->text(), QStringLiteral("Enter 2FA code:123 456\r\ncode=123 456\r\n"));
        QVERIFY(!session.tool->isRunning());
    }

    void largeOutputInChunksNothingLost()
    {
        // About 290 kB written in one go by seq, and a long line without line ends.
        Session session(QStringLiteral("seq 1 50000; head -c 100000 /dev/zero | tr '\\000' x"));
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), sessionTimeout);
        const QString expected = lines(50000) + QString(100000, u'x');
        QCOMPARE(session.transcript->text().size(), expected.size());
        QVERIFY(session.transcript->text() == expected);
        QVERIFY(session.transcript->chunks.size() > 1);
        for (const QString& chunk : std::as_const(session.transcript->chunks))
            QVERIFY(!chunk.isEmpty() && chunk.toUtf8().size() <= 8192);
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
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), sessionTimeout);
        QTEST(*session.transcript->status, "status");
        QTEST(session.transcript->textWhenWaited, "text");
    }

    void terminateEndsWait()
    {
        // sleep keeps the terminal open after the shell dies: the hang-up of the
        // controlling terminal must end it too, or the stream would never end.
        Session session(QStringLiteral("echo ready; sleep 60; echo never"));
        QTRY_COMPARE_WITH_TIMEOUT(session.transcript->text(), QStringLiteral("ready\r\n"), sessionTimeout);
        session.tool->terminate();
        QTRY_VERIFY_WITH_TIMEOUT(session.ended(), sessionTimeout);
        QCOMPARE(*session.transcript->status, SIGTERM);
        QCOMPARE(session.transcript->text(), QStringLiteral("ready\r\n"));
        QVERIFY(!session.tool->isRunning());
        session.tool->write(QStringLiteral("ignored after the end"));
    }

    void startFailures_data()
    {
        QTest::addColumn<QString>("exe");
        QTest::newRow("missing") << QStringLiteral("/nonexistent/ipatool");
        QTest::newRow("not executable") << QStringLiteral(TELMORA_SOURCE_DIR "/CMakeLists.txt");
    }

    void startFailures()
    {
        QFETCH(QString, exe);
        PTYTool tool(exe, {QStringLiteral("auth"), QStringLiteral("login")});
        bool called = false;
        try {
            tool.start([&](const QString&) { called = true; });
            QFAIL("start did not throw");
        } catch (const ToolStartError& error) {
            QVERIFY(!error.description().isEmpty());
            QCOMPARE(QString::fromStdString(error.what()), error.description());
        }
        QVERIFY(!tool.isRunning() && !called);
    }

    void destroyingRunningSessionKillsChild()
    {
        // Only the caller's field holds the session, and wait() is pending on it.
        struct Owner {
            std::unique_ptr<PTYTool> tool;
            QString text;
            std::optional<int> status;
        };
        auto owner = std::make_shared<Owner>();
        owner->tool = std::make_unique<PTYTool>(shell, QStringList{QStringLiteral("-c"), QStringLiteral("echo $$; sleep 60")});
        owner->tool->start([owner = std::weak_ptr<Owner>(owner)](const QString& text) {
            if (auto alive = owner.lock())
                alive->text += text;
        });
        [](std::shared_ptr<Owner> owner) -> QCoro::Task<> {
            PTYTool* tool = owner->tool.get();
            owner->status = co_await tool->wait();
        }(owner);
        QTRY_VERIFY_WITH_TIMEOUT(owner->text.endsWith(u'\n'), sessionTimeout);
        bool ok = false;
        const pid_t pid = owner->text.trimmed().toInt(&ok);
        QVERIFY(ok && pid > 0);

        owner->tool.reset();
        QTRY_VERIFY_WITH_TIMEOUT(owner->status.has_value(), sessionTimeout);
        QCOMPARE(*owner->status, SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(::kill(pid, 0) != 0, sessionTimeout);
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
        QTRY_VERIFY_WITH_TIMEOUT(!*owner, sessionTimeout);
        QCOMPARE(*seen, 1);
    }
};

QTEST_GUILESS_MAIN(PTYTest)
#include "tst_pty.moc"
