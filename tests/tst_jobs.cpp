// The download queue against the simulated ipatool: order, cancelling, sign-in detours,
// failures, storing and replacing files, live progress.
#include "store/store.h"

#include "sandbox.h"
#include "model/errors.h"
#include "model/ipa.h"
#include "storeaccess.h"
#include "tools/bin.h"
#include "tools/pty.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace telmora;
using telmora::test::SimWorld;
using telmora::test::Sandbox;

namespace {

constexpr int timeout = 30000;

const QString email = QString::fromLatin1(SimWorld::sampleEmail);
const AppItem notes{QStringLiteral("100000001"), QStringLiteral("Notes Pro"), {}, {}, {}, {}};
const AppItem maps{QStringLiteral("100000002"), QStringLiteral("Maps Plus"), {}, {}, {}, {}};
const AppItem freeGame{QStringLiteral("100000004"), QStringLiteral("Free Game"), {}, {}, {}, {}};
const AppItem paid{QStringLiteral("100000003"), QStringLiteral("Paid Tool"), {}, {}, {}, {}};
// A download that takes about a minute: long enough to act on while it runs.
const AppItem slow{QStringLiteral("200000001"), QStringLiteral("Slow App"), {}, {}, {}, {}};
// About two seconds and no percentage printed.
const AppItem quiet{QStringLiteral("200000002"), QStringLiteral("Quiet App"), {}, {}, {}, {}};

using Kind = Job::State::Kind;

QStringList temporaryFolders(const QString& downloads)
{
    return QDir(downloads).entryList({QStringLiteral(".tmp-*")}, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList downloadCalls()
{
    QStringList calls;
    for (const QStringList& call : SimWorld::calls(QStringLiteral("ipatool"))) {
        if (!call.isEmpty() && call.first() == u"download")
            calls.append(call.join(u' '));
    }
    return calls;
}

QString storedName(const QString& app, const QString& version, const QString& minOS)
{
    return ipaFileName(IPAInfo{app, version, minOS, QStringLiteral("iOS")}, app, email);
}

} // namespace

class JobsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample()
            .addApp(slow.id, QStringLiteral("com.example.slow"), slow.name)
            .addVersion(slow.id, {.id = QStringLiteral("900000001"), .display = QStringLiteral("1.0"), .duration = 60000})
            .addApp(quiet.id, QStringLiteral("com.example.quiet"), quiet.name)
            .addVersion(quiet.id, {.id = QStringLiteral("900000002"), .display = QStringLiteral("1.0"),
                                       .size = 4 * 1024 * 1024, .duration = 2500})
            .write();
        SimWorld::signIn(email);
        m_store = std::make_unique<Store>(test::storeOptions());
        StoreTestAccess::setEmail(*m_store, email);
        m_downloads = m_sandbox->downloadsFolder();
        m_runOrder.clear();
        m_mostRunning = 0;
        connect(m_store.get(), &Store::jobsChanged, this, [this] {
            int running = 0;
            for (const Job& job : m_store->jobs()) {
                if (job.state.kind != Kind::running)
                    continue;
                ++running;
                if (m_runOrder.isEmpty() || m_runOrder.last() != job.id)
                    m_runOrder.append(job.id);
            }
            m_mostRunning = std::max(m_mostRunning, running);
        });
    }

    void cleanup()
    {
        m_store.reset();
        m_sandbox.reset();
    }

