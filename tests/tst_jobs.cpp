// The download queue against the simulated ipatool.
#include "store/store.h"

#include "model/errors.h"
#include "model/ipa.h"
#include "sandbox.h"
#include "storeaccess.h"
#include "tools/bin.h"
#include "tools/pty.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

using namespace telmora;
using namespace telmora::test;
using namespace Qt::StringLiterals;
using Kind = Job::State::Kind;

namespace {

constexpr int timeout = 30000;
const QString email = QString::fromLatin1(SimWorld::sampleEmail);
const AppItem notes{u"100000001"_s, u"Notes Pro"_s, {}, {}, {}, {}};
const AppItem maps{u"100000002"_s, u"Maps Plus"_s, {}, {}, {}, {}};
const AppItem paid{u"100000003"_s, u"Paid Tool"_s, {}, {}, {}, {}};
const AppItem freeGame{u"100000004"_s, u"Free Game"_s, {}, {}, {}, {}};
const AppItem slow{u"200000001"_s, u"Slow App"_s, {}, {}, {}, {}};   // about a minute: time to act while it runs
const AppItem quiet{u"200000002"_s, u"Quiet App"_s, {}, {}, {}, {}}; // 4 MB in about two seconds

QStringList temporaryFolders(const QString& downloads)
{
    return QDir(downloads).entryList({u".tmp-*"_s}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList downloadCalls()
{
    QStringList calls;
    for (const QStringList& call : SimWorld::calls(u"ipatool"_s)) {
        if (call.value(0) == u"download")
            calls.append(call.join(u' '));
    }
    return calls;
}

QString storedName(const QString& app, const QString& version, const QString& minOS)
{
    return ipaFileName(IPAInfo{app, version, minOS, u"iOS"_s}, app, email);
}

// An injected download failure (a credential prompt when `error` is empty, breaking `at` percent) and what follows.
struct Failure {
    QString error;
    std::optional<int> at;
    QString message;
    bool signedOut = false;
};

} // namespace

Q_DECLARE_METATYPE(Failure)

class JobsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample()
            .addApp(slow.id, u"com.example.slow"_s, slow.name)
            .addVersion(slow.id, {.id = u"900000001"_s, .display = u"1.0"_s, .duration = 60000})
            .addApp(quiet.id, u"com.example.quiet"_s, quiet.name)
            .addVersion(quiet.id, {.id = u"900000002"_s, .display = u"1.0"_s, .size = 4 * 1024 * 1024, .duration = 2500})
            .write();
        SimWorld::signIn(email);
        m_store = std::make_unique<Store>(storeOptions());
        StoreTestAccess::setEmail(*m_store, email);
        m_downloads = m_sandbox->downloadsFolder();
    }

    void cleanup() { m_store.reset(); m_sandbox.reset(); }

