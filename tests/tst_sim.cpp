// What the simulated tools print that Telmora reads and no Store test reads end to end: session
// lines, the download's bar and result, failures, and a demo world that fits the catalog.

#include "ipafixture.h"
#include "sandbox.h"
#include "toolrun.h"

#include "model/errors.h"
#include "model/ipa.h"
#include "model/parsers.h"
#include "model/text.h"

#include <QCoroTask>
#include <QtTest>

using telmora::test::Sandbox;
using telmora::test::SimWorld;
using telmora::test::Terminal;
using Result = telmora::test::ToolRun;
using namespace Qt::StringLiterals;

namespace {

const QString sampleEmail = QString::fromLatin1(SimWorld::sampleEmail);
const QString sampleUDID = QString::fromLatin1(SimWorld::sampleUDID);

QString tool(const QString& name) { return QStringLiteral(TELMORA_SIM_BIN_DIR "/") + name; }

// A run with pipes and no input, as the Store runs the plain commands; `line` split at blanks.
Result run(const QString& name, const QString& line, const QString& cwd = QDir::homePath())
{
    return telmora::test::runProgram(tool(name), line.split(u' '), cwd);
}

QStringList filesIn(const QString& folder) { return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

} // namespace

class SimTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample().write();
    }
    void cleanup() { m_sandbox.reset(); }

    void sessionInfoAndRevoke()
    {
        const Result signedOut = run(u"ipatool"_s, u"auth info"_s);
        QCOMPARE(signedOut.status, 1);
        static const QRegularExpression notLoggedIn(u"^\\d{1,2}:\\d{2}[AP]M ERR error=\"Not logged in\" success=false\\n$"_s);
        QVERIFY2(notLoggedIn.match(signedOut.err()).hasMatch(), qPrintable(signedOut.err()));

        SimWorld::signIn(sampleEmail);
        const Result signedIn = run(u"ipatool"_s, u"auth info"_s);
        QVERIFY(signedIn.rawOut.contains("\x1b[36memail=\x1b[0m")); // colour even through a pipe
        QVERIFY2(signedIn.out().section(u' ', 1).startsWith(u"INF email=%1 "_s.arg(sampleEmail))
                     && signedIn.out().endsWith(u" success=true\n"_s), qPrintable(signedIn.out()));

        QCOMPARE(run(u"ipatool"_s, u"auth revoke"_s).out().section(u' ', 1), u"INF success=true\n"_s);
        for (const char* file : {".ipatool/account", ".ipatool/cookies"})
            QVERIFY(!QFile::exists(m_sandbox->filePath(QLatin1String(file))));
        QCOMPARE(run(u"ipatool"_s, u"auth info"_s).status, 1);
    }

    // Failures of the world itself, and injected ones no other test injects; each leads to the
    // message the error table has for its pattern, and leaves no package behind.
    void failures_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("args"); // %IPA%: a downloaded package, %TEXT%: a text file, %BARE%: no signature
        QTest::addColumn<QString>("command"); // injected; empty: none
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("status");
        const QString ipa = u"ipatool"_s;
        const QString installer = u"ideviceinstaller"_s;
        const QString install = u"--udid %1 install "_s.arg(sampleUDID);
        QTest::newRow("not signed in") << ipa << "list-purchases --all" << "" << "" << "Not logged in" << 1;
        QTest::newRow("removed from the store") << ipa << "purchase -i 100000005" << "" << "" << "item is temporarily unavailable" << 1;
        QTest::newRow("unknown app") << ipa << "list-versions -i 999999999 --purchase" << "" << "" << "app not found" << 1;
        QTest::newRow("phone unplugged") << installer << "--udid 00008110-FFFFFFFFFFFFFFFF install %IPA%" << "" << ""
                                         << "No device found" << 255;
        QTest::newRow("not a package") << installer << install + "%TEXT%" << "" << "" << "could not locate Payload" << 255;
        // Its missing signature wins over the verification error that follows.
        QTest::newRow("package without signature") << installer << install + "%BARE%" << "" << "" << "could not locate Payload" << 128;
        QTest::newRow("by tool name alone") << ipa << "list-purchases --all" << "ipatool" << "session expired" << "session expired" << 1;
        QTest::newRow("pairing lost") << installer << install + "%IPA%" << "ideviceinstaller"
                                      << "Could not start com.apple.afc: Invalid HostID (-21)" << "Invalid HostID" << 255;
    }

    void failures()
    {
        QFETCH(QString, tool);
        QFETCH(QString, args);
        QFETCH(QString, command);
        QFETCH(QString, error);
        QFETCH(QString, pattern);
        QFETCH(int, status);
        m_sandbox->world.addApp(u"100000005"_s, u"com.example.gone"_s, u"Gone"_s)
            .addVersion(u"100000005"_s, {.id = u"800000009"_s, .display = u"1.0"_s})
            .setRemoved(u"100000005"_s);
        if (!command.isEmpty())
            m_sandbox->world.addFailure({.command = command, .error = error});
        m_sandbox->world.write();
        if (pattern != u"Not logged in")
            SimWorld::signIn(sampleEmail);
        const QString bare = m_sandbox->filePath(u"bare.ipa"_s);
        const QVariantMap entries{{u"CFBundleIdentifier"_s, u"com.example.notes"_s}, {u"CFBundleExecutable"_s, u"Notes"_s}};
        QVERIFY(telmora::test::writeIPA(bare, u"Notes"_s, entries));
        if (args.contains(u"%IPA%"_s)) {
            const QString package = run(u"ipatool"_s, u"download -i 100000002 -o "_s + m_sandbox->path())
                                        .out().section(u"output="_s, 1).section(u' ', 0, 0);
            QVERIFY(QFile::exists(package));
            args.replace(u"%IPA%"_s, package);
        }
        const QString text = m_sandbox->filePath(u"notes.ipa"_s);
        QVERIFY(telmora::test::writeFile(text, "just text\n"));
        args.replace(u"%TEXT%"_s, text).replace(u"%BARE%"_s, bare);
        const QString folder = m_sandbox->filePath(u"work"_s);
        QVERIFY(QDir().mkpath(folder));

        const Result result = run(tool, args, folder);
        QCOMPARE(result.status, status);
        const QString output = result.out() + result.err();
        QVERIFY2(output.contains(pattern, Qt::CaseInsensitive), qPrintable(output));
        QCOMPARE(telmora::friendlyError(output), telmora::friendlyError(pattern));
        QVERIFY(telmora::friendlyError(pattern) != pattern);
        QVERIFY(filesIn(folder).filter(QRegularExpression(u"\\.ipa$"_s)).isEmpty());
        QVERIFY(SimWorld::installed(sampleUDID).isEmpty());
    }

    void download_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("purchased");
        QTest::newRow("owned") << "-i 100000001 --purchase" << "com.example.notes_100000001_2.0.ipa" << false;
        QTest::newRow("free app, licence obtained on the way") << "-i 100000004 --purchase" << "com.example.free_100000004_5.0.ipa" << true;
    }

    void download()
    {
        QFETCH(QString, args);
        QFETCH(QString, fileName);
        QFETCH(bool, purchased);
        SimWorld::signIn(sampleEmail);
        const QString folder = m_sandbox->filePath(u"job"_s);
        QVERIFY(QDir().mkpath(folder));
        Terminal terminal(tool(u"ipatool"_s), (u"download "_s + args).split(u' '), folder);
        QCOMPARE(terminal.finish(), 0);

        // Live progress: blanks between carriage returns clear the line, then the bar is drawn.
        static const QRegularExpression bar(u"\\r +\\r\\rdownloading +(\\d+)% \\|[█ ]+\\| \\([^()]+/s\\) "_s);
        QList<int> percentages;
        for (auto it = bar.globalMatch(QString::fromUtf8(terminal.transcript)); it.hasNext();) {
            const QRegularExpressionMatch frame = it.next();
            percentages.append(frame.captured(1).toInt());
            QCOMPARE(telmora::parseProgress(frame.captured(0)).fraction.value_or(-1), percentages.constLast() / 100.0);
        }
        QVERIFY2(!percentages.isEmpty() && percentages.constLast() == 100, terminal.transcript);
        QVERIFY(std::is_sorted(percentages.begin(), percentages.end()));
        const QString path = QDir(folder).filePath(fileName);
        const QString last = u"INF output=%1 purchased=%2 success=true\r\n"_s.arg(path, purchased ? u"true"_s : u"false"_s);
        QVERIFY2(terminal.clean().endsWith(last), qPrintable(terminal.clean()));
        QCOMPARE(filesIn(folder), QStringList{fileName});
        QVERIFY(QCoro::waitFor(telmora::readIPAInfo(path)));
        QCOMPARE(SimWorld::licences(sampleEmail).contains(u"100000004"_s), purchased);
    }

    void demoWorldMatchesTheCatalog()
    {
        // The demo world's apps are the shipped catalog's, their versions listed oldest first.
        QFile file(QStringLiteral(TELMORA_SOURCE_DIR "/sim/worlds/demo.json"));
        QFile catalogFile(QStringLiteral(TELMORA_SOURCE_DIR "/resources/AppsList.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly) && catalogFile.open(QIODevice::ReadOnly));
        QSet<QString> catalog;
        for (const telmora::AppItem& item : telmora::parseCatalog(QString::fromUtf8(catalogFile.readAll())))
            catalog.insert(item.id);
        for (const QJsonValue& value : QJsonDocument::fromJson(file.readAll()).object().value(u"apps").toArray()) {
            const QString id = value.toObject().value(u"id").toString();
            QVERIFY2(catalog.contains(id), qPrintable(id));
            const QJsonArray versions = value.toObject().value(u"versions").toArray();
            for (qsizetype i = 1; i < versions.size(); ++i) {
                const QJsonObject older = versions[i - 1].toObject();
                const QJsonObject newer = versions[i].toObject();
                QVERIFY(telmora::compareVersions(older.value(u"minOS").toString(), newer.value(u"minOS").toString()) <= 0);
                QVERIFY2(older.value(u"id").toString().toLongLong() < newer.value(u"id").toString().toLongLong(), qPrintable(id));
            }
        }
    }
};

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
