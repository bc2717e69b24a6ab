// Sign-in through the simulated ipatool on a pseudo-terminal, saved accounts, switching,
// signing out, the lock while work runs, and the reaction to a lost session.
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::SimWorld;
using telmora::test::Sandbox;

namespace {

const QString anna = QStringLiteral("anna@example.com");
const QString boris = QStringLiteral("boris@example.com");
const QString clara = QStringLiteral("clara@example.com");
const QStringList sessionFiles{QStringLiteral("account"), QStringLiteral("cookies"), QStringLiteral("login")};

QString sessionFolder() { return QDir::homePath() + QStringLiteral("/.ipatool"); }

// Who the active session files say is signed in.
QString activeAccountFile()
{
    QFile file(sessionFolder() + QStringLiteral("/account"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A remembered account: its session moved aside into its own folder.
void keepAside(const QString& email)
{
    SimWorld::signIn(email);
    QDir session(sessionFolder());
    QVERIFY(session.mkpath(email));
    for (const QString& name : sessionFiles)
        QVERIFY(session.rename(name, email + QLatin1Char('/') + name));
}

Job jobIn(Job::State state)
{
    Job job;
    job.app = AppItem{QStringLiteral("100000001"), QStringLiteral("Notes Pro")};
    job.state = state;
    return job;
}

} // namespace

class AccountsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addAccount(anna, QStringLiteral("pw-anna"), QStringLiteral("Anna"))
            .addAccount(boris, QStringLiteral("pw-boris"), QStringLiteral("Boris"), QStringLiteral("246810"))
            .addAccount(clara, QStringLiteral("pw-clara"), QStringLiteral("Clara"), {}, true)
            .write();
    }

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void signInAnswersThePromptsAndClosesTheSheet_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("code");
        QTest::newRow("password") << anna << "pw-anna" << QString();
        QTest::newRow("password and two-factor code") << boris << "pw-boris" << "246810";
    }