    void queueRunsOneJobAtATimeInCallOrder()
    {
        int mostRunning = 0;
        const QObject watching; // goes before mostRunning: no call after this test
        connect(m_store.get(), &Store::jobsChanged, &watching, [&] {
            const QList<Job> jobs = m_store->jobs();
            const auto running = std::count_if(jobs.begin(), jobs.end(), [](const Job& job) { return job.state.kind == Kind::running; });
            mostRunning = std::max(mostRunning, int(running));
        });
        m_store->enqueue({notes, maps, freeGame});
        QCOMPARE(m_store->jobs().size(), 3);
        QCOMPARE(job(0).app.id, freeGame.id); // newest first
        QCOMPARE(job(2).state, Job::State::running());
        QCOMPARE(job(1).state, Job::State::waiting());
        QCOMPARE(m_store->activeJobCount(), 3);

        m_store->enqueue({notes}); // while the first one runs: only waits
        QCOMPARE(job(0).state, Job::State::waiting());
        QCOMPARE(m_store->latestJob(notes.id)->id, job(0).id);
        QCOMPARE(m_store->latestJob(u"1"_s), std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        QCOMPARE(mostRunning, 1);
        for (const Job& job : m_store->jobs()) {
            QCOMPARE(job.state.kind, Kind::done);
            QCOMPARE(job.fraction, std::optional<double>(1.0));
        }
        // In call order, the current versions.
        QCOMPARE(downloadCalls(), (QStringList{u"download -i 100000001 --purchase"_s, u"download -i 100000002 --purchase"_s,
                                               u"download -i 100000004 --purchase"_s, u"download -i 100000001 --purchase"_s}));
        const QString notesName = storedName(notes.name, u"2.0"_s, u"16.0"_s);
        const QString mapsName = storedName(maps.name, u"3.1"_s, u"15.0"_s);
        QCOMPARE(job(3).state, Job::State::done(notesName));
        QCOMPARE(job(2).state, Job::State::done(mapsName));
        QCOMPARE(m_store->files().size(), 3);
        QCOMPARE(m_store->file(maps.id)->url, QDir(m_downloads).filePath(mapsName));
        QCOMPARE(m_store->file(maps.id)->info->version, u"3.1"_s);
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QVERIFY(!StoreTestAccess::runningJob(*m_store) && !StoreTestAccess::runningTool(*m_store));
        const QJsonObject map = QJsonDocument::fromJson(readFile(QDir(m_sandbox->dataFolder()).filePath(u"files.json"_s))).object();
        QVERIFY(map.value(notesName) == notes.id && map.value(mapsName) == maps.id);
    }

    void cancellingWaitingAndRunningJobs()
    {
        m_store->enqueue({slow, notes, maps});
        const Job running = *m_store->latestJob(slow.id);
        const Job waiting = *m_store->latestJob(notes.id);
        QCOMPARE(running.state, Job::State::running());
        const std::shared_ptr<PTYTool> tool = StoreTestAccess::runningTool(*m_store);
        QVERIFY(tool);
        QTRY_COMPARE_WITH_TIMEOUT(temporaryFolders(m_downloads).size(), 1, timeout);

        m_store->cancel(waiting);
        m_store->cancel(running);

        QTRY_VERIFY_WITH_TIMEOUT(!tool->isRunning(), timeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        QCOMPARE(m_store->latestJob(slow.id)->state, Job::State::cancelled());
        QCOMPARE(m_store->latestJob(notes.id)->state, Job::State::cancelled());
        QCOMPARE(m_store->latestJob(maps.id)->state.kind, Kind::done);
        QVERIFY(!downloadCalls().join(u'|').contains(notes.id)); // the waiting one never ran
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QCOMPARE(m_store->file(slow.id), std::nullopt);
    }

    // Signed out, a download waits for the sign-in sheet; cancelling the sheet drops it.
    void signedOutEnqueueWaitsForSignIn()
    {
        QFile::remove(m_sandbox->filePath(u".ipatool/account"_s));
        StoreTestAccess::setEmail(*m_store, std::nullopt);
        m_store->enqueue({maps});
        QVERIFY(m_store->showLogin());
        QVERIFY(StoreTestAccess::hasAfterLogin(*m_store));
        m_store->cancelLogin();
        QVERIFY(!StoreTestAccess::hasAfterLogin(*m_store));

        m_store->enqueue({notes}, u"800000001"_s, u"1.0"_s, false);
        QVERIFY(m_store->jobs().isEmpty());
        QVERIFY(signIn(*m_store, email, QString::fromLatin1(SimWorld::samplePassword)));
        QCOMPARE(m_store->jobs().size(), 1);
        QCOMPARE(job().app, notes);
        QCOMPARE(job().versionID, u"800000001"_s);
        QCOMPARE(job().versionLabel, u"1.0"_s);
        QVERIFY(!StoreTestAccess::hasAfterLogin(*m_store));
        QTRY_COMPARE_WITH_TIMEOUT(job().state, Job::State::done(storedName(notes.name, u"1.0"_s, u"14.0"_s)), timeout);
        QCOMPARE(downloadCalls(), QStringList{u"download -i 100000001 --external-version-id 800000001"_s});
    }

    void toolFailures_data()
    {
        QTest::addColumn<Failure>("row");
        QTest::newRow("credential prompt") << Failure{{}, {}, u"Apple просит войти снова. Войдите и повторите загрузку."_s, true};
        QTest::newRow("no licence") << Failure{u"license is required"_s, {}, u"Это приложение не приобреталось на этом аккаунте."_s};
        QTest::newRow("network lost midway")
            << Failure{u"Could not connect to the server"_s, 50, u"Нет связи с серверами Apple. Проверьте интернет или VPN."_s};
        QTest::newRow("session lost") << Failure{u"Not logged in"_s, {}, u"Сессия истекла. Войдите снова."_s, true};
    }

    void toolFailures()
    {
        QFETCH(Failure, row);
        m_sandbox->world.addFailure({.command = u"ipatool download"_s, .error = row.error, .at = row.at, .relogin = row.error.isEmpty()}).write();
        m_store->enqueue({notes});
        QTRY_VERIFY_WITH_TIMEOUT(!job().isActive(), timeout);
        const Job failed = job();
        QCOMPARE(failed.state, Job::State::failed(row.message));
        QCOMPARE(m_store->showLogin(), row.signedOut); // and the sheet open with the e-mail hint
        QCOMPARE(m_store->email(), row.signedOut ? std::nullopt : std::optional(email));
        QCOMPARE(m_store->loginEmailHint(), row.signedOut ? email : QString());
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QVERIFY(!StoreTestAccess::runningTool(*m_store));
        QCOMPARE(m_store->file(notes.id), std::nullopt);
        if (row.signedOut)
            return;
        // The button now offers a retry, which replaces the failed job with a new one.
        const AppSituation situation = m_store->situation(notes);
        QCOMPARE(situation.action, std::optional(AppSituation::Action::retry(failed)));
        m_sandbox->world.clearFailures().write();
        m_store->perform(*situation.action, notes);
        QCOMPARE(m_store->jobs().size(), 1);
        QVERIFY(job().id != failed.id);
        QTRY_COMPARE_WITH_TIMEOUT(job().state.kind, Kind::done, timeout);
    }

    void missingToolFailsEveryJob()
    {
        Bin::setDirForTesting(m_sandbox->filePath(u"no-tools"_s));
        m_store->enqueue({notes, maps});
        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        for (const Job& job : m_store->jobs()) {
            QCOMPARE(job.state.kind, Kind::failed);
            QVERIFY(!job.state.payload.isEmpty());
        }
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
    }

    void packagesTheToolLeavesBehind_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<AppItem>("app");
        QTest::addColumn<Job::State>("state");
        const QString junk = u"printf 'downloading 100%%\\n'\necho 'not a zip' > Thing.IPA\necho 'INF success=true'\n"_s;
        QTest::newRow("unreadable package, placeholder name")
            << junk << AppItem{u"123456789"_s, u"ID 123456789"_s, {}, {}, {}, {}}
            << Job::State::done(u"App_0_iOS_NA+_"_s + email + u".ipa"_s);
        QTest::newRow("unreadable package, known name") << junk << notes << Job::State::done(u"Notes_Pro_0_iOS_NA+_"_s + email + u".ipa"_s);
        QTest::newRow("success without a package") << u"echo 'INF output=nowhere success=true'\n"_s << notes
                                                   << Job::State::failed(friendlyError(u"INF output=nowhere success=true"_s));
    }

    void packagesTheToolLeavesBehind()
    {
        QFETCH(QString, script);
        QFETCH(AppItem, app);
        QFETCH(Job::State, state);
        QTemporaryDir tools;
        QVERIFY(writeFile(tools.filePath(u"ipatool"_s), "#!/bin/sh\n" + script.toUtf8() + "exit 0\n", true));
        Bin::setDirForTesting(tools.path());

        m_store->enqueue({app});
        QTRY_VERIFY_WITH_TIMEOUT(!job().isActive(), timeout);
        QCOMPARE(job().state, state);
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        if (state.kind == Kind::done) {
            QCOMPARE(m_store->file(app.id)->url, QDir(m_downloads).filePath(state.payload));
            QCOMPARE(m_store->file(app.id)->info, std::nullopt);
        }
    }

    // While running: the fraction and speed printed, or without a percentage the size so far.
    void liveProgress_data()
    {
        QTest::addColumn<bool>("noPercentage");
        QTest::addColumn<QString>("detail");
        QTest::newRow("percentage") << false << u"MB/s$"_s;
        QTest::newRow("no percentage") << true << u"^\\d+(,\\d)? (байт\\S*|кБ|МБ)$"_s;
    }

    void liveProgress()
    {
        QFETCH(bool, noPercentage);
        QFETCH(QString, detail);
        m_sandbox->world.addFailure({.command = u"ipatool download"_s, .app = quiet.id, .noProgress = noPercentage}).write();
        m_store->enqueue({quiet});
        QTRY_VERIFY_WITH_TIMEOUT(job().detail && (noPercentage || job().fraction.value_or(0) > 0), timeout);
        const Job seen = job();
        if (seen.state == Job::State::running()) {
            QVERIFY2(QRegularExpression(detail).match(*seen.detail).hasMatch(), qPrintable(*seen.detail));
            QCOMPARE(seen.fraction.has_value(), !noPercentage);
            QVERIFY(seen.fraction.value_or(0) < 1.0);
        }
        QTRY_COMPARE_WITH_TIMEOUT(job().state.kind, Kind::done, timeout);
        QCOMPARE(job().fraction, std::optional<double>(1.0));
    }

    // A removed running job still stores its file; closing the Store mid-download stops the
    // tool and removes its folder.
    void removingTheRunningJobThenClosingTheStore()
    {
        m_store->enqueue({quiet, slow});
        const QUuid next = job(0).id;
        QCOMPARE(job(1).state, Job::State::running());
        m_store->removeJob(job(1));
        QCOMPARE(m_store->jobs().size(), 1);
        QCOMPARE(m_store->activeJobCount(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->file(quiet.id).has_value(), timeout);
        QTRY_COMPARE_WITH_TIMEOUT(StoreTestAccess::runningJob(*m_store), next, timeout);
        QCOMPARE(m_store->jobs().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(temporaryFolders(m_downloads).size(), 1, timeout);

        const std::shared_ptr<PTYTool> tool = StoreTestAccess::runningTool(*m_store);
        m_store.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!tool->isRunning(), timeout);
        QTRY_VERIFY_WITH_TIMEOUT(temporaryFolders(m_downloads).isEmpty(), timeout);
    }

    // getOrInstall queues only apps without a file, and installs when a phone is ready; a second
    // download replaces the file: the old one to the Trash, its "installed" mark dropped.
    void getOrInstallAndSecondDownloads()
    {
        const QString name = storedName(maps.name, u"3.1"_s, u"15.0"_s);
        const QString stored = QDir(m_downloads).filePath(name);
        m_store->enqueue({maps});
        QTRY_COMPARE_WITH_TIMEOUT(job().state, Job::State::done(name), timeout);
        QVERIFY(QFile::resize(stored, 100)); // told from the second download by its size
        StoreTestAccess::setInstalled(*m_store, {stored});

        m_store->getOrInstall({maps, notes});
        QCOMPARE(m_store->jobs().size(), 2);
        QCOMPARE(job().app, notes);
        QVERIFY(!job().install); // no ready iPhone: only downloads
        QTRY_VERIFY_WITH_TIMEOUT(!job().isActive(), timeout);

        m_store->enqueue({maps});
        QTRY_VERIFY_WITH_TIMEOUT(!job().isActive(), timeout);
        QCOMPARE(job().state, Job::State::done(name));
        const QFileInfo trashed(m_sandbox->filePath(u".local/share/Trash/files/"_s + name));
        QCOMPARE(trashed.size(), qint64(100)); // 0 if absent
        QVERIFY(QFileInfo(stored).size() != 100);
        QVERIFY(!m_store->installed().contains(stored));
        QCOMPARE(m_store->files().size(), 2);

        StoreTestAccess::connectDevice(*m_store, u"17.4.1"_s, QString::fromLatin1(SimWorld::sampleUDID));
        m_store->getOrInstall({freeGame});
        QVERIFY(job().install);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->file(freeGame.id).has_value(), timeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->installed(), QSet<QString>{m_store->file(freeGame.id)->url}, timeout);
    }

    void licence_data()
    {
        QTest::addColumn<AppItem>("app");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("granted");
        QTest::newRow("free") << freeGame << u"Лицензия получена: Free Game"_s << true;
        QTest::newRow("paid") << paid << u"Paid Tool: Платное приложение отсюда купить нельзя. Сначала купите его в App Store на этом аккаунте."_s
                              << false;
    }

    void licence()
    {
        QFETCH(AppItem, app);
        QCoro::waitFor(m_store->acquireLicense(app));
        QTEST(m_store->notice().value_or(QString()), "notice");
        QTEST(SimWorld::licences(email).contains(app.id), "granted");
    }

private:
    [[nodiscard]] Job job(int index = 0) const { return m_store->jobs().at(index); }

    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    QString m_downloads;
};

QTEST_GUILESS_MAIN(JobsTest)
#include "tst_jobs.moc"
