// Sign-in through the simulated ipatool, saved accounts, switching, signing out, the lock while work runs.
#include "store/store.h"

#include "sandbox.h"
#include "storeaccess.h"

#include <QCoroTask>
#include <QRegularExpression>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;

namespace {

const QString anna = u"anna@example.com"_s;
const QString boris = u"boris@example.com"_s; // with a two-factor code
const QString clara = u"clara@example.com"_s; // asked for the password again when it is wrong
const QString echo = u"echo@example.com"_s;
const QString echoPassword = u"Tr0ub4dor-x"_s;
const QStringList sessionFiles{u"account"_s, u"cookies"_s, u"login"_s};

QString session(const QString& name = {}) { return QDir::homePath() + u"/.ipatool/"_s + name; }

// Who the active session files say is signed in.
QString activeAccountFile() { return QString::fromUtf8(readFile(session(u"account"_s))); }

// A remembered account: its session moved aside into its own folder.
void keepAside(const QString& email)
{
    SimWorld::signIn(email);
    QDir folder(session());
    QVERIFY(folder.mkpath(email));
    for (const QString& name : sessionFiles)
        QVERIFY(folder.rename(name, email + u'/' + name));
}

} // namespace

class AccountsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addAccount(anna, u"pw-anna"_s, u"Anna"_s)
            .addAccount(boris, u"pw-boris"_s, u"Boris"_s, u"246810"_s)
            .addAccount(clara, u"pw-clara"_s, u"Clara"_s, {}, true)
            .addAccount(echo, echoPassword, u"Echo"_s)
            .write();
    }

    void cleanup() { m_store.reset(); m_sandbox.reset(); }

    void signIn_data()
    {
        QTest::addColumn<QString>("email");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("toolError"); // injected into `ipatool auth login`
        QTest::addColumn<QString>("failure");   // empty: signed in
        const QString wrongCredentials = u"Неверная почта или пароль."_s;
        QTest::newRow("password") << anna << "pw-anna" << QString() << QString() << QString();
        QTest::newRow("password and two-factor code") << boris << "pw-boris" << "246810" << QString() << QString();
        QTest::newRow("wrong password") << anna << "wrong" << QString() << QString() << wrongCredentials;
        QTest::newRow("unknown account") << "nobody@example.com" << "pw" << QString() << QString() << wrongCredentials;
        // The tool asks for the password again: the attempt ends and the tool is stopped.
        QTest::newRow("password prompt repeated") << clara << "wrong" << QString() << QString() << wrongCredentials;
        QTest::newRow("wrong two-factor code") << boris << "pw-boris" << "000000" << QString()
                                               << u"Нужен код подтверждения. Попробуйте войти ещё раз."_s;
        QTest::newRow("the tool names the typed password") << echo << echoPassword << QString() << u"keychain rejected "_s + echoPassword
                                                           << u"ERR error=\"keychain rejected ••••••\" success=false"_s;
    }

    void signIn()
    {
        QFETCH(QString, email);
        QFETCH(QString, password);
        QFETCH(QString, code);
        QFETCH(QString, toolError);
        QFETCH(QString, failure);
        if (!toolError.isEmpty())
            m_sandbox->world.addFailure({.command = u"ipatool auth login"_s, .error = toolError}).write();
        Store store(storeOptions());
        QCoro::waitFor(store.checkAuth(false));
        QVERIFY(!store.email());

        store.beginLogin(u"hint@example.com"_s, false);
        QVERIFY(store.showLogin());
        QCOMPARE(store.loginEmailHint(), u"hint@example.com"_s);
        store.login(email, password);
        QCOMPARE(store.loginStep(), LoginStep::working());
        if (!code.isEmpty()) {
            QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::code(), 30000);
            QVERIFY(store.showLogin());
            store.submitCode(code);
            QCOMPARE(store.loginStep(), LoginStep::working());
        }
        QVERIFY(waitForSignInEnd(store));
        if (!failure.isEmpty()) {
            static const QRegularExpression clock(u"^\\d+:\\d+[AP]M "_s); // the time the tool prints
            QCOMPARE(store.loginStep().kind, LoginStep::Kind::failed);
            QCOMPARE(QString(store.loginStep().message).remove(clock), failure);
            QVERIFY(store.showLogin() && !store.email() && !QFile::exists(session(u"account"_s)));
            return;
        }
        QVERIFY(!store.showLogin());
        QCOMPARE(store.email(), email);
        QCOMPARE(store.loginStep(), LoginStep::working()); // the closed sheet keeps its step
        QVERIFY(!store.addingAccount());
        // Credentials are typed, never passed on the command line; kbsync runs once after.
        const QList<QStringList> calls = SimWorld::calls(u"ipatool"_s);
        QVERIFY(calls.contains(QStringList{u"auth"_s, u"login"_s}));
        QCOMPARE(calls.count(QStringList{u"kbsync"_s, u"--refresh"_s}), 1);
        QVERIFY(QFileInfo::exists(session(u"login"_s)) && QFileInfo(session(u"login"_s)).size() == 0);
    }

    void typedSecretsNeverReachTheMessage_data()
    {
        QTest::addColumn<QString>("transcript");
        QTest::addColumn<QStringList>("secrets");
        QTest::addColumn<QString>("message");
        QTest::newRow("password echoed in the last error line")
            << "Enter email: a@b.c\r\nEnter password: \r\n3:04PM ERR error=\"keychain refused hunter2\" success=false\r\n"
            << QStringList{u"hunter2"_s} << "3:04PM ERR error=\"keychain refused ••••••\" success=false";
        QTest::newRow("echoed code on its own line") << "Enter 2FA code:\r\n135790\r\nstopped\r\n" << QStringList{u"pw"_s, u"135790"_s}
                                                     << "stopped";
        QTest::newRow("a secret inside a known failure text keeps the match")
            << "ERR error=\"password was incorrect\" success=false" << QStringList{u"password"_s} << u"Неверная почта или пароль."_s;
        QTest::newRow("a longer secret containing a shorter one") << "error: abc abcdef" << QStringList{"abc", "abcdef"}
                                                                  << "error: •••••• ••••••";
        QTest::newRow("a secret holding a control sequence, as shown")
            << "ERR error=\"refused ab\x1b[1mcd\" success=false" << QStringList{u"ab\x1b[1mcd"_s} << "ERR error=\"refused ••••••\" success=false";
        QTest::newRow("nothing typed yet") << "error: refused" << QStringList{QString()} << "error: refused";
    }

    void typedSecretsNeverReachTheMessage()
    {
        QFETCH(QString, transcript);
        QFETCH(QStringList, secrets);
        QTEST(loginFailureMessage(transcript, secrets), "message");
    }

    void addingAnAccountKeepsTheFirstAside()
    {
        Store& store = annaSignedIn();
        store.beginLogin(QString(), true);
        store.login(boris, u"pw-boris"_s);
        // The tool now waits for Boris's code; Anna's session is aside meanwhile.
        QTRY_COMPARE_WITH_TIMEOUT(store.loginStep(), LoginStep::code(), 30000);
        QVERIFY(QFile::exists(session(u"anna@example.com/account"_s)));
        QVERIFY(!QFile::exists(session(u"account"_s)));

        // Cancelling brings her back.
        store.cancelLogin();
        QVERIFY(!store.showLogin());
        QVERIFY(activeAccountFile().contains(anna));
        QVERIFY(!QFileInfo::exists(session(u"anna@example.com"_s)));

        // A new attempt right away waits for the clean-up, then keeps Anna aside again.
        QVERIFY(test::signIn(store, boris, u"pw-boris"_s, u"246810"_s, true));
        QCOMPARE(store.savedAccounts(), QStringList{anna});
        QVERIFY(!store.addingAccount());
        QVERIFY(activeAccountFile().contains(boris));
        // Her session is aside; once it no longer works, switching back to it opens the form for her.
        QVERIFY(QFile::remove(session(u"anna@example.com/account"_s)));
        QCoro::waitFor(store.switchAccount(anna));
        QVERIFY(!store.email());
        QVERIFY(store.showLogin());
        QCOMPARE(store.loginEmailHint(), anna);
        QCOMPARE(store.loginStep(), LoginStep::form());
        QCOMPARE(store.savedAccounts(), QStringList{boris});
    }

    void switchingAndSigningOut()
    {
        Store& store = annaSignedIn({clara, boris});
        QCOMPARE(store.email(), anna);
        QCOMPARE(store.savedAccounts(), (QStringList{boris, clara}));

        // Not a saved account: nothing happens.
        QCoro::waitFor(store.switchAccount(u"nobody@example.com"_s));
        QCOMPARE(store.email(), anna);
        QVERIFY(!store.notice());

        QCoro::waitFor(store.switchAccount(clara));
        QCOMPARE(store.email(), clara);
        QCOMPARE(store.notice(), u"Аккаунт: "_s + clara);
        QCOMPARE(store.savedAccounts(), (QStringList{anna, boris}));
        QVERIFY(activeAccountFile().contains(clara));

        // Signing out brings back the first saved account in sorted order (not the oldest).
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), anna);
        QCOMPARE(store.savedAccounts(), QStringList{boris});
        QVERIFY(!QFileInfo::exists(session(u"clara@example.com"_s)));
        QVERIFY(SimWorld::calls(u"ipatool"_s).contains(QStringList{u"auth"_s, u"revoke"_s}));
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), boris);
        QVERIFY(store.savedAccounts().isEmpty());
        QVERIFY(!store.showLogin());

        // The last one: signed out for good.
        QCoro::waitFor(store.logout());
        QVERIFY(!store.email());
        QVERIFY(store.savedAccounts().isEmpty());
        for (const QString& name : sessionFiles)
            QVERIFY(!QFile::exists(session(name)));
    }

    void accountsAreLockedWhileWorkRuns_data()
    {
        QTest::addColumn<QList<Job>>("jobs");
        QTest::addColumn<bool>("installing");
        QTest::addColumn<bool>("locked");
        QTest::newRow("a waiting download") << QList<Job>{{.state = Job::State::waiting()}} << false << true;
        QTest::newRow("a running download") << QList<Job>{{.state = Job::State::running()}} << false << true;
        QTest::newRow("an installation") << QList<Job>{} << true << true;
        QTest::newRow("only finished work")
            << QList<Job>{{.state = Job::State::done(u"A.ipa"_s)}, {.state = Job::State::failed(u"x"_s)}, {.state = Job::State::cancelled()}}
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
            StoreTestAccess::setInstalling(store, u"/tmp/A.ipa"_s);
        QCOMPARE(store.accountsLocked(), locked);
        const std::optional<QString> lockNotice = u"Дождитесь окончания загрузок и установки."_s;
        QCOMPARE(store.notice(), locked ? lockNotice : std::nullopt);
        if (!locked)
            return;
        store.setNotice(std::nullopt);
        QCoro::waitFor(store.switchAccount(boris));
        QCOMPARE(store.email(), anna);
        QCOMPARE(store.notice(), lockNotice);
        QCoro::waitFor(store.logout());
        QCOMPARE(store.email(), anna);
        QVERIFY(activeAccountFile().contains(anna));
    }

    // Mid sign-in, and while adding an account awaiting its code (cancelled first): whatever is
    // still in flight finds no Store and ends quietly.
    void destroyingTheStoreDuringSignInIsSafe()
    {
        m_sandbox->world.setTiming(u"login"_s, 2000).write(); // two seconds at the default speed
        for (const bool adding : {false, true}) {
            auto store = std::make_unique<Store>(storeOptions());
            store->beginLogin(QString(), adding);
            store->login(adding ? boris : anna, adding ? u"pw-boris"_s : u"pw-anna"_s);
            QTRY_VERIFY_WITH_TIMEOUT(adding ? store->loginStep() == LoginStep::code()
                                            : SimWorld::calls(u"ipatool"_s).contains(QStringList{u"auth"_s, u"login"_s}),
                                     30000);
            if (adding)
                store->cancelLogin();
            store.reset();
            QTest::qWait(500);
        }
    }

private:
    // Anna signed in, with `aside` remembered, as a new Store finds them.
    Store& annaSignedIn(const QStringList& aside = {})
    {
        for (const QString& email : aside)
            keepAside(email);
        SimWorld::signIn(anna, u"Anna"_s);
        m_store = std::make_unique<Store>(storeOptions());
        QCoro::waitFor(m_store->checkAuth(false));
        return *m_store;
    }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
};

QTEST_GUILESS_MAIN(AccountsTest)
#include "tst_accounts.moc"