    void signInAnswersThePromptsAndClosesTheSheet()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, code);
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));
        QVERIFY(!store.email());

        store.beginLogin(QStringLiteral("hint@example.com"), false);
        QVERIFY(store.showLogin());
        QCOMPARE(store.loginEmailHint(), QStringLiteral("hint@example.com"));
        store.login(email, password);
        QCOMPARE(store.loginStep(), LoginStep::working());
        if (!code.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::code(), 30000);
            QVERIFY(store.showLogin());
            store.submitCode(code);
            QCOMPARE(store.loginStep(), LoginStep::working());
        }
        QVERIFY(test::waitForSignInEnd(store));

        QVERIFY(!store.showLogin());
        QCOMPARE(store.email(), std::optional<QString>(email));
        QCOMPARE(store.loginStep(), LoginStep::working()); // the closed sheet keeps its step
        QVERIFY(!store.addingAccount());
        // Credentials are typed, never passed on the command line; kbsync runs once after.
        const QList<QStringList> calls = SimWorld::calls(QStringLiteral("ipatool"));
        QVERIFY(calls.contains(QStringList{QStringLiteral("auth"), QStringLiteral("login")}));
        QCOMPARE(calls.count(QStringList{QStringLiteral("kbsync"), QStringLiteral("--refresh")}), 1);
        const QFileInfo login(sessionFolder() + QStringLiteral("/login"));
        QVERIFY(login.exists());
        QCOMPARE(login.size(), 0);
    }

    void actionWaitingForSignInRunsOnceOrIsDiscarded()
    {
        const AppItem app{QStringLiteral("100000001"), QStringLiteral("Notes Pro")};
        Store store(test::storeOptions());
        QCoro::waitFor(store.checkAuth(false));

        // Cancelling the sheet drops the waiting action: nothing is queued afterwards.
        store.enqueue({app});
        QVERIFY(store.showLogin());
        QVERIFY(StoreTestAccess::hasAfterLogin(store));
        store.cancelLogin();
        QVERIFY(!StoreTestAccess::hasAfterLogin(store));
        QVERIFY(test::signIn(store, anna, QStringLiteral("pw-anna")));
        QVERIFY(store.jobs().isEmpty());

        QCoro::waitFor(store.logout());
        store.enqueue({app});
        QVERIFY(test::signIn(store, anna, QStringLiteral("pw-anna")));
        QVERIFY(!StoreTestAccess::hasAfterLogin(store));
        QCOMPARE(store.jobs().size(), 1);
        QCOMPARE(store.jobs().constFirst().app.id, app.id);
    }

    void failedSignInShowsTheMappedMessage_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        const QString wrongCredentials = QStringLiteral("Неверная почта или пароль.");
        QTest::newRow("wrong password") << anna << "wrong" << QString() << wrongCredentials;
        QTest::newRow("unknown account") << "nobody@example.com" << "pw" << QString() << wrongCredentials;
        // The tool asks for the password again: the attempt ends and the tool is stopped.
        QTest::newRow("password prompt repeated") << clara << "wrong" << QString() << wrongCredentials;
        QTest::newRow("wrong two-factor code") << boris << "pw-boris" << "000000"
                                               << QStringLiteral("Нужен код подтверждения. Попробуйте войти ещё раз.");
    }

    void failedSignInShowsTheMappedMessage()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, code);
        QFETCH(QString, message);
        Store store(test::storeOptions());
        store.beginLogin(QString(), false);
        store.login(email, password);
        if (!code.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::code(), 30000);
            store.submitCode(code);
        }
        QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::failed(message), 30000);
        QVERIFY(store.showLogin());
        QVERIFY(!store.email());
        QVERIFY(!QFile::exists(sessionFolder() + QStringLiteral("/account")));
    }

    void typedSecretsNeverReachTheMessage_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QStringList>("secrets");
        QTest::addColumn<QString>("message");
        QTest::newRow("password echoed in the last error line")
            << "Enter email: a@b.c\r\nEnter password: \r\n3:04PM ERR error=\"keychain refused hunter2\" success=false\r\n"
            << QStringList{QStringLiteral("hunter2")} << "3:04PM ERR error=\"keychain refused ••••••\" success=false";
        QTest::newRow("echoed code on its own line") << "Enter 2FA code:\r\n135790\r\nstopped\r\n"
                                                     << QStringList{QStringLiteral("pw"), QStringLiteral("135790")}
                                                     << "stopped";
        QTest::newRow("a secret inside a known failure text keeps the match")
            << "ERR error=\"password was incorrect\" success=false" << QStringList{QStringLiteral("password")}
            << QStringLiteral("Неверная почта или пароль.");
        QTest::newRow("a longer secret containing a shorter one") << "error: abc abcdef" << QStringList{"abc", "abcdef"}
                                                                  << "error: •••••• ••••••";
        QTest::newRow("a secret holding a control sequence, as shown")
            << "ERR error=\"refused ab\x1b[1mcd\" success=false" << QStringList{QStringLiteral("ab\x1b[1mcd")}
            << "ERR error=\"refused ••••••\" success=false";
        QTest::newRow("nothing typed yet") << "error: refused" << QStringList{QString()} << "error: refused";
    }

    void typedSecretsNeverReachTheMessage()
    {
        QFETCH(QString, transcript);
        QFETCH(QStringList, secrets);
        QFETCH(QString, message);
        QCOMPARE(loginFailureMessage(transcript, secrets), message);
    }

    void passwordEchoedByTheToolIsNotShown()
    {
        // The tool names the typed password in its error line.
        const QString password = QStringLiteral("Tr0ub4dor-x");
        m_sandbox->world.addAccount(QStringLiteral("echo@example.com"), password, QStringLiteral("Echo"))
            .addFailure({.command = QStringLiteral("ipatool auth login"),
                             .error = QStringLiteral("keychain rejected ") + password})
            .write();
        Store store(test::storeOptions());
        store.beginLogin(QString(), false);
        store.login(QStringLiteral("echo@example.com"), password);
        QTRY_COMPARE_WITH_TIMEOUT(store.loginStep().kind, LoginStep::Kind::failed, 30000);
        QVERIFY2(store.loginStep().message.contains(QStringLiteral("keychain rejected")), qPrintable(store.loginStep().message));
        QVERIFY2(!store.loginStep().message.contains(password), qPrintable(store.loginStep().message));
    }

    void addingAnAccountKeepsTheFirstAside()
    {
        Store& store = annaSignedIn();
        QVERIFY(test::signIn(store, boris, QStringLiteral("pw-boris"), QStringLiteral("246810"), true));
        QCOMPARE(store.savedAccounts(), QStringList{anna});
        QVERIFY(!store.addingAccount());
        QVERIFY(activeAccountFile().contains(boris));
        QVERIFY(QFile::exists(sessionFolder() + QStringLiteral("/anna@example.com/account")));
    }

    void cancellingWhileAddingBringsTheFirstAccountBack()
    {
        Store& store = annaSignedIn();
        store.beginLogin(QString(), true);
        store.login(boris, QStringLiteral("pw-boris"));
        // The tool now waits for Boris's code; Anna's session is aside meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::code(), 30000);
        QVERIFY(QFile::exists(sessionFolder() + QStringLiteral("/anna@example.com/account")));
        QVERIFY(!QFile::exists(sessionFolder() + QStringLiteral("/account")));

        store.cancelLogin();
        QVERIFY(!store.showLogin());
        QVERIFY(activeAccountFile().contains(anna));
        QVERIFY(!QFileInfo::exists(sessionFolder() + QStringLiteral("/anna@example.com")));

        // A new attempt right away waits for the clean-up, then keeps Anna aside again.
        QVERIFY(test::signIn(store, boris, QStringLiteral("pw-boris"), QStringLiteral("246810"), true));
        QCOMPARE(store.savedAccounts(), QStringList{anna});
        QVERIFY(QFile::exists(sessionFolder() + QStringLiteral("/anna@example.com/account")));
    }

    void switchingAndSigningOut()
    {
        Store& store = annaSignedIn({clara, boris});
        QCOMPARE(store.email(), std::optional<QString>(anna));
        QCOMPARE(store.savedAccounts(), (QStringList{boris, clara}));

        // Not a saved account: nothing happens.
        QCoro::waitFor(store.switchAccount(QStringLiteral("nobody@example.com")));
        QCOMPARE(store.email(), std::optional<QString>(anna));
        QVERIFY(!store.notice());

        QCoro::waitFor(store.switchAccount(clara));
        QCOMPARE(store.email(), std::optional<QString>(clara));
        QCOMPARE(store.notice(), std::optional<QString>(QStringLiteral("Аккаунт: ") + clara));
        QCOMPARE(store.savedAccounts(), (QStringList{anna, boris}));
        QVERIFY(activeAccountFile().contains(clara));

        // Signing out brings back the first saved account in sorted order (not the oldest).
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), std::optional<QString>(anna));
        QCOMPARE(store.savedAccounts(), QStringList{boris});
        QVERIFY(!QFileInfo::exists(sessionFolder() + QStringLiteral("/clara@example.com")));
        QVERIFY(SimWorld::calls(QStringLiteral("ipatool")).contains(QStringList{QStringLiteral("auth"), QStringLiteral("revoke")}));
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), std::optional<QString>(boris));
        QVERIFY(store.savedAccounts().isEmpty());
        QVERIFY(!store.showLogin());

        // The last one: signed out for good.
        QCoro::waitFor(store.logout());
        QVERIFY(!store.email());
        QVERIFY(store.savedAccounts().isEmpty());
        for (const QString& name : sessionFiles)
            QVERIFY(!QFile::exists(sessionFolder() + QLatin1Char('/') + name));
    }

    void switchingToASessionThatNoLongerWorksOpensTheForm()
    {
        keepAside(boris);
        QVERIFY(QFile::remove(sessionFolder() + QStringLiteral("/boris@example.com/account")));
        Store& store = annaSignedIn();
        QCoro::waitFor(store.switchAccount(boris));
        QVERIFY(!store.email());
        QVERIFY(store.showLogin());
        QCOMPARE(store.loginEmailHint(), boris);
        QCOMPARE(store.loginStep(), LoginStep::form());
        QCOMPARE(store.savedAccounts(), QStringList{anna});
    }

    void accountsAreLockedWhileWorkRuns_data()
    {
        QTest::addColumn<QList<Job>>("jobs");
        QTest::addColumn<bool>("installing");
        QTest::addColumn<bool>("locked");
        QTest::newRow("a waiting download") << QList<Job>{jobIn(Job::State::waiting())} << false << true;
        QTest::newRow("a running download") << QList<Job>{jobIn(Job::State::running())} << false << true;
        QTest::newRow("an installation") << QList<Job>{} << true << true;
        QTest::newRow("only finished work")
            << QList<Job>{jobIn(Job::State::done(QStringLiteral("A.ipa"))), jobIn(Job::State::failed(QStringLiteral("x"))),
                          jobIn(Job::State::cancelled())}
            << false << false;
    }

    void accountsAreLockedWhileWorkRuns()
    {
        QFETCH(QList<Job>, jobs);
        QFETCH(bool, installing);
        QFETCH(bool, locked);
        Store& store = annaSignedIn({boris});
        StoreTestAccess::setJobs(store, jobs);
        if (installing)
            StoreTestAccess::setInstalling(store, QStringLiteral("/tmp/A.ipa"));

        QCOMPARE(store.activeJobCount(), static_cast<int>(std::count_if(jobs.cbegin(), jobs.cend(), [](const Job& job) {
                     return job.isActive();
                 })));
        QCOMPARE(store.accountsLocked(), locked);
        const std::optional<QString> lockNotice = QStringLiteral("Дождитесь окончания загрузок и установки.");
        QCOMPARE(store.notice(), locked ? lockNotice : std::nullopt);
        if (!locked)
            return;
        store.setNotice(std::nullopt);
        QCoro::waitFor(store.switchAccount(boris));
        QCOMPARE(store.email(), std::optional<QString>(anna));
        QCOMPARE(store.notice(), lockNotice);
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), std::optional<QString>(anna));
        QVERIFY(activeAccountFile().contains(anna));
    }

    void lostSessionOpensTheForm_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("handled");
        QTest::newRow("session expired") << "ERR error=\"session expired\" success=false" << true;
        QTest::newRow("not logged in") << "ERR error=\"Not logged in\" success=false" << true;
        QTest::newRow("other capitals") << "ERR error=\"Session Expired\" success=false" << false;
        QTest::newRow("another failure") << "ERR error=\"license is required\" success=false" << false;
    }

    void lostSessionOpensTheForm()
    {
        QFETCH(QString, text);
        QFETCH(bool, handled);
        Store store(test::storeOptions());
        StoreTestAccess::setEmail(store, anna);
        QCOMPARE(store.handleAuthLoss(text), handled);
        QCOMPARE(store.showLogin(), handled);
        QCOMPARE(store.email(), handled ? std::nullopt : std::optional<QString>(anna));
        QCOMPARE(store.loginEmailHint(), handled ? anna : QString());
    }

    void destroyingTheStoreDuringSignInIsSafe()
    {
        m_sandbox->world.setTiming(QStringLiteral("login"), 2000); // two seconds at the default speed
        m_sandbox->world.write();
        auto store = std::make_unique<Store>(test::storeOptions());
        store->beginLogin(QString(), false);
        store->login(anna, QStringLiteral("pw-anna"));
        QTRY_VERIFY_WITH_TIMEOUT(SimWorld::calls(QStringLiteral("ipatool")).contains(QStringList({QStringLiteral("auth"), QStringLiteral("login")})),
                                 30000);
        store.reset();
        // Whatever was still in flight finds no Store and ends quietly.
        QTest::qWait(500);

        auto second = std::make_unique<Store>(test::storeOptions());
        second->beginLogin(QString(), true);
        second->login(boris, QStringLiteral("pw-boris"));
        QTRY_COMPARE_WITH_TIMEOUT(second->loginStep(), LoginStep::code(), 30000);
        second->cancelLogin();
        second.reset();
        QTest::qWait(500);
    }

private:
    // Anna signed in, with `aside` remembered, as a new Store finds them.
    Store& annaSignedIn(const QStringList& aside = {})
    {
        for (const QString& email : aside)
            keepAside(email);
        SimWorld::signIn(anna, QStringLiteral("Anna"));
        m_store = std::make_unique<Store>(test::storeOptions());
        QCoro::waitFor(m_store->checkAuth(false));
        return *m_store;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(AccountsTest)
#include "tst_accounts.moc"
