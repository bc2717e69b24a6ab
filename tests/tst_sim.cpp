// The simulated tools print what Telmora reads from the real ones: each output shape a parser
// or workflow reads, and each failure the other tests inject, checked through the parsers.

#include "ipafixture.h"
#include "sandbox.h"
#include "toolrun.h"

#include "model/errors.h"
#include "model/ipa.h"
#include "model/parsers.h"
#include "model/text.h"

#include <QCoroTask>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtTest>

#include <zip.h>


#include <unistd.h>

using telmora::test::Sandbox;
using telmora::test::SimWorld;

namespace {

const QString sampleEmail = QString::fromLatin1(SimWorld::sampleEmail);
const QString sampleUDID = QString::fromLatin1(SimWorld::sampleUDID);

using Result = telmora::test::ToolRun;
using telmora::test::Terminal;

QString tool(const QString& name)
{
    return QStringLiteral(TELMORA_SIM_BIN_DIR "/") + name;
}

// A tool run with pipes and no input, as the Store runs the plain commands.
Result run(const QString& name, const QStringList& args, const QString& cwd = {})
{
    return telmora::test::runProgram(tool(name), args, cwd.isEmpty() ? QDir::homePath() : cwd);
}

Result ipatool(const QString& line, const QString& cwd = {})
{
    return run(QStringLiteral("ipatool"), line.split(u' '), cwd);
}

// Prompts end without a line end (a blank at most), and nothing follows until answered.
bool endsWithPrompt(const Terminal& terminal, const QByteArray& prompt)
{
    return terminal.transcript.trimmed().endsWith(prompt);
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QString newFolder(const Sandbox& sandbox, const QString& name)
{
    QDir().mkpath(sandbox.filePath(name));
    return sandbox.filePath(name);
}

QByteArray zipMember(const QString& archivePath, const QByteArray& name)
{
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, nullptr);
    QByteArray bytes;
    zip_stat_t stat;
    zip_file_t* file = archive && zip_stat(archive, name.constData(), 0, &stat) == 0 ? zip_fopen(archive, name.constData(), 0) : nullptr;
    if (file) {
        bytes.resize(qsizetype(stat.size));
        zip_fread(file, bytes.data(), stat.size);
        zip_fclose(file);
    }
    if (archive)
        zip_discard(archive);
    return bytes;
}

// The package the Store hands to the installer: downloaded, then copied as app.ipa.
QString downloadedPackage(const Sandbox& sandbox, const QString& appID)
{
    const QString folder = newFolder(sandbox, QStringLiteral("install-") + appID);
    const Result result = ipatool(QStringLiteral("download -i %1 --purchase").arg(appID), folder);
    const QString downloaded = result.out().section(QStringLiteral("output="), 1).section(u' ', 0, 0);
    const QString package = QDir(folder).filePath(QStringLiteral("app.ipa"));
    return result.status == 0 && QFile::rename(downloaded, package) ? package : QString();
}

} // namespace

class SimTest : public QObject {
    Q_OBJECT

    std::optional<Sandbox> m_sandbox;

private Q_SLOTS:
    void init()
    {
        m_sandbox.emplace();
        m_sandbox->world.addSample();
    }
    void cleanup() { m_sandbox.reset(); }