    void queueRunsOneJobAtATimeInCallOrder()
    {
        m_store->enqueue({notes, maps, freeGame});
        QCOMPARE(m_store->jobs().size(), 3);
        QCOMPARE(m_store->jobs().at(0).app.id, freeGame.id);
        QCOMPARE(m_store->jobs().at(2).app.id, notes.id);
        QCOMPARE(m_store->jobs().at(2).state, Job::State::running());
        QCOMPARE(m_store->jobs().at(1).state, Job::State::waiting());
        QCOMPARE(m_store->activeJobCount(), 3);

        // Queued while the first one runs: only waits.
        m_store->enqueue({notes});
        QCOMPARE(m_store->jobs().at(0).state, Job::State::waiting());
        const QUuid again = m_store->jobs().at(0).id;
        QCOMPARE(m_store->latestJob(notes.id)->id, again);
        QCOMPARE(m_store->latestJob(QStringLiteral("1")), std::nullopt);
        const QList<QUuid> callOrder{m_store->jobs().at(3).id, m_store->jobs().at(2).id, m_store->jobs().at(1).id, again};

        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        QCOMPARE(m_runOrder, callOrder);
        QCOMPARE(m_mostRunning, 1);
        for (const Job& job : m_store->jobs()) {
            QCOMPARE(job.state.kind, Kind::done);
            QCOMPARE(job.fraction, std::optional<double>(1.0));
        }
        const QString notesName = storedName(notes.name, QStringLiteral("2.0"), QStringLiteral("16.0"));
        const QString mapsName = storedName(maps.name, QStringLiteral("3.1"), QStringLiteral("15.0"));
        QCOMPARE(m_store->jobs().at(3).state, Job::State::done(notesName));
        QCOMPARE(m_store->jobs().at(2).state, Job::State::done(mapsName));
        QCOMPARE(m_store->files().size(), 3);
        QCOMPARE(m_store->file(maps.id)->url, QDir(m_downloads).filePath(mapsName));
        QCOMPARE(m_store->file(maps.id)->info->version, QStringLiteral("3.1"));
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QCOMPARE(StoreTestAccess::runningJob(*m_store), std::nullopt);
        QVERIFY(!StoreTestAccess::runningTool(*m_store));

        QFile saved(QDir(m_sandbox->dataFolder()).filePath(QStringLiteral("files.json")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QJsonObject map = QJsonDocument::fromJson(saved.readAll()).object();
        QCOMPARE(map.value(notesName).toString(), notes.id);
        QCOMPARE(map.value(mapsName).toString(), maps.id);
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
        QCOMPARE(m_store->latestJob(notes.id)->state, Job::State::cancelled());
        m_store->cancel(running);
        QCOMPARE(m_store->latestJob(slow.id)->state, Job::State::cancelled());

        QTRY_VERIFY_WITH_TIMEOUT(!tool->isRunning(), timeout);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        QCOMPARE(m_store->latestJob(slow.id)->state, Job::State::cancelled());
        QCOMPARE(m_store->latestJob(notes.id)->state, Job::State::cancelled());
        QCOMPARE(m_store->latestJob(maps.id)->state.kind, Kind::done);
        QVERIFY(!m_runOrder.contains(waiting.id));
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QCOMPARE(m_store->file(slow.id), std::nullopt);
    }

    void signedOutEnqueueWaitsForSignIn()
    {
        QFile::remove(m_sandbox->filePath(QStringLiteral(".ipatool/account")));
        StoreTestAccess::setEmail(*m_store, std::nullopt);

        m_store->enqueue({notes}, QStringLiteral("800000001"), QStringLiteral("1.0"), false);
        QVERIFY(m_store->jobs().isEmpty());
        QVERIFY(m_store->showLogin());
        QVERIFY(StoreTestAccess::hasAfterLogin(*m_store));

        QVERIFY(test::signIn(*m_store, email, QString::fromLatin1(SimWorld::samplePassword)));
        QCOMPARE(m_store->jobs().size(), 1);
        const Job queued = m_store->jobs().at(0);
        QCOMPARE(queued.app, notes);
        QCOMPARE(queued.versionID, std::optional<QString>(QStringLiteral("800000001")));
        QCOMPARE(queued.versionLabel, std::optional<QString>(QStringLiteral("1.0")));
        QVERIFY(!StoreTestAccess::hasAfterLogin(*m_store));
        QTRY_COMPARE_WITH_TIMEOUT(m_store->latestJob(notes.id)->state,
                                  Job::State::done(storedName(notes.name, QStringLiteral("1.0"), QStringLiteral("14.0"))), timeout);
    }

    void versionArguments_data()
    {
        QTest::addColumn<std::optional<QString>>("versionID");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("fileName");
        QTest::newRow("current") << std::optional<QString>() << QStringLiteral("download -i 100000001 --purchase")
                                 << storedName(notes.name, QStringLiteral("2.0"), QStringLiteral("16.0"));
        QTest::newRow("older") << std::optional<QString>(QStringLiteral("800000001"))
                               << QStringLiteral("download -i 100000001 --external-version-id 800000001")
                               << storedName(notes.name, QStringLiteral("1.0"), QStringLiteral("14.0"));
    }

    void versionArguments()
    {
        QFETCH(std::optional<QString>, versionID);
        QFETCH(QString, call);
        QFETCH(QString, fileName);
        m_store->enqueue({notes}, versionID);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        QCOMPARE(m_store->jobs().at(0).state, Job::State::done(fileName));
        QCOMPARE(downloadCalls(), QStringList{call});
    }

    void toolFailures_data()
    {
        QTest::addColumn<QString>("error");
        QTest::addColumn<std::optional<int>>("at");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("signInOpened"); // and signed out
        QTest::newRow("credential prompt") << QString() << std::optional<int>()
                                           << QStringLiteral("Apple просит войти снова. Войдите и повторите загрузку.") << true;
        QTest::newRow("no licence") << QStringLiteral("license is required") << std::optional<int>()
                                    << QStringLiteral("Это приложение не приобреталось на этом аккаунте.") << false;
        QTest::newRow("network lost midway") << QStringLiteral("Could not connect to the server") << std::optional<int>(50)
                                             << QStringLiteral("Нет связи с серверами Apple. Проверьте интернет или VPN.") << false;
        QTest::newRow("session lost") << QStringLiteral("Not logged in") << std::optional<int>()
                                      << QStringLiteral("Сессия истекла. Войдите снова.") << true;
    }

    void toolFailures()
    {
        QFETCH(QString, error);
        QFETCH(std::optional<int>, at);
        QFETCH(QString, message);
        QFETCH(bool, signInOpened);
        m_sandbox->world.addFailure({.command = QStringLiteral("ipatool download"), .error = error, .at = at, .relogin = error.isEmpty()})
            .write();
        m_store->enqueue({notes});
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        const Job failed = m_store->jobs().at(0);
        QCOMPARE(failed.state, Job::State::failed(message));
        QCOMPARE(m_store->showLogin(), signInOpened);
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        QVERIFY(!StoreTestAccess::runningTool(*m_store));
        QCOMPARE(m_store->file(notes.id), std::nullopt);
        if (signInOpened) {
            QCOMPARE(m_store->email(), std::nullopt);
            QCOMPARE(m_store->loginEmailHint(), email);
            return;
        }

        // The button now offers a retry, which replaces the failed job with a new one.
        const AppSituation situation = m_store->situation(notes);
        QCOMPARE(situation.action, std::optional(AppSituation::Action::retry(failed)));
        m_sandbox->world.clearFailures()
            .write();
        m_store->perform(*situation.action, notes);
        QCOMPARE(m_store->jobs().size(), 1);
        QVERIFY(m_store->jobs().at(0).id != failed.id);
        QTRY_COMPARE_WITH_TIMEOUT(m_store->jobs().at(0).state.kind, Kind::done, timeout);
    }

    void secondDownloadReplacesTheFile()
    {
        m_store->enqueue({maps});
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        const QString name = storedName(maps.name, QStringLiteral("3.1"), QStringLiteral("15.0"));
        const QString stored = QDir(m_downloads).filePath(name);
        QCOMPARE(m_store->jobs().at(0).state, Job::State::done(name));
        QFile marker(stored);
        QVERIFY(marker.open(QIODevice::Append));
        marker.write("first download");
        marker.close();
        const qint64 firstSize = QFileInfo(stored).size();
        StoreTestAccess::setInstalled(*m_store, {stored});

        m_store->enqueue({maps});
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        QCOMPARE(m_store->jobs().at(0).state, Job::State::done(name));
        const QString trashed = m_sandbox->filePath(QStringLiteral(".local/share/Trash/files/") + name);
        QVERIFY(QFileInfo::exists(trashed));
        QCOMPARE(QFileInfo(trashed).size(), firstSize);
        QVERIFY(QFileInfo(stored).size() != firstSize);
        QVERIFY(!m_store->installed().contains(stored));
        QCOMPARE(m_store->files().size(), 1);
    }

    void packagesTheToolLeavesBehind_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<AppItem>("app");
        QTest::addColumn<Job::State>("state");
        const QString junk = QStringLiteral("printf 'downloading 100%%\\n'\necho 'not a zip' > Thing.IPA\necho 'INF success=true'\n");
        QTest::newRow("unreadable package, placeholder name")
            << junk << AppItem{QStringLiteral("123456789"), QStringLiteral("ID 123456789"), {}, {}, {}, {}}
            << Job::State::done(QStringLiteral("App_0_iOS_NA+_") + email + QStringLiteral(".ipa"));
        QTest::newRow("unreadable package, known name")
            << junk << notes << Job::State::done(QStringLiteral("Notes_Pro_0_iOS_NA+_") + email + QStringLiteral(".ipa"));
        QTest::newRow("success without a package")
            << QStringLiteral("echo 'INF output=nowhere success=true'\n") << notes
            << Job::State::failed(friendlyError(QStringLiteral("INF output=nowhere success=true")));
    }

    void packagesTheToolLeavesBehind()
    {
        QFETCH(QString, script);
        QFETCH(AppItem, app);
        QFETCH(Job::State, state);
        QTemporaryDir tools;
        QFile tool(tools.filePath(QStringLiteral("ipatool")));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n" + script.toUtf8() + "exit 0\n");
        tool.close();
        QVERIFY(tool.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        Bin::setDirForTesting(tools.path());

        m_store->enqueue({app});
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        QCOMPARE(m_store->jobs().at(0).state, state);
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
        if (state.kind == Kind::done) {
            QCOMPARE(m_store->file(app.id)->url, QDir(m_downloads).filePath(state.payload));
            QCOMPARE(m_store->file(app.id)->info, std::nullopt);
        }
    }

    void missingToolFailsTheJob()
    {
        QTemporaryDir empty;
        Bin::setDirForTesting(empty.path());
        m_store->enqueue({notes, maps});
        QTRY_COMPARE_WITH_TIMEOUT(m_store->activeJobCount(), 0, timeout);
        for (const Job& job : m_store->jobs()) {
            QCOMPARE(job.state.kind, Kind::failed);
            QVERIFY(!job.state.payload.isEmpty());
        }
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
    }

    void sizeShownWhenNoPercentageIsPrinted()
    {
        m_sandbox->world.addFailure({.command = QStringLiteral("ipatool download"), .app = quiet.id, .noProgress = true})
            .write();
        m_store->enqueue({quiet});
        static const QRegularExpression size(QStringLiteral("^\\d+(,\\d)? (байт\\S*|кБ|МБ)$"));
        QTRY_VERIFY_WITH_TIMEOUT(m_store->jobs().at(0).detail.has_value(), timeout);
        const Job seen = m_store->jobs().at(0);
        QCOMPARE(seen.state, Job::State::running());
        QCOMPARE(seen.fraction, std::nullopt);
        QVERIFY2(size.match(*seen.detail).hasMatch(), qPrintable(*seen.detail));
        QTRY_COMPARE_WITH_TIMEOUT(m_store->jobs().at(0).state.kind, Kind::done, timeout);
        QCOMPARE(m_store->jobs().at(0).fraction, std::optional<double>(1.0));
    }

    void progressIsReadFromTheOutput()
    {
        m_store->enqueue({quiet});
        QTRY_VERIFY_WITH_TIMEOUT(m_store->jobs().at(0).fraction.has_value() && *m_store->jobs().at(0).fraction > 0, timeout);
        const Job seen = m_store->jobs().at(0);
        if (seen.state == Job::State::running()) {
            QVERIFY(*seen.fraction < 1.0);
            QVERIFY2(seen.detail && seen.detail->endsWith(QStringLiteral("MB/s")), qPrintable(seen.detail.value_or(QString())));
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_store->jobs().at(0).state.kind, Kind::done, timeout);
    }

    void removingTheRunningJobStillStoresTheFile()
    {
        m_store->enqueue({quiet});
        QCOMPARE(m_store->jobs().at(0).state, Job::State::running());
        m_store->removeJob(m_store->jobs().at(0));
        QVERIFY(m_store->jobs().isEmpty());
        QCOMPARE(m_store->activeJobCount(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->file(quiet.id).has_value(), timeout);
        QTRY_VERIFY_WITH_TIMEOUT(!StoreTestAccess::runningJob(*m_store), timeout);
        QVERIFY(m_store->jobs().isEmpty());
        QVERIFY(temporaryFolders(m_downloads).isEmpty());
    }

    void destroyingTheStoreMidDownload()
    {
        m_store->enqueue({slow, notes});
        const std::shared_ptr<PTYTool> tool = StoreTestAccess::runningTool(*m_store);
        QTRY_COMPARE_WITH_TIMEOUT(temporaryFolders(m_downloads).size(), 1, timeout);
        m_store.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!tool->isRunning(), timeout);
        QTRY_VERIFY_WITH_TIMEOUT(temporaryFolders(m_downloads).isEmpty(), timeout);
    }

    void getOrInstallQueuesOnlyAppsWithoutFiles()
    {
        m_store->enqueue({maps});
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);
        const QString stored = m_store->file(maps.id)->url;

        // Without a ready iPhone the new download only downloads.
        m_store->getOrInstall({maps, notes});
        QCOMPARE(m_store->jobs().size(), 2);
        QCOMPARE(m_store->jobs().at(0).app, notes);
        QVERIFY(!m_store->jobs().at(0).install);
        QTRY_VERIFY_WITH_TIMEOUT(!m_store->jobs().at(0).isActive(), timeout);

        // With one, the download goes on to the installer.
        StoreTestAccess::connectDevice(*m_store, QStringLiteral("17.4.1"), QString::fromLatin1(SimWorld::sampleUDID));
        QVERIFY(m_store->readyDevice());
        m_store->getOrInstall({freeGame});
        QVERIFY(m_store->jobs().at(0).install);
        QTRY_VERIFY_WITH_TIMEOUT(m_store->file(freeGame.id).has_value(), timeout);
        const QString downloaded = m_store->file(freeGame.id)->url;
        QTRY_VERIFY_WITH_TIMEOUT(m_store->installing() == downloaded || m_store->installQueue().contains(downloaded)
                                     || m_store->installed().contains(downloaded) || m_store->installErrors().contains(downloaded),
                                 timeout);
        QVERIFY(stored != downloaded);
    }

    void licence_data()
    {
        QTest::addColumn<AppItem>("app");
        QTest::addColumn<QString>("notice");
        QTest::addColumn<bool>("granted");
        QTest::newRow("free") << freeGame << QStringLiteral("Лицензия получена: Free Game") << true;
        QTest::newRow("paid") << paid
                              << QStringLiteral("Paid Tool: Платное приложение отсюда купить нельзя. Сначала купите его в App Store на этом аккаунте.")
                              << false;
    }

    void licence()
    {
        QFETCH(AppItem, app);
        QFETCH(QString, notice);
        QFETCH(bool, granted);
        QCoro::waitFor(m_store->acquireLicense(app));
        QCOMPARE(m_store->notice(), std::optional<QString>(notice));
        QCOMPARE(SimWorld::licences(email).contains(app.id), granted);
    }

private:
    std::optional<Sandbox> m_sandbox;
    std::unique_ptr<Store> m_store;
    QString m_downloads;
    QList<QUuid> m_runOrder;
    int m_mostRunning = 0;
};

QTEST_GUILESS_MAIN(JobsTest)
#include "tst_jobs.moc"