    void sessionInfoAndRevoke()
    {
        m_sandbox->world.write();
        const Result signedOut = ipatool(QStringLiteral("auth info"));
        QCOMPARE(signedOut.status, 1);
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{1,2}:\\d{2}[AP]M ERR error=\"Not logged in\" success=false\\n$"))
                     .match(signedOut.err()).hasMatch(),
                 qPrintable(signedOut.err()));

        SimWorld::signIn(sampleEmail, QStringLiteral("Анна \"A\" Петрова"));
        const Result signedIn = ipatool(QStringLiteral("auth info"));
        QCOMPARE(signedIn.status, 0);
        QVERIFY(signedIn.rawOut.contains("\x1b[36memail=\x1b[0m")); // colour even through a pipe
        QCOMPARE(signedIn.out().section(u' ', 1),
                 QStringLiteral("INF email=%1 name=\"Анна \\\"A\\\" Петрова\" success=true\n").arg(sampleEmail));

        const Result revoked = ipatool(QStringLiteral("auth revoke"));
        QCOMPARE(revoked.out().section(u' ', 1), QStringLiteral("INF success=true\n"));
        QVERIFY(!QFile::exists(m_sandbox->filePath(QStringLiteral(".ipatool/account"))));
        QVERIFY(!QFile::exists(m_sandbox->filePath(QStringLiteral(".ipatool/cookies"))));
        QCOMPARE(ipatool(QStringLiteral("auth info")).status, 1);
    }

    void loginDialogue_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("repeatPrompt");
        QTest::addColumn<QStringList>("answers"); // e-mail, password, then a second password or the code
        QTest::addColumn<QString>("result");

        const QString signedIn = QStringLiteral("INF email=jane@example.com name=\"Jane Doe\" success=true");
        const QString wrong = QStringLiteral("ERR error=\"password was incorrect\" success=false");
        QTest::newRow("password") << QString() << false << QStringList{sampleEmail, "secret"} << signedIn;
        QTest::newRow("two-factor code") << "654321" << false << QStringList{sampleEmail, "secret", "654321"} << signedIn;
        QTest::newRow("wrong password") << QString() << false << QStringList{sampleEmail, "wrong"} << wrong;
        QTest::newRow("unknown account") << QString() << false << QStringList{"nobody@example.com", "secret"} << wrong;
        QTest::newRow("wrong password asked again") << QString() << true << QStringList{sampleEmail, "wrong", "secret"}
                                                    << signedIn;
        QTest::newRow("wrong code") << "654321" << false << QStringList{sampleEmail, "secret", "111111"}
                                    << QStringLiteral("ERR error=\"auth code is required\" success=false");
    }

    void loginDialogue()
    {
        QFETCH(QString, code);
        QFETCH(bool, repeatPrompt);
        QFETCH(QStringList, answers);
        QFETCH(QString, result);
        m_sandbox.emplace();
        m_sandbox->world.addAccount(sampleEmail, QStringLiteral("secret"), QStringLiteral("Jane Doe"), code, repeatPrompt).write();

        Terminal terminal(tool(QStringLiteral("ipatool")), {QStringLiteral("auth"), QStringLiteral("login")});
        QList<QByteArray> prompts{"Enter email:", "Enter password:"};
        if (answers.size() > 2)
            prompts.append(repeatPrompt ? "Enter password:" : "Enter 2FA code:");
        for (qsizetype i = 0; i < prompts.size(); ++i) {
            QVERIFY2(terminal.waitFor(prompts[i], int(prompts.mid(0, i + 1).count(prompts[i]))), terminal.transcript);
            QVERIFY2(endsWithPrompt(terminal, prompts[i]), terminal.transcript);
            terminal.send(answers[i].toUtf8());
        }
        const bool success = result.contains(QStringLiteral("success=true"));
        QCOMPARE(terminal.finish(), success ? 0 : 1);

        const QString transcript = terminal.clean();
        QVERIFY2(transcript.contains(result), qPrintable(transcript));
        QVERIFY(transcript.contains(answers[0])); // the address is echoed, passwords never are
        for (qsizetype i = 1; i < prompts.size(); ++i)
            QVERIFY2(prompts[i] != "Enter password:" || !transcript.contains(answers[i]), qPrintable(transcript));
        QCOMPARE(transcript.contains(QStringLiteral("WRN error=\"password was incorrect\"")), repeatPrompt);
        QCOMPARE(QFile::exists(m_sandbox->filePath(QStringLiteral(".ipatool/account"))), success);
        QCOMPARE(QFile::exists(m_sandbox->filePath(QStringLiteral(".ipatool/cookies"))), success);
        QCOMPARE(ipatool(QStringLiteral("auth info")).status, success ? 0 : 1);
    }

    void search_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QStringList>("ids");
        QTest::newRow("by name, any case") << "notes" << "25" << QStringList{"100000001"};
        QTest::newRow("by bundle id") << "com.example.maps" << "25" << QStringList{"100000002"};
        QTest::newRow("limited") << "example" << "2" << QStringList{"100000001", "100000002"};
        QTest::newRow("nothing") << "zzz" << "25" << QStringList();
    }

    void search()
    {
        QFETCH(QString, term);
        QFETCH(QString, limit);
        QFETCH(QStringList, ids);
        m_sandbox->world.write();
        SimWorld::signIn(sampleEmail);
        const QStringList args{QStringLiteral("search"), term, QStringLiteral("--limit"), limit,
                               QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--non-interactive")};
        const Result result = run(QStringLiteral("ipatool"), args);
        QCOMPARE(result.status, 0);
        QCOMPARE(result.rawOut.count('\n'), 1);
        QStringList found;
        for (const telmora::AppItem& item : telmora::parseSearch(result.out()))
            found.append(item.id);
        QCOMPARE(found, ids);
        QCOMPARE(SimWorld::calls(QStringLiteral("ipatool")).constLast(), args); // the log other tests read
    }

    void purchaseHistory_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QByteArray>("apps");
        const QByteArray notes = "{\"id\":100000001,\"kind\":\"iOS App\",\"name\":\"Notes Pro\",\"purchaseDate\":\"Mar 5, 2021\"}";
        const QByteArray maps = "{\"id\":100000002,\"kind\":\"iOS App\",\"name\":\"Maps Plus\",\"purchaseDate\":\"Feb 1, 2024\"}";
        const QByteArray mac = "{\"id\":100000009,\"kind\":\"Mac App\",\"name\":\"Desk \\\"Pro\\\" <X>\",\"purchaseDate\":\"Dec 31, 2019\"}";
        QTest::newRow("all, oldest first") << "--all" << "[" + mac + ',' + notes + ',' + maps + ']';
        QTest::newRow("since a year") << "--since-year 2021" << "[" + notes + ',' + maps + ']';
        QTest::newRow("since a later year") << "--since-year 2025" << QByteArray("[]");
    }

    void purchaseHistory()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, apps);
        m_sandbox->world.addPurchase(sampleEmail, QStringLiteral("100000009"), QStringLiteral("Desk \"Pro\" <X>"),
                                     QDate(2019, 12, 31), QStringLiteral("Mac App"))
            .write();
        SimWorld::signIn(sampleEmail);
        const Result result = ipatool(QStringLiteral("list-purchases ") + args);
        QCOMPARE(result.status, 0);
        // One line, the array with sorted keys as json.Marshal writes it (HTML characters escaped).
        const int count = int(apps.count("\"id\""));
        apps.replace("<", "\\u003c").replace(">", "\\u003e");
        QCOMPARE(result.out().section(u' ', 1).toUtf8(), "INF apps=" + apps + " count=" + QByteArray::number(count) + " success=true\n");
        QCOMPARE(telmora::parsePurchases(result.out()).value_or(QList<telmora::AppItem>()).size(), count);
    }

    void versionsAndLicences()
    {
        m_sandbox->world.write();
        SimWorld::signIn(sampleEmail);
        const Result list = ipatool(QStringLiteral("list-versions -i 100000001 --purchase"));
        QCOMPARE(list.out().section(u' ', 1),
                 QStringLiteral("INF bundleID= externalVersionIdentifiers=[\"800000001\",\"800000002\"] success=true\n"));
        QCOMPARE(telmora::parseVersionIDs(list.out()), (QStringList{QStringLiteral("800000002"), QStringLiteral("800000001")}));
        const Result meta = ipatool(QStringLiteral("get-version-metadata -i 100000001 --external-version-id 800000001"));
        QCOMPARE(meta.out().section(u' ', 1),
                 QStringLiteral("INF displayVersion=1.0 externalVersionID=800000001 minimumOSVersion=14.0 "
                                "releaseDate=2021-03-01T10:00:00Z success=true\n"));
        const telmora::VersionMeta parsed = telmora::parseVersionMeta(meta.out());
        QCOMPARE(parsed.display, std::optional<QString>(QStringLiteral("1.0")));
        QCOMPARE(parsed.minOS, std::optional<QString>(QStringLiteral("14.0")));

        // An app the account does not own needs a licence; buying it twice keeps one, dated today.
        const QString metadata = QStringLiteral("get-version-metadata -i 100000004 --external-version-id 800000005");
        QVERIFY(ipatool(metadata).err().contains(QStringLiteral("license is required")));
        for (int i = 0; i < 2; ++i)
            QCOMPARE(ipatool(QStringLiteral("purchase -i 100000004")).out().section(u' ', 1), QStringLiteral("INF success=true\n"));
        QCOMPARE(SimWorld::licences(sampleEmail), QStringList{QStringLiteral("100000004")});
        QCOMPARE(ipatool(metadata).status, 0);
        const auto items = telmora::parsePurchases(ipatool(QStringLiteral("list-purchases --all")).out());
        QVERIFY(items && items->size() == 3);
        QCOMPARE(items->first().id, QStringLiteral("100000004"));
        QCOMPARE(items->first().purchaseDate, std::optional<QString>(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));
        SimWorld::signIn(QStringLiteral("other@example.com"), QStringLiteral("Other")); // licences are per account
        QCOMPARE(ipatool(metadata).status, 1);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QString>("args"); // %IPA%: a downloaded package, %TEXT%: a text file
        QTest::addColumn<QString>("command"); // injected; none: the world itself causes it
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<int>("status");
        const QString ipa = QStringLiteral("ipatool");
        const QString installer = QStringLiteral("ideviceinstaller");
        const QString login = QStringLiteral("auth login -e jane@example.com -p secret --non-interactive");
        const QString download = QStringLiteral("download -i 100000001 --purchase");
        const QString install = QStringLiteral("--udid %1 install %IPA%").arg(sampleUDID);
        QTest::newRow("not signed in") << ipa << "list-purchases --all" << "" << "" << "Not logged in" << 1;
        QTest::newRow("paid app") << ipa << "purchase -i 100000003" << "" << "" << "purchasing paid apps is not supported" << 1;
        QTest::newRow("no licence") << ipa << "download -i 100000004" << "" << "" << "license is required" << 1;
        QTest::newRow("phone unplugged") << installer << "--udid 00008110-FFFFFFFFFFFFFFFF install %IPA%" << "" << ""
                                         << "No device found" << 255;
        QTest::newRow("not a package") << installer << QStringLiteral("--udid %1 install %TEXT%").arg(sampleUDID) << "" << ""
                                       << "could not locate Payload" << 255;
        QTest::newRow("sign-in refused") << ipa << login << "ipatool auth login" << "too many login attempts"
                                         << "too many login attempts" << 1;
        QTest::newRow("by tool name alone") << ipa << "list-purchases --all" << "ipatool" << "session expired"
                                            << "session expired" << 1;
        QTest::newRow("rate limited") << ipa << "list-purchases --all" << "ipatool list-purchases"
                                      << "rate limited by Apple (HTTP 429): Too Many Requests" << "rate limited" << 1;
        QTest::newRow("no connection") << ipa << download << "ipatool download"
                                       << "failed to send request: Could not connect to server" << "Could not connect" << 1;
        QTest::newRow("refused on the phone") << installer << install << "ideviceinstaller install"
                                              << "ERROR: Install failed. Got error \"IXErrorDomain\" with code 0x2e: Failed to "
                                                 "install (Error Domain=IXErrorDomain Code=46 \"Unable to install\")"
                                              << "IXErrorDomain Code=46" << 128;
        QTest::newRow("pairing lost") << installer << install << "ideviceinstaller"
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
        if (!command.isEmpty())
            m_sandbox->world.addFailure({.command = command, .error = error});
        m_sandbox->world.write();
        if (pattern != u"Not logged in")
            SimWorld::signIn(sampleEmail);
        QFile text(m_sandbox->filePath(QStringLiteral("notes.ipa")));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("just text\n") > 0);
        text.close();
        QStringList arguments = args.split(u' ');
        if (arguments.contains(QStringLiteral("%IPA%"))) {
            const QString package = ipatool(QStringLiteral("download -i 100000002 -o ") + m_sandbox->path())
                                        .out().section(QStringLiteral("output="), 1).section(u' ', 0, 0);
            QVERIFY(QFile::exists(package));
            arguments.replaceInStrings(QStringLiteral("%IPA%"), package);
        }
        arguments.replaceInStrings(QStringLiteral("%TEXT%"), text.fileName());
        const QString folder = newFolder(*m_sandbox, QStringLiteral("work"));

        const Result result = run(tool, arguments, folder);
        QCOMPARE(result.status, status);
        const QString output = result.out() + result.err();
        QVERIFY2(output.contains(pattern, Qt::CaseInsensitive), qPrintable(output));
        // The output leads to the user message the error table has for the pattern.
        QCOMPARE(telmora::friendlyError(output), telmora::friendlyError(pattern));
        QVERIFY(telmora::friendlyError(pattern) != pattern);
        QVERIFY(filesIn(folder).filter(QRegularExpression(QStringLiteral("\\.ipa$"))).isEmpty());
    }

    void download_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<telmora::IPAInfo>("info");
        QTest::addColumn<bool>("binary");
        QTest::addColumn<bool>("purchased");
        const QString iOS = QStringLiteral("iOS");
        QTest::newRow("current version, XML Info.plist") << "-i 100000001 --purchase" << "com.example.notes_100000001_2.0.ipa"
                                                         << telmora::IPAInfo{"Notes Pro", "2.0", "16.0", iOS} << false << false;
        QTest::newRow("binary Info.plist") << "-i 100000002 --purchase" << "com.example.maps_100000002_3.1.ipa"
                                           << telmora::IPAInfo{"Maps Plus", "3.1", "15.0", iOS} << true << false;
        QTest::newRow("older version") << "-i 100000001 --external-version-id 800000001" << "com.example.notes_100000001_1.0.ipa"
                                       << telmora::IPAInfo{"Notes Pro", "1.0", "14.0", iOS} << false << false;
        QTest::newRow("free app, licence obtained on the way") << "-i 100000004 --purchase" << "com.example.free_100000004_5.0.ipa"
                                                               << telmora::IPAInfo{"Free Game", "5.0", "15.0", iOS} << false << true;
    }

    void download()
    {
        QFETCH(QString, args);
        QFETCH(QString, fileName);
        QFETCH(telmora::IPAInfo, info);
        QFETCH(bool, binary);
        QFETCH(bool, purchased);
        m_sandbox->world.write();
        SimWorld::signIn(sampleEmail);
        const QString folder = newFolder(*m_sandbox, QStringLiteral("job"));
        Terminal terminal(tool(QStringLiteral("ipatool")), (QStringLiteral("download ") + args).split(u' '), folder);
        QCOMPARE(terminal.finish(), 0);

        // Live progress: blanks between carriage returns clear the line, then the bar is drawn.
        static const QRegularExpression bar(QStringLiteral("\\r +\\r\\rdownloading +(\\d+)% \\|[█ ]+\\| \\([^()]+/s\\) "));
        QList<int> percentages;
        for (QRegularExpressionMatchIterator it = bar.globalMatch(QString::fromUtf8(terminal.transcript)); it.hasNext();)
            percentages.append(it.next().captured(1).toInt());
        QVERIFY2(!percentages.isEmpty(), terminal.transcript);
        QVERIFY(std::is_sorted(percentages.begin(), percentages.end()));
        QCOMPARE(percentages.constLast(), 100);
        // The bar is wiped before the result line.
        QVERIFY(QRegularExpression(QStringLiteral("\\r +\\r\x1b\\[90m\\d+:\\d\\d[AP]M")).match(QString::fromUtf8(terminal.transcript)).hasMatch());
        const QString path = QDir(folder).filePath(fileName);
        QVERIFY2(terminal.clean().endsWith(QStringLiteral("INF output=%1 purchased=%2 success=true\r\n")
                                               .arg(path, purchased ? QStringLiteral("true") : QStringLiteral("false"))),
                 qPrintable(terminal.clean()));
        QCOMPARE(filesIn(folder), QStringList{fileName});
        QCOMPARE(QFileInfo(path).size(), qint64(64 * 1024));
        QCOMPARE(QCoro::waitFor(telmora::readIPAInfo(path)), std::optional(info));
        const QByteArray app = fileName.section(u'_', 0, 0).section(u'.', -1).toUtf8();
        QCOMPARE(zipMember(path, "Payload/" + app + ".app/Info.plist").startsWith("bplist00"), binary);
        QCOMPARE(SimWorld::licences(sampleEmail).contains(QStringLiteral("100000004")), purchased);
    }

    void downloadGrowsAsTemporaryFile()
    {
        m_sandbox->world.addVersion(QStringLiteral("100000001"), {.id = QStringLiteral("800000010"), .display = QStringLiteral("2.1"),
                                                                 .size = 2 * 1000 * 1000, .duration = 3})
            .setSpeed(1)
            .setTiming(QStringLiteral("command"), 0)
            .write();
        SimWorld::signIn(sampleEmail);
        const QString folder = newFolder(*m_sandbox, QStringLiteral("job"));
        const QString final = QStringLiteral("com.example.notes_100000001_2.1.ipa");
        const QString temporary = QDir(folder).filePath(final + QStringLiteral(".tmp"));

        Terminal terminal(tool(QStringLiteral("ipatool")), QStringLiteral("download -i 100000001 --purchase").split(u' '), folder);
        // While it downloads only the temporary file is there, and it grows.
        QTRY_VERIFY_WITH_TIMEOUT(filesIn(folder) == QStringList{final + QStringLiteral(".tmp")}, 20000);
        const qint64 early = QFileInfo(temporary).size();
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(temporary) || QFileInfo(temporary).size() > early, 20000);
        QCOMPARE(terminal.finish(), 0);
        QCOMPARE(filesIn(folder), QStringList{final});

        // Several updates, each a full bar line that fits the 240 columns.
        const QStringList lines = QString::fromUtf8(terminal.transcript).split(u'\r').filter(QStringLiteral("downloading"));
        QVERIFY2(lines.size() >= 4, terminal.transcript);
        for (const QString& line : lines)
            QVERIFY(line.size() < 240 && line.endsWith(QStringLiteral("/s) ")));
        const telmora::Progress middle = telmora::parseProgress(lines.value(lines.size() / 2));
        QVERIFY(middle.fraction && *middle.fraction > 0 && *middle.fraction < 1);
    }

    void downloadVariants()
    {
        m_sandbox->world
            .addFailure({.command = QStringLiteral("ipatool download"), .app = QStringLiteral("100000001"), .noProgress = true})
            .addFailure({.command = QStringLiteral("ipatool download"), .app = QStringLiteral("100000002"), .relogin = true})
            .addFailure({.command = QStringLiteral("ipatool download"), .error = QStringLiteral("Timeout was reached"),
                         .app = QStringLiteral("100000004"), .at = 50})
            .write();
        SimWorld::signIn(sampleEmail);
        const auto download = [](const char* id) { return QStringLiteral("download -i %1 --purchase").arg(QLatin1String(id)).split(u' '); };

        // No percentage at all, yet the file arrives.
        const QString quiet = newFolder(*m_sandbox, QStringLiteral("quiet"));
        Terminal silent(tool(QStringLiteral("ipatool")), download("100000001"), quiet);
        QCOMPARE(silent.finish(), 0);
        QVERIFY2(!silent.transcript.contains('%'), silent.transcript);
        QCOMPARE(filesIn(quiet), QStringList{QStringLiteral("com.example.notes_100000001_2.0.ipa")});

        // Asked to sign in again: the prompt arrives and the tool waits until it is stopped.
        const QString asking = newFolder(*m_sandbox, QStringLiteral("asking"));
        Terminal relogin(tool(QStringLiteral("ipatool")), download("100000002"), asking);
        QVERIFY2(relogin.waitFor("Enter email:") && endsWithPrompt(relogin, "Enter email:"), relogin.transcript);
        QVERIFY(relogin.running());
        relogin.terminate();
        QCOMPARE(relogin.finish(), -1);
        QCOMPARE(filesIn(asking), QStringList());

        // Broken half-way: progress first, then the error, and no finished package.
        const QString broken = newFolder(*m_sandbox, QStringLiteral("broken"));
        Terminal failing(tool(QStringLiteral("ipatool")), download("100000004"), broken);
        QCOMPARE(failing.finish(), 1);
        const QString transcript = failing.clean();
        const qsizetype progress = transcript.indexOf(QStringLiteral("downloading"));
        QVERIFY2(progress >= 0 && progress < transcript.indexOf(QStringLiteral("ERR error=\"Timeout was reached\"")), qPrintable(transcript));
        QVERIFY(!transcript.contains(QStringLiteral("downloading 100%")));
        QCOMPARE(filesIn(broken), QStringList{QStringLiteral("com.example.free_100000004_5.0.ipa.tmp")});
    }

    void devices()
    {
        const QString shy = QStringLiteral("3f2a1b4c5d6e7f8091a2b3c4d5e6f708192a3b4c");
        SimWorld& world = m_sandbox->world;
        world.addDevice(shy, QStringLiteral("iPhone Ани"), QStringLiteral("16.7.10"), false).write();
        const QStringList version{QStringLiteral("-u"), shy, QStringLiteral("-k"), QStringLiteral("ProductVersion")};
        const auto check = [](const Result& result, int status, const QByteArray& out, const QByteArray& err) {
            QCOMPARE(result.status, status);
            QCOMPARE(QString::fromUtf8(result.rawOut), QString::fromUtf8(out));
            QCOMPARE(result.rawErr, err);
        };
        const QString list = QStringLiteral("idevice_id");
        const QString info = QStringLiteral("ideviceinfo");
        check(run(list, {QStringLiteral("-l")}), 0, (sampleUDID + u'\n' + shy + u'\n').toUtf8(), {});
        check(run(list, {shy}), 0, "iPhone Ани\n", {});
        check(run(list, {QStringLiteral("00008110-FFFFFFFFFFFFFFFF")}), 254, {},
              "ERROR: No device with UDID 00008110-FFFFFFFFFFFFFFFF attached.\n");
        check(run(info, version), 255, {}, "ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)\n");
        world.setDeviceTrusted(shy, true).write();
        check(run(info, version), 0, "16.7.10\n", {});
        world.setDeviceConnected(shy, false).write();
        check(run(list, {QStringLiteral("-l")}), 0, (sampleUDID + u'\n').toUtf8(), {});
        check(run(info, version), 255, QStringLiteral("ERROR: Device %1 not found!\n").arg(shy).toUtf8(), {});
        world.setDeviceConnected(sampleUDID, false).write();
        check(run(list, {QStringLiteral("-l")}), 0, {}, {});
        world.addFailure({.command = list, .error = QStringLiteral("ERROR: Unable to retrieve device list!")}).write();
        check(run(list, {QStringLiteral("-l")}), 255, {}, "ERROR: Unable to retrieve device list!\n");
    }

    void install_data()
    {
        QTest::addColumn<QString>("refusal"); // injected for the first attempt
        QTest::newRow("installed") << QString();
        QTest::newRow("refused, then upgraded")
            << "ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code 0xe8008018: Failed to verify "
               "code signature of Notes.app";
    }

    void install()
    {
        QFETCH(QString, refusal);
        if (!refusal.isEmpty())
            m_sandbox->world.addFailure({.command = QStringLiteral("ideviceinstaller install"), .error = refusal,
                                         .app = QStringLiteral("com.example.notes")});
        m_sandbox->world.write();
        SimWorld::signIn(sampleEmail);
        const QString package = downloadedPackage(*m_sandbox, QStringLiteral("100000001"));
        QVERIFY(!package.isEmpty());
        const QStringList steps{
            QStringLiteral("CreatingStagingDirectory (5%)"), QStringLiteral("ExtractingPackage (15%)"),
            QStringLiteral("InspectingPackage (20%)"),       QStringLiteral("TakingInstallLock (20%)"),
            QStringLiteral("PreflightingApplication (30%)"), QStringLiteral("InstallingEmbeddedProfile (30%)"),
            QStringLiteral("VerifyingApplication (40%)"),    QStringLiteral("CreatingContainer (50%)"),
            QStringLiteral("InstallingApplication (60%)"),   QStringLiteral("PostflightingApplication (70%)"),
            QStringLiteral("SandboxingApplication (80%)"),   QStringLiteral("GeneratingApplicationMap (90%)")};

        const QString verb = refusal.isEmpty() ? QStringLiteral("Install") : QStringLiteral("Upgrade");
        if (!refusal.isEmpty()) {
            Terminal install(tool(QStringLiteral("ideviceinstaller")), {QStringLiteral("--udid"), sampleUDID, QStringLiteral("install"), package});
            QCOMPARE(install.finish(), 128);
            // On a terminal the error lands on the line of the last progress step.
            QVERIFY2(install.transcript.contains(("Install: VerifyingApplication (40%)" + refusal + "\r\n").toUtf8()), install.transcript);
            QVERIFY(!install.transcript.contains("Complete"));
            QVERIFY(SimWorld::installed(sampleUDID).isEmpty());
        }
        Terminal terminal(tool(QStringLiteral("ideviceinstaller")),
                          {QStringLiteral("--udid"), sampleUDID, verb == u"Install" ? QStringLiteral("install") : QStringLiteral("upgrade"), package});
        QCOMPARE(terminal.finish(), 0);
        QStringList lines = QString::fromUtf8(terminal.transcript).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.takeFirst(), QStringLiteral("Copying '%1' to device... DONE.").arg(package));
        QCOMPARE(lines.takeFirst(), (refusal.isEmpty() ? QStringLiteral("Installing 'com.example.notes'") : QStringLiteral("Upgrading 'com.example.notes'")));
        for (const QString& step : steps)
            QCOMPARE(lines.takeFirst(), QStringLiteral("\r%1: %2").arg(verb, step));
        QCOMPARE(lines, (QStringList{verb + QStringLiteral(": Complete"), QString()}));
        QCOMPARE(telmora::parseProgress(QStringLiteral("\rInstall: ") + steps[6]).fraction, std::optional<double>(0.4));
        QCOMPARE(SimWorld::installed(sampleUDID), (QMap<QString, QString>{{QStringLiteral("com.example.notes"), QStringLiteral("2.0")}}));
    }

    void installRefusals_data()
    {
        QTest::addColumn<QString>("ios");
        QTest::addColumn<bool>("signature");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("lastStep");
        QTest::newRow("system too old") << "15.8.2" << true
                                        << "\"DeviceOSVersionTooLow\" with code 0xe8008015: The system version is lower than the "
                                           "minimum OS version specified for bundle ID com.example.notes. Bundle minimum version: 17.0; "
                                           "Current system version: 15.8.2."
                                        << "InspectingPackage (20%)";
        QTest::newRow("system new enough, no signature") << "16.0" << false << "\"ApplicationVerificationFailed\""
                                                         << "VerifyingApplication (40%)";
    }

    void installRefusals()
    {
        QFETCH(QString, ios);
        QFETCH(bool, signature);
        QFETCH(QString, error);
        QFETCH(QString, lastStep);
        const QString udid = QStringLiteral("00008030-0011223344556677");
        m_sandbox->world.addDevice(udid, QStringLiteral("Old"), ios).write();
        // A package from elsewhere: no iTunesMetadata.plist, minimum iOS 17.0 or 15.0.
        QList<QPair<QString, QByteArray>> members{
            {QStringLiteral("Payload/Notes.app/Info.plist"),
             telmora::test::makeInfoPlist({{QStringLiteral("CFBundleIdentifier"), QStringLiteral("com.example.notes")},
                                           {QStringLiteral("CFBundleExecutable"), QStringLiteral("Notes")},
                                           {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")},
                                           {QStringLiteral("MinimumOSVersion"), signature ? QStringLiteral("17.0") : QStringLiteral("15.0")}})},
            {QStringLiteral("Payload/Notes.app/Notes"), QByteArray(2048, 'x')}};
        if (signature)
            members.append({QStringLiteral("Payload/Notes.app/SC_Info/Notes.sinf"), QByteArray(64, 's')});
        const QString package = m_sandbox->filePath(QStringLiteral("app.ipa"));
        QVERIFY(telmora::test::writeZip(package, members));

        Terminal terminal(tool(QStringLiteral("ideviceinstaller")), {QStringLiteral("--udid"), udid, QStringLiteral("install"), package});
        QCOMPARE(terminal.finish(), 128);
        const QString transcript = QString::fromUtf8(terminal.transcript);
        QVERIFY(transcript.startsWith(QStringLiteral("WARNING: could not locate iTunesMetadata.plist in archive!\r\n")));
        QVERIFY2(transcript.contains(QStringLiteral("\rInstall: %1ERROR: Install failed. Got error %2").arg(lastStep, error)),
                 qPrintable(transcript));
        // The table message for a package without its signature wins over the install error.
        if (!signature)
            QCOMPARE(telmora::friendlyError(transcript), telmora::friendlyError(QStringLiteral("could not locate Payload")));
        QVERIFY(SimWorld::installed(udid).isEmpty());
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

    // What the package's ipatool adapter relies on in upstream's shapes.
    void upstreamDialect_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("signedIn");
        QTest::addColumn<bool>("panic");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("absent");

        const QStringList locked{QStringLiteral("--non-interactive"), QStringLiteral("--keychain-passphrase"), QStringLiteral("K")};
        QTest::newRow("version") << QStringList{"--version"} << false << false << 0 << "ipatool version 2.8.0" << "";
        QTest::newRow("no kbsync") << QStringList{"kbsync", "--refresh"} << true << false << 1
                                   << "ERR error=\"unknown command \\\"kbsync\\\" for \\\"ipatool\\\"\" success=false" << "";
        QTest::newRow("passphrase required") << QStringList{"auth", "info", "--non-interactive"} << true << false << 1
                                             << "keychain passphrase is required when not running in interactive mode" << "";
        QTest::newRow("signed out") << QStringList{"auth", "info"} + locked << false << false << 1
                                    << "error=\"failed to get account: failed to get item: The specified item could not be found in the keyring\""
                                    << "";
        QTest::newRow("code asked for in an info line")
            << QStringList{"auth", "login", "-e", "anna@example.com", "-p", "pw-anna"} + locked << false << false << 0
            << "INF 2FA code is required; run the command again and supply a code using the `--auth-code` flag" << "success";
        QTest::newRow("second page of one") << QStringList{"list-purchases", "-l", "1", "-p", "2"} + locked << true << false << 0
                                            << "\"id\":100000001,\"name\":\"Notes Pro\",\"price\":0,\"purchaseDate\":\"2021-03-05T00:00:00Z\",\"version\":\"2.0\"}] count=1 page=2 totalCount=2"
                                            << "success";
        QTest::newRow("no minimum OS") << QStringList{"get-version-metadata", "-i", "100000001", "--external-version-id", "800000001"} + locked
                                       << true << false << 0 << "displayVersion=1.0" << "minimumOSVersion";
        QTest::newRow("keyring that cannot be opened") << QStringList{"search", "Notes"} + locked << true << true << 2
                                                       << "panic: failed to open keyring\n\ngoroutine 1 [running]:" << "ERR";
    }

    void upstreamDialect()
    {
        QFETCH(QStringList, args);
        QFETCH(bool, signedIn);
        QFETCH(bool, panic);
        QFETCH(int, status);
        QFETCH(QString, expected);
        QFETCH(QString, absent);
        SimWorld& world = m_sandbox->world;
        world.addAccount(QStringLiteral("anna@example.com"), QStringLiteral("pw-anna"), QStringLiteral("Anna"),
                                     QStringLiteral("123456"));
        if (panic)
            world.addFailure({.command = QStringLiteral("ipatool"), .error = QStringLiteral("failed to open keyring"), .panic = true});
        world.setUpstreamDialect().write();
        if (signedIn)
            SimWorld::signIn(sampleEmail);

        const Result result = run(QStringLiteral("ipatool"), args);
        const QString output = result.out() + result.err();
        QCOMPARE(result.status, status);
        QVERIFY2(output.contains(expected), qPrintable(output));
        if (!absent.isEmpty())
            QVERIFY2(!output.contains(absent), qPrintable(output));
    }
};

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
