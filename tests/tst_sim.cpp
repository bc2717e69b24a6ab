// Conformance of the simulated ipatool and device tools with what the real tools print.

#include "simworld.h"
#include "temphome.h"
#include "toolrun.h"

#include "model/errors.h"
#include "model/ipa.h"
#include "model/parsers.h"
#include "model/text.h"

#include <QCoroTask>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <zip.h>

#include <algorithm>

#include <fcntl.h>
#include <unistd.h>

using telmora::test::SimWorld;
using telmora::test::TempHome;

namespace {

const QString binDir = QStringLiteral(TELMORA_SIM_BIN_DIR);
const QString sampleEmail = QString::fromLatin1(SimWorld::sampleEmail);
const QString sampleUDID = QString::fromLatin1(SimWorld::sampleUDID);

using Result = telmora::test::ToolRun;
using telmora::test::Terminal;

QString tool(const QString& name)
{
    return binDir + u'/' + name;
}

// A tool run with pipes and no input, as the Store runs the plain commands.
Result run(const QString& name, const QStringList& args, const QString& cwd = {})
{
    return telmora::test::runProgram(tool(name), args, cwd);
}

// Prompts may end in a blank, never in a line end.
QByteArray withoutTrailingBlanks(QByteArray text)
{
    while (text.endsWith(' '))
        text.chop(1);
    return text;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray zipMember(const QString& archivePath, const QByteArray& name)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return {};
    QByteArray bytes;
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat(archive, name.constData(), 0, &stat) == 0) {
        if (zip_file_t* file = zip_fopen(archive, name.constData(), 0)) {
            bytes.resize(qsizetype(stat.size));
            if (zip_fread(file, bytes.data(), stat.size) != zip_int64_t(stat.size))
                bytes.clear();
            zip_fclose(file);
        }
    }
    zip_discard(archive);
    return bytes;
}

// A ZIP made outside the simulator, with the members given.
void writeZip(const QString& path, const QList<std::pair<QByteArray, QByteArray>>& members)
{
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    QVERIFY(archive);
    for (const auto& [name, data] : members) {
        zip_source_t* source = zip_source_buffer(archive, data.constData(), zip_uint64_t(data.size()), 0);
        QVERIFY(zip_file_add(archive, name.constData(), source, ZIP_FL_OVERWRITE) >= 0);
    }
    QCOMPARE(zip_close(archive), 0);
}

const QByteArray minimalInfoPlist =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
    "<key>CFBundleIdentifier</key><string>com.example.notes</string>"
    "<key>CFBundleExecutable</key><string>Notes</string>"
    "<key>CFBundleShortVersionString</key><string>2.0</string>"
    "<key>MinimumOSVersion</key><string>15.0</string></dict></plist>\n";

} // namespace

class SimTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void authInfo_data();
    void authInfo();
    void revokeEndsSession();
    void loginDialogue_data();
    void loginDialogue();
    void search_data();
    void search();
    void purchaseHistory_data();
    void purchaseHistory();
    void versions();
    void licences();
    void failureInjection_data();
    void failureInjection();
    void download_data();
    void download();
    void downloadGrowsAsTemporaryFile();
    void downloadVariants();
    void devices();
    void install();
    void installFallsBackToUpgrade();
    void installRefusals_data();
    void installRefusals();
    void demoWorld();
    void upstreamDialect_data();
    void upstreamDialect();
};

void SimTest::initTestCase()
{
    for (const char* tool : {"ipatool", "idevice_id", "ideviceinfo", "ideviceinstaller"})
        QVERIFY2(QFileInfo(binDir + u'/' + QLatin1String(tool)).isExecutable(), tool);
}

void SimTest::authInfo_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("printed");

    QTest::newRow("plain") << "Jane" << "name=Jane";
    QTest::newRow("blank quoted") << "Jane Doe" << "name=\"Jane Doe\"";
    QTest::newRow("non-ASCII quoted, kept readable") << "Анна Петрова" << "name=\"Анна Петрова\"";
    QTest::newRow("quotation marks escaped") << "Jo \"JJ\"" << "name=\"Jo \\\"JJ\\\"\"";
}

void SimTest::authInfo()
{
    QFETCH(QString, name);
    QFETCH(QString, printed);
    TempHome home;
    SimWorld world;
    world.addSample().write();

    const Result signedOut = run(QStringLiteral("ipatool"), {QStringLiteral("auth"), QStringLiteral("info")});
    QCOMPARE(signedOut.status, 1);
    QVERIFY(signedOut.rawOut.isEmpty());
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{1,2}:\\d{2}[AP]M ERR error=\"Not logged in\" success=false\\n$"))
                 .match(signedOut.err()).hasMatch(),
             qPrintable(signedOut.err()));

    const Result json = run(QStringLiteral("ipatool"),
                            {QStringLiteral("auth"), QStringLiteral("info"), QStringLiteral("--format"), QStringLiteral("json")});
    QCOMPARE(json.status, 1);
    QVERIFY(json.rawErr.isEmpty());
    QVERIFY2(json.rawOut.startsWith(R"({"level":"error","error":"Not logged in","success":false,"time":")"), json.rawOut);
    const QJsonObject error = QJsonDocument::fromJson(json.rawOut).object();
    QVERIFY(QDateTime::fromString(error.value(u"time").toString(), Qt::ISODate).isValid());

    SimWorld::signIn(sampleEmail, name);
    const Result signedIn = run(QStringLiteral("ipatool"), {QStringLiteral("auth"), QStringLiteral("info")});
    QCOMPARE(signedIn.status, 0);
    QVERIFY(signedIn.rawErr.isEmpty());
    // Colour on field names even through a pipe, as the real tool does.
    QVERIFY(signedIn.rawOut.contains("\x1b[36memail=\x1b[0m"));
    QCOMPARE(signedIn.out().section(u' ', 1),
             QStringLiteral("INF email=%1 %2 success=true\n").arg(sampleEmail, printed));
}

void SimTest::revokeEndsSession()
{
    TempHome home;
    SimWorld world;
    world.addSample().write();
    SimWorld::signIn(sampleEmail);

    const Result revoked = run(QStringLiteral("ipatool"), {QStringLiteral("auth"), QStringLiteral("revoke")});
    QCOMPARE(revoked.status, 0);
    QCOMPARE(revoked.out().section(u' ', 1), QStringLiteral("INF success=true\n"));
    QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".ipatool/account"))));
    QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".ipatool/cookies"))));
    QCOMPARE(run(QStringLiteral("ipatool"), {QStringLiteral("auth"), QStringLiteral("info")}).status, 1);
}

void SimTest::loginDialogue_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<bool>("repeatPrompt");
    QTest::addColumn<QStringList>("prompts");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("result");

    const QString email = QStringLiteral("Enter email:");
    const QString password = QStringLiteral("Enter password:");
    const QString code = QStringLiteral("Enter 2FA code:");
    const QString signedIn = QStringLiteral("INF email=jane@example.com name=\"Jane Doe\" success=true");

    QTest::newRow("password") << QString() << false << QStringList{email, password}
                              << QStringList{sampleEmail, QStringLiteral("secret")} << 0 << signedIn;
    QTest::newRow("two-factor code") << QStringLiteral("654321") << false << QStringList{email, password, code}
                                     << QStringList{sampleEmail, QStringLiteral("secret"), QStringLiteral("654321")}
                                     << 0 << signedIn;
    QTest::newRow("wrong password") << QString() << false << QStringList{email, password}
                                    << QStringList{sampleEmail, QStringLiteral("wrong")} << 1
                                    << QStringLiteral("ERR error=\"password was incorrect\" success=false");
    QTest::newRow("unknown account") << QString() << false << QStringList{email, password}
                                     << QStringList{QStringLiteral("nobody@example.com"), QStringLiteral("secret")} << 1
                                     << QStringLiteral("ERR error=\"password was incorrect\" success=false");
    QTest::newRow("wrong password asked again") << QString() << true << QStringList{email, password, password}
                                                << QStringList{sampleEmail, QStringLiteral("wrong"), QStringLiteral("secret")}
                                                << 0 << signedIn;
    QTest::newRow("wrong code") << QStringLiteral("654321") << false << QStringList{email, password, code}
                                << QStringList{sampleEmail, QStringLiteral("secret"), QStringLiteral("111111")} << 1
                                << QStringLiteral("ERR error=\"auth code is required\" success=false");
}

void SimTest::loginDialogue()
{
    QFETCH(QString, code);
    QFETCH(bool, repeatPrompt);
    QFETCH(QStringList, prompts);
    QFETCH(QStringList, answers);
    QFETCH(int, status);
    QFETCH(QString, result);
    TempHome home;
    SimWorld world;
    world.addAccount(sampleEmail, QStringLiteral("secret"), QStringLiteral("Jane Doe"), code, repeatPrompt).write();

    Terminal terminal(tool(QStringLiteral("ipatool")), {QStringLiteral("auth"), QStringLiteral("login")});
    QVERIFY(terminal.started());
    QHash<QString, int> seen;
    for (qsizetype i = 0; i < prompts.size(); ++i) {
        const QByteArray prompt = prompts[i].toUtf8();
        QVERIFY2(terminal.waitFor(prompt, ++seen[prompts[i]]), terminal.transcript);
        // The prompt comes without a line end, and nothing else follows it until answered.
        QVERIFY2(withoutTrailingBlanks(terminal.transcript).endsWith(prompt), terminal.transcript);
        terminal.send(answers[i].toUtf8());
    }
    QCOMPARE(terminal.finish(), status);

    const QString transcript = terminal.clean();
    QVERIFY2(transcript.contains(result), qPrintable(transcript));
    // Address and code are echoed by the terminal; passwords never are.
    QVERIFY(transcript.contains(answers[0]));
    for (qsizetype i = 0; i < prompts.size(); ++i) {
        if (prompts[i] == u"Enter password:")
            QVERIFY2(!transcript.contains(answers[i]), qPrintable(transcript));
    }
    if (repeatPrompt)
        QVERIFY(transcript.contains(QStringLiteral("WRN error=\"password was incorrect\"")));

    QCOMPARE(QFile::exists(home.filePath(QStringLiteral(".ipatool/account"))), status == 0);
    QCOMPARE(QFile::exists(home.filePath(QStringLiteral(".ipatool/cookies"))), status == 0);
    const Result info = run(QStringLiteral("ipatool"), {QStringLiteral("auth"), QStringLiteral("info")});
    QCOMPARE(info.status, status == 0 ? 0 : 1);
}

void SimTest::search_data()
{
    QTest::addColumn<QString>("term");
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QStringList>("ids");

    QTest::newRow("by name, any case") << "notes" << "25" << QStringList{QStringLiteral("100000001")};
    QTest::newRow("by bundle id") << "com.example.maps" << "25" << QStringList{QStringLiteral("100000002")};
    QTest::newRow("limited") << "example" << "2" << QStringList{QStringLiteral("100000001"), QStringLiteral("100000002")};
    QTest::newRow("removed apps are not found") << "game" << "25" << QStringList();
    QTest::newRow("nothing") << "zzz" << "25" << QStringList();
}

void SimTest::search()
{
    QFETCH(QString, term);
    QFETCH(QString, limit);
    QFETCH(QStringList, ids);
    TempHome home;
    SimWorld world;
    world.addSample().setRemoved(QStringLiteral("100000004")).write();
    SimWorld::signIn(sampleEmail);

    const QStringList args{QStringLiteral("search"), term, QStringLiteral("--limit"), limit,
                           QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--non-interactive")};
    const Result result = run(QStringLiteral("ipatool"), args);
    QCOMPARE(result.status, 0);
    QCOMPARE(result.rawOut.count('\n'), 1);

    const QList<telmora::AppItem> items = telmora::parseSearch(result.out());
    QStringList found;
    for (const telmora::AppItem& item : items)
        found.append(item.id);
    QCOMPARE(found, ids);

    // Fields in code order, not sorted: level, count, apps, time.
    QByteArray expected = "{\"level\":\"info\",\"count\":" + QByteArray::number(ids.size()) + ",\"apps\":[";
    if (term == u"notes")
        expected += R"({"id":100000001,"bundleID":"com.example.notes","name":"Notes Pro","version":"2.0","price":0})";
    QVERIFY2(result.rawOut.startsWith(expected), result.rawOut);
    QVERIFY(result.rawOut.contains("],\"time\":\""));
    QCOMPARE(SimWorld::calls(QStringLiteral("ipatool")).constLast(), args);
}

void SimTest::purchaseHistory_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("apps");

    const QByteArray notes = R"({"id":100000001,"kind":"iOS App","name":"Notes Pro","purchaseDate":"Mar 5, 2021"})";
    const QByteArray maps = R"({"id":100000002,"kind":"iOS App","name":"Maps Plus","purchaseDate":"Feb 1, 2024"})";
    const QByteArray mac = R"({"id":100000009,"kind":"Mac App","name":"Desk \"Pro\" <X>","purchaseDate":"Dec 31, 2019"})";
    QTest::newRow("all, oldest first") << QStringList{QStringLiteral("--all")} << "[" + mac + ',' + notes + ',' + maps + ']';
    QTest::newRow("since a year") << QStringList{QStringLiteral("--since-year"), QStringLiteral("2021")}
                                  << "[" + notes + ',' + maps + ']';
    QTest::newRow("since a later year") << QStringList{QStringLiteral("--since-year"), QStringLiteral("2025")}
                                        << QByteArray("[]");
}

void SimTest::purchaseHistory()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, apps);
    TempHome home;
    SimWorld world;
    world.addSample()
        .addPurchase(sampleEmail, QStringLiteral("100000009"), QStringLiteral("Desk \"Pro\" <X>"), QDate(2019, 12, 31),
                     QStringLiteral("Mac App"))
        .write();
    SimWorld::signIn(sampleEmail);

    const Result result = run(QStringLiteral("ipatool"), QStringList{QStringLiteral("list-purchases")} + args);
    QCOMPARE(result.status, 0);
    // One line, the array with sorted keys as json.Marshal writes it (HTML characters escaped).
    const int count = int(apps.count("\"id\""));
    QByteArray escaped = apps;
    escaped.replace("<", "\\u003c").replace(">", "\\u003e");
    QCOMPARE(result.out().section(u' ', 1).toUtf8(),
             "INF apps=" + escaped + " count=" + QByteArray::number(count) + " success=true\n");
    const std::optional<QList<telmora::AppItem>> parsed = telmora::parsePurchases(result.out());
    QVERIFY(parsed);
    QCOMPARE(parsed->size(), count);
}

void SimTest::versions()
{
    TempHome home;
    SimWorld world;
    world.addSample().write();
    SimWorld::signIn(sampleEmail);

    const Result list = run(QStringLiteral("ipatool"), {QStringLiteral("list-versions"), QStringLiteral("-i"),
                                                        QStringLiteral("100000001"), QStringLiteral("--purchase")});
    QCOMPARE(list.status, 0);
    QCOMPARE(list.out().section(u' ', 1),
             QStringLiteral("INF bundleID= externalVersionIdentifiers=[\"800000001\",\"800000002\"] success=true\n"));
    QCOMPARE(telmora::parseVersionIDs(list.out()), (QStringList{QStringLiteral("800000002"), QStringLiteral("800000001")}));

    const Result meta = run(QStringLiteral("ipatool"),
                            {QStringLiteral("get-version-metadata"), QStringLiteral("-i"), QStringLiteral("100000001"),
                             QStringLiteral("--external-version-id"), QStringLiteral("800000001")});
    QCOMPARE(meta.status, 0);
    QCOMPARE(meta.out().section(u' ', 1),
             QStringLiteral("INF displayVersion=1.0 externalVersionID=800000001 minimumOSVersion=14.0 "
                            "releaseDate=2021-03-01T10:00:00Z success=true\n"));
    const telmora::VersionMeta parsed = telmora::parseVersionMeta(meta.out());
    QCOMPARE(parsed.display, std::optional<QString>(QStringLiteral("1.0")));
    QCOMPARE(parsed.minOS, std::optional<QString>(QStringLiteral("14.0")));
}

void SimTest::licences()
{
    TempHome home;
    SimWorld world;
    world.addSample().write();
    SimWorld::signIn(sampleEmail);

    // The metadata of an app the account does not own needs a licence.
    const QStringList metadata{QStringLiteral("get-version-metadata"), QStringLiteral("-i"), QStringLiteral("100000004"),
                               QStringLiteral("--external-version-id"), QStringLiteral("800000005")};
    QVERIFY(run(QStringLiteral("ipatool"), metadata).err().contains(QStringLiteral("license is required")));

    const Result bought = run(QStringLiteral("ipatool"), {QStringLiteral("purchase"), QStringLiteral("-i"), QStringLiteral("100000004")});
    QCOMPARE(bought.status, 0);
    QCOMPARE(bought.out().section(u' ', 1), QStringLiteral("INF success=true\n"));
    QCOMPARE(SimWorld::licences(sampleEmail), QStringList{QStringLiteral("100000004")});
    QCOMPARE(run(QStringLiteral("ipatool"), metadata).status, 0);

    // Buying again changes nothing; the licence joins the purchase history with today's date.
    QCOMPARE(run(QStringLiteral("ipatool"), {QStringLiteral("purchase"), QStringLiteral("-i"), QStringLiteral("100000004")}).status, 0);
    QCOMPARE(SimWorld::licences(sampleEmail).size(), 1);
    const Result history = run(QStringLiteral("ipatool"), {QStringLiteral("list-purchases"), QStringLiteral("--all")});
    const std::optional<QList<telmora::AppItem>> items = telmora::parsePurchases(history.out());
    QVERIFY(items);
    QCOMPARE(items->size(), 3);
    QCOMPARE(items->first().id, QStringLiteral("100000004"));
    QCOMPARE(items->first().purchaseDate, std::optional<QString>(QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"))));

    // Another account has its own licences.
    SimWorld::signIn(QStringLiteral("other@example.com"), QStringLiteral("Other"));
    QCOMPARE(run(QStringLiteral("ipatool"), metadata).status, 1);
}

void SimTest::failureInjection_data()
{
    QTest::addColumn<QString>("tool");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("status");

    const QString ipatool = QStringLiteral("ipatool");
    const QString installer = QStringLiteral("ideviceinstaller");
    const QStringList login{QStringLiteral("auth"), QStringLiteral("login"), QStringLiteral("-e"), sampleEmail,
                            QStringLiteral("-p"), QStringLiteral("secret"), QStringLiteral("--non-interactive")};
    const QStringList purchases{QStringLiteral("list-purchases"), QStringLiteral("--all")};
    const QStringList download{QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000001"),
                               QStringLiteral("--purchase")};
    const QStringList install{QStringLiteral("--udid"), sampleUDID, QStringLiteral("install"), QStringLiteral("%IPA%")};

    // What the world itself causes.
    QTest::newRow("not signed in") << ipatool << purchases << "" << "" << "Not logged in" << 1;
    QTest::newRow("paid app") << ipatool << QStringList{QStringLiteral("purchase"), QStringLiteral("-i"), QStringLiteral("100000003")}
                              << "" << "" << "purchasing paid apps is not supported" << 1;
    QTest::newRow("no licence") << ipatool << QStringList{QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000004")}
                                << "" << "" << "license is required" << 1;
    QTest::newRow("removed from the store") << ipatool
                                            << QStringList{QStringLiteral("purchase"), QStringLiteral("-i"), QStringLiteral("100000005")}
                                            << "" << "" << "item is temporarily unavailable" << 1;
    QTest::newRow("unknown app") << ipatool
                                 << QStringList{QStringLiteral("list-versions"), QStringLiteral("-i"), QStringLiteral("999999999"),
                                                QStringLiteral("--purchase")}
                                 << "" << "" << "app not found" << 1;
    QTest::newRow("two-factor code missing") << ipatool
                                             << QStringList{QStringLiteral("auth"), QStringLiteral("login"), QStringLiteral("-e"),
                                                            QStringLiteral("tfa@example.com"), QStringLiteral("-p"),
                                                            QStringLiteral("secret"), QStringLiteral("--non-interactive")}
                                             << "" << "" << "two-factor auth code required" << 1;
    QTest::newRow("phone unplugged") << installer
                                     << QStringList{QStringLiteral("--udid"), QStringLiteral("00008110-FFFFFFFFFFFFFFFF"),
                                                    QStringLiteral("install"), QStringLiteral("%IPA%")}
                                     << "" << "" << "No device found" << 255;
    QTest::newRow("not a package") << installer
                                   << QStringList{QStringLiteral("--udid"), sampleUDID, QStringLiteral("install"), QStringLiteral("%TEXT%")}
                                   << "" << "" << "could not locate Payload" << 255;

    // What the world injects.
    const auto injected = [&](const char* name, const QString& tool, const QStringList& args, const char* command,
                              const char* error, const char* pattern, int status) {
        QTest::newRow(name) << tool << args << QString::fromLatin1(command) << QString::fromUtf8(error)
                            << QString::fromLatin1(pattern) << status;
    };
    injected("too many attempts", ipatool, login, "ipatool auth login", "too many login attempts", "too many login attempts", 1);
    injected("code required", ipatool, login, "ipatool auth login", "auth code is required", "auth code is required", 1);
    injected("refused", ipatool, login, "ipatool auth", "something went wrong", "something went wrong", 1);
    injected("disabled", ipatool, login, "ipatool auth login", "account is disabled", "account is disabled", 1);
    injected("rate limited", ipatool, purchases, "ipatool list-purchases",
             "rate limited by Apple (HTTP 429): Too Many Requests", "rate limited", 1);
    injected("session expired", ipatool, purchases, "ipatool", "session expired", "session expired", 1);
    injected("not in the iTunes Store", ipatool, download, "ipatool download",
             "this account is temporarily unable to be used in the iTunes Store", "temporarily unable to be used", 1);
    injected("no connection", ipatool, download, "ipatool download",
             "failed to send request: Could not connect to server", "Could not connect", 1);
    injected("no name resolution", ipatool, download, "ipatool download",
             "failed to send request: Couldn't resolve host name", "Couldn't resolve", 1);
    injected("time-out", ipatool, download, "ipatool download", "Timeout was reached", "Timeout was reached", 1);
    injected("signer", ipatool, download, "ipatool download", "failed to create SAP signer", "SAP signer", 1);
    injected("on the phone", installer, install, "ideviceinstaller install",
             "ERROR: Install failed. Got error \"IXErrorDomain\" with code 0x2e: Failed to install "
             "(Error Domain=IXErrorDomain Code=46 \"Unable to install\")",
             "IXErrorDomain Code=46", 128);
    injected("pairing lost", installer, install, "ideviceinstaller",
             "Could not start com.apple.afc: Invalid HostID (-21)", "Invalid HostID", 255);
}

void SimTest::failureInjection()
{
    QFETCH(QString, tool);
    QFETCH(QStringList, args);
    QFETCH(QString, command);
    QFETCH(QString, error);
    QFETCH(QString, pattern);
    QFETCH(int, status);
    TempHome home;
    SimWorld world;
    world.addSample()
        .addAccount(QStringLiteral("tfa@example.com"), QStringLiteral("secret"), QStringLiteral("Two"), QStringLiteral("123456"))
        .addApp(QStringLiteral("100000005"), QStringLiteral("com.example.gone"), QStringLiteral("Gone"))
        .addVersion(QStringLiteral("100000005"), {.id = QStringLiteral("800000009"), .display = QStringLiteral("1.0")})
        .setRemoved(QStringLiteral("100000005"));
    if (!command.isEmpty())
        world.addFailure({.command = command, .error = error});
    world.write();
    if (pattern != u"Not logged in")
        SimWorld::signIn(sampleEmail);

    const QString folder = home.filePath(QStringLiteral("work"));
    QVERIFY(QDir().mkpath(folder));
    QString package;
    if (args.contains(QStringLiteral("%IPA%"))) {
        package = run(QStringLiteral("ipatool"), {QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000002"),
                                                  QStringLiteral("-o"), home.path()})
                      .out().section(QStringLiteral("output="), 1).section(u' ', 0, 0);
        QVERIFY(QFile::exists(package));
    }
    QFile text(home.filePath(QStringLiteral("notes.ipa")));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("just text\n");
    text.close();
    args.replaceInStrings(QStringLiteral("%IPA%"), package);
    args.replaceInStrings(QStringLiteral("%TEXT%"), text.fileName());

    const Result result = run(tool, args, folder);
    QCOMPARE(result.status, status);
    const QString output = result.out() + result.err();
    QVERIFY2(output.contains(pattern, Qt::CaseInsensitive), qPrintable(output));
    // The output leads to the same user message as the pattern of the error table.
    QCOMPARE(telmora::friendlyError(output), telmora::friendlyError(pattern));
    QVERIFY(telmora::friendlyError(pattern) != pattern);
    QVERIFY(filesIn(folder).filter(QRegularExpression(QStringLiteral("\\.ipa$"))).isEmpty());
}

void SimTest::download_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("minOS");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<bool>("purchased");

    QTest::newRow("current version, XML Info.plist")
        << QStringList{QStringLiteral("-i"), QStringLiteral("100000001"), QStringLiteral("--purchase")}
        << "com.example.notes_100000001_2.0.ipa" << "Notes Pro" << "2.0" << "16.0" << false << false;
    QTest::newRow("binary Info.plist")
        << QStringList{QStringLiteral("-i"), QStringLiteral("100000002"), QStringLiteral("--purchase")}
        << "com.example.maps_100000002_3.1.ipa" << "Maps Plus" << "3.1" << "15.0" << true << false;
    QTest::newRow("older version")
        << QStringList{QStringLiteral("-i"), QStringLiteral("100000001"), QStringLiteral("--external-version-id"),
                       QStringLiteral("800000001")}
        << "com.example.notes_100000001_1.0.ipa" << "Notes Pro" << "1.0" << "14.0" << false << false;
    QTest::newRow("free app, licence obtained on the way")
        << QStringList{QStringLiteral("-i"), QStringLiteral("100000004"), QStringLiteral("--purchase")}
        << "com.example.free_100000004_5.0.ipa" << "Free Game" << "5.0" << "15.0" << false << true;
}

void SimTest::download()
{
    QFETCH(QStringList, args);
    QFETCH(QString, fileName);
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(QString, minOS);
    QFETCH(bool, binary);
    QFETCH(bool, purchased);
    TempHome home;
    SimWorld world;
    world.addSample().write();
    SimWorld::signIn(sampleEmail);
    const QString folder = home.filePath(QStringLiteral("job"));
    QVERIFY(QDir().mkpath(folder));

    Terminal terminal(tool(QStringLiteral("ipatool")), QStringList{QStringLiteral("download")} + args, folder);
    QCOMPARE(terminal.finish(), 0);

    // Live progress: blanks between carriage returns clear the line, then the bar is drawn.
    static const QRegularExpression bar(QStringLiteral("\\r +\\r\\rdownloading +(\\d+)% \\|[█ ]+\\| \\([^()]+/s\\) "));
    QRegularExpressionMatchIterator updates = bar.globalMatch(QString::fromUtf8(terminal.transcript));
    QList<int> percentages;
    while (updates.hasNext())
        percentages.append(updates.next().captured(1).toInt());
    QVERIFY2(!percentages.isEmpty(), terminal.transcript);
    QVERIFY(std::is_sorted(percentages.begin(), percentages.end()));
    QCOMPARE(percentages.constLast(), 100);

    const QString path = QDir(folder).filePath(fileName);
    // The bar is wiped before the result line.
    QVERIFY(QRegularExpression(QStringLiteral("\\r +\\r\x1b\\[90m\\d+:\\d\\d[AP]M")).match(QString::fromUtf8(terminal.transcript)).hasMatch());
    QVERIFY2(terminal.clean().endsWith(QStringLiteral("INF output=%1 purchased=%2 success=true\r\n")
                                           .arg(path, purchased ? QStringLiteral("true") : QStringLiteral("false"))),
             qPrintable(terminal.clean()));
    QCOMPARE(filesIn(folder), QStringList{fileName});
    QCOMPARE(QFileInfo(path).size(), qint64(64 * 1024));

    const std::optional<telmora::IPAInfo> info = QCoro::waitFor(telmora::readIPAInfo(path));
    QVERIFY(info);
    QCOMPARE(info->name, name);
    QCOMPARE(info->version, version);
    QCOMPARE(info->minOS, minOS);
    QCOMPARE(info->platform, QStringLiteral("iOS"));

    const QString app = fileName.section(u'_', 0, 0).section(u'.', -1);
    const QByteArray plist = zipMember(path, "Payload/" + app.toUtf8() + ".app/Info.plist");
    QCOMPARE(plist.startsWith("bplist00"), binary);
    QVERIFY(!zipMember(path, "Payload/" + app.toUtf8() + ".app/PlugIns/" + app.toUtf8() + "Widget.appex/Info.plist").isEmpty());
    QVERIFY(!zipMember(path, "iTunesMetadata.plist").isEmpty());
    QCOMPARE(SimWorld::licences(sampleEmail).contains(QStringLiteral("100000004")), purchased);
}

void SimTest::downloadGrowsAsTemporaryFile()
{
    TempHome home;
    SimWorld world;
    world.addSample()
        .addVersion(QStringLiteral("100000001"), {.id = QStringLiteral("800000010"), .display = QStringLiteral("2.1"),
                                                  .size = 2 * 1000 * 1000, .duration = 3})
        .setSpeed(1)
        .setTiming(QStringLiteral("command"), 0)
        .write();
    SimWorld::signIn(sampleEmail);
    const QString folder = home.filePath(QStringLiteral("job"));
    QVERIFY(QDir().mkpath(folder));
    const QString final = QStringLiteral("com.example.notes_100000001_2.1.ipa");

    Terminal terminal(tool(QStringLiteral("ipatool")),
                      {QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000001"), QStringLiteral("--purchase")},
                      folder);
    // While it downloads only the temporary file is there, and it grows.
    QTRY_VERIFY_WITH_TIMEOUT(filesIn(folder) == QStringList{final + QStringLiteral(".tmp")}, 20000);
    const qint64 early = QFileInfo(QDir(folder).filePath(final + QStringLiteral(".tmp"))).size();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(QDir(folder).filePath(final + QStringLiteral(".tmp")))
                                 || QFileInfo(QDir(folder).filePath(final + QStringLiteral(".tmp"))).size() > early,
                             20000);
    QCOMPARE(terminal.finish(), 0);
    QCOMPARE(filesIn(folder), QStringList{final});

    // Several updates, each a full bar line that fits the 240 columns.
    const QStringList pieces = QString::fromUtf8(terminal.transcript).split(u'\r');
    const QStringList lines = pieces.filter(QStringLiteral("downloading"));
    QVERIFY2(lines.size() >= 4, terminal.transcript);
    for (const QString& line : lines) {
        QVERIFY(line.size() < 240);
        QVERIFY(line.endsWith(QStringLiteral("/s) ")));
    }
    const telmora::Progress middle = telmora::parseProgress(lines.value(lines.size() / 2));
    QVERIFY(middle.fraction && *middle.fraction > 0 && *middle.fraction < 1);
}

void SimTest::downloadVariants()
{
    TempHome home;
    SimWorld world;
    world.addSample()
        .addFailure({.command = QStringLiteral("ipatool download"), .app = QStringLiteral("100000001"), .noProgress = true})
        .addFailure({.command = QStringLiteral("ipatool download"), .app = QStringLiteral("100000002"), .relogin = true})
        .addFailure({.command = QStringLiteral("ipatool download"), .error = QStringLiteral("Timeout was reached"),
                     .app = QStringLiteral("100000004"), .at = 50})
        .write();
    SimWorld::signIn(sampleEmail);

    // No percentage at all, yet the file arrives.
    const QString quiet = home.filePath(QStringLiteral("quiet"));
    QVERIFY(QDir().mkpath(quiet));
    Terminal silent(tool(QStringLiteral("ipatool")),
                    {QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000001"), QStringLiteral("--purchase")}, quiet);
    QCOMPARE(silent.finish(), 0);
    QVERIFY2(!silent.transcript.contains('%'), silent.transcript);
    QCOMPARE(filesIn(quiet), QStringList{QStringLiteral("com.example.notes_100000001_2.0.ipa")});

    // Asked to sign in again: the prompt arrives and the tool waits until it is stopped.
    const QString asking = home.filePath(QStringLiteral("asking"));
    QVERIFY(QDir().mkpath(asking));
    Terminal relogin(tool(QStringLiteral("ipatool")),
                     {QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000002"), QStringLiteral("--purchase")}, asking);
    QVERIFY2(relogin.waitFor("Enter email:"), relogin.transcript);
    QVERIFY(withoutTrailingBlanks(relogin.transcript).endsWith("Enter email:"));
    QVERIFY(relogin.running());
    relogin.terminate();
    QCOMPARE(relogin.finish(), -1);
    QVERIFY(filesIn(asking).filter(QRegularExpression(QStringLiteral("\\.ipa$"))).isEmpty());

    // Broken half-way: progress first, then the error, and no finished package.
    const QString broken = home.filePath(QStringLiteral("broken"));
    QVERIFY(QDir().mkpath(broken));
    Terminal failing(tool(QStringLiteral("ipatool")),
                     {QStringLiteral("download"), QStringLiteral("-i"), QStringLiteral("100000004"), QStringLiteral("--purchase")}, broken);
    QCOMPARE(failing.finish(), 1);
    const QString transcript = failing.clean();
    QVERIFY2(transcript.contains(QStringLiteral("downloading")), qPrintable(transcript));
    QVERIFY(transcript.indexOf(QStringLiteral("downloading")) < transcript.indexOf(QStringLiteral("ERR error=\"Timeout was reached\"")));
    QVERIFY(!transcript.contains(QStringLiteral("downloading 100%")));
    QCOMPARE(filesIn(broken), QStringList{QStringLiteral("com.example.free_100000004_5.0.ipa.tmp")});
}

void SimTest::devices()
{
    TempHome home;
    const QString shy = QStringLiteral("3f2a1b4c5d6e7f8091a2b3c4d5e6f708192a3b4c");
    SimWorld world;
    world.addSample().addDevice(shy, QStringLiteral("iPhone Ани"), QStringLiteral("16.7.10"), false).write();

    const Result list = run(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(list.status, 0);
    QCOMPARE(list.rawOut, (sampleUDID + u'\n' + shy + u'\n').toUtf8());

    const Result name = run(QStringLiteral("idevice_id"), {shy});
    QCOMPARE(name.status, 0);
    QCOMPARE(QString::fromUtf8(name.rawOut), QStringLiteral("iPhone Ани\n"));
    const Result stranger = run(QStringLiteral("idevice_id"), {QStringLiteral("00008110-FFFFFFFFFFFFFFFF")});
    QCOMPARE(stranger.status, 254);
    QCOMPARE(stranger.rawErr, QByteArray("ERROR: No device with UDID 00008110-FFFFFFFFFFFFFFFF attached.\n"));

    const QStringList version{QStringLiteral("-u"), shy, QStringLiteral("-k"), QStringLiteral("ProductVersion")};
    const Result untrusted = run(QStringLiteral("ideviceinfo"), version);
    QCOMPARE(untrusted.status, 255);
    QVERIFY(untrusted.rawOut.isEmpty());
    QCOMPARE(untrusted.rawErr, QByteArray("ERROR: Could not connect to lockdownd: Pairing dialog response pending (-19)\n"));

    world.setDeviceTrusted(shy, true).write();
    const Result trusted = run(QStringLiteral("ideviceinfo"), version);
    QCOMPARE(trusted.status, 0);
    QCOMPARE(trusted.rawOut, QByteArray("16.7.10\n"));

    world.setDeviceConnected(shy, false).write();
    QCOMPARE(run(QStringLiteral("idevice_id"), {QStringLiteral("-l")}).rawOut, (sampleUDID + u'\n').toUtf8());
    const Result gone = run(QStringLiteral("ideviceinfo"), version);
    QCOMPARE(gone.status, 255);
    QCOMPARE(gone.rawOut, QStringLiteral("ERROR: Device %1 not found!\n").arg(shy).toUtf8());

    world.setDeviceConnected(sampleUDID, false).write();
    const Result none = run(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(none.status, 0);
    QVERIFY(none.rawOut.isEmpty() && none.rawErr.isEmpty());

    world.addFailure({.command = QStringLiteral("idevice_id"), .error = QStringLiteral("ERROR: Unable to retrieve device list!")})
        .write();
    const Result noService = run(QStringLiteral("idevice_id"), {QStringLiteral("-l")});
    QCOMPARE(noService.status, 255);
    QCOMPARE(noService.rawErr, QByteArray("ERROR: Unable to retrieve device list!\n"));
}

namespace {

const QStringList installSteps = {
    QStringLiteral("CreatingStagingDirectory (5%)"), QStringLiteral("ExtractingPackage (15%)"),
    QStringLiteral("InspectingPackage (20%)"),       QStringLiteral("TakingInstallLock (20%)"),
    QStringLiteral("PreflightingApplication (30%)"), QStringLiteral("InstallingEmbeddedProfile (30%)"),
    QStringLiteral("VerifyingApplication (40%)"),    QStringLiteral("CreatingContainer (50%)"),
    QStringLiteral("InstallingApplication (60%)"),   QStringLiteral("PostflightingApplication (70%)"),
    QStringLiteral("SandboxingApplication (80%)"),   QStringLiteral("GeneratingApplicationMap (90%)")};

// A package as the Store hands it to the installer: downloaded, then copied as app.ipa.
QString downloadedPackage(const TempHome& home, const QString& appID)
{
    const QString folder = home.filePath(QStringLiteral("install-") + appID);
    QDir().mkpath(folder);
    const Result result = run(QStringLiteral("ipatool"),
                              {QStringLiteral("download"), QStringLiteral("-i"), appID, QStringLiteral("--purchase")}, folder);
    const QString downloaded = result.out().section(QStringLiteral("output="), 1).section(u' ', 0, 0);
    const QString package = QDir(folder).filePath(QStringLiteral("app.ipa"));
    return result.status == 0 && QFile::rename(downloaded, package) ? package : QString();
}

} // namespace

void SimTest::install()
{
    TempHome home;
    SimWorld world;
    world.addSample().write();
    SimWorld::signIn(sampleEmail);
    const QString package = downloadedPackage(home, QStringLiteral("100000001"));
    QVERIFY(!package.isEmpty());

    Terminal terminal(tool(QStringLiteral("ideviceinstaller")), {QStringLiteral("--udid"), sampleUDID, QStringLiteral("install"), package});
    QCOMPARE(terminal.finish(), 0);

    QStringList lines = QString::fromUtf8(terminal.transcript).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.takeFirst(), QStringLiteral("Copying '%1' to device... DONE.").arg(package));
    QCOMPARE(lines.takeFirst(), QStringLiteral("Installing 'com.example.notes'"));
    for (const QString& step : installSteps)
        QCOMPARE(lines.takeFirst(), QStringLiteral("\rInstall: ") + step);
    QCOMPARE(lines, (QStringList{QStringLiteral("Install: Complete"), QString()}));

    // Percentages as the Store reads them from a chunk.
    const telmora::Progress progress = telmora::parseProgress(QStringLiteral("\rInstall: ") + installSteps[6]);
    QCOMPARE(progress.fraction, std::optional<double>(0.4));

    QCOMPARE(SimWorld::installed(sampleUDID), (QMap<QString, QString>{{QStringLiteral("com.example.notes"), QStringLiteral("2.0")}}));
}

void SimTest::installFallsBackToUpgrade()
{
    TempHome home;
    SimWorld world;
    const QString refusal = QStringLiteral("ERROR: Install failed. Got error \"ApplicationVerificationFailed\" with code "
                                           "0xe8008018: Failed to verify code signature of Notes.app");
    world.addSample()
        .addFailure({.command = QStringLiteral("ideviceinstaller install"), .error = refusal,
                     .app = QStringLiteral("com.example.notes")})
        .write();
    SimWorld::signIn(sampleEmail);
    const QString package = downloadedPackage(home, QStringLiteral("100000001"));
    QVERIFY(!package.isEmpty());

    Terminal install(tool(QStringLiteral("ideviceinstaller")), {QStringLiteral("--udid"), sampleUDID, QStringLiteral("install"), package});
    QCOMPARE(install.finish(), 128);
    // On a terminal the error lands on the line of the last progress step.
    QVERIFY2(install.transcript.contains(("Install: VerifyingApplication (40%)" + refusal + "\r\n").toUtf8()), install.transcript);
    QVERIFY(!install.transcript.contains("Complete"));
    QVERIFY(SimWorld::installed(sampleUDID).isEmpty());

    Terminal upgrade(tool(QStringLiteral("ideviceinstaller")), {QStringLiteral("--udid"), sampleUDID, QStringLiteral("upgrade"), package});
    QCOMPARE(upgrade.finish(), 0);
    QVERIFY(upgrade.transcript.contains("Upgrading 'com.example.notes'\r\n"));
    QVERIFY(upgrade.transcript.contains("\rUpgrade: GeneratingApplicationMap (90%)\r\n"));
    QVERIFY(upgrade.transcript.endsWith("Upgrade: Complete\r\n"));
    QCOMPARE(SimWorld::installed(sampleUDID).value(QStringLiteral("com.example.notes")), QStringLiteral("2.0"));
}

void SimTest::installRefusals_data()
{
    QTest::addColumn<QString>("ios");
    QTest::addColumn<bool>("signature");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("lastStep");

    QTest::newRow("system too old") << "15.8.2" << true
                                    << "\"DeviceOSVersionTooLow\" with code 0xe8008015: The system version is lower than the "
                                       "minimum OS version specified for bundle ID com.example.notes. Bundle minimum version: 15.0; "
                                       "Current system version: 15.8.2."
                                    << "InspectingPackage (20%)";
    QTest::newRow("system new enough, no signature") << "16.0" << false << "\"ApplicationVerificationFailed\""
                                                     << "VerifyingApplication (40%)";
}

void SimTest::installRefusals()
{
    QFETCH(QString, ios);
    QFETCH(bool, signature);
    QFETCH(QString, error);
    QFETCH(QString, lastStep);
    TempHome home;
    SimWorld world;
    world.addSample().addDevice(QStringLiteral("00008030-0011223344556677"), QStringLiteral("Old"), ios).write();

    // A package from elsewhere: no iTunesMetadata.plist, minimum iOS 15.0 or 17.0.
    QList<std::pair<QByteArray, QByteArray>> members{
        {"Payload/Notes.app/Info.plist", signature ? QByteArray(minimalInfoPlist).replace("15.0", "17.0") : minimalInfoPlist},
        {"Payload/Notes.app/Notes", QByteArray(2048, 'x')}};
    if (signature)
        members.append({"Payload/Notes.app/SC_Info/Notes.sinf", QByteArray(64, 's')});
    const QString package = home.filePath(QStringLiteral("app.ipa"));
    writeZip(package, members);
    if (signature)
        error.replace(QStringLiteral("15.0;"), QStringLiteral("17.0;"));

    Terminal terminal(tool(QStringLiteral("ideviceinstaller")),
                      {QStringLiteral("--udid"), QStringLiteral("00008030-0011223344556677"), QStringLiteral("install"), package});
    QCOMPARE(terminal.finish(), 128);
    const QString transcript = QString::fromUtf8(terminal.transcript);
    QVERIFY(transcript.startsWith(QStringLiteral("WARNING: could not locate iTunesMetadata.plist in archive!\r\n")));
    QVERIFY2(transcript.contains(QStringLiteral("\rInstall: %1ERROR: Install failed. Got error %2").arg(lastStep, error)),
             qPrintable(transcript));
    if (!signature) {
        QVERIFY(transcript.contains(QStringLiteral("WARNING: could not locate Payload/Notes.app/SC_Info/Notes.sinf in archive!")));
        // The table message for a package without its signature wins over the install error.
        QCOMPARE(telmora::friendlyError(transcript), telmora::friendlyError(QStringLiteral("could not locate Payload")));
    }
    QVERIFY(SimWorld::installed(QStringLiteral("00008030-0011223344556677")).isEmpty());
}

void SimTest::demoWorld()
{
    QFile file(QStringLiteral(TELMORA_SOURCE_DIR "/sim/worlds/demo.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject demo = QJsonDocument::fromJson(file.readAll()).object();
    QFile catalogFile(QStringLiteral(TELMORA_SOURCE_DIR "/resources/AppsList.txt"));
    QVERIFY(catalogFile.open(QIODevice::ReadOnly));
    QSet<QString> catalog;
    for (const telmora::AppItem& item : telmora::parseCatalog(QString::fromUtf8(catalogFile.readAll())))
        catalog.insert(item.id);

    const QJsonArray apps = demo.value(u"apps").toArray();
    QVERIFY(apps.size() >= 35 && apps.size() <= 45);
    int paid = 0;
    int oldBelow15 = 0;
    int newest16Up = 0;
    for (const QJsonValue& value : apps) {
        const QJsonObject app = value.toObject();
        const QString id = app.value(u"id").toString();
        QVERIFY2(catalog.contains(id), qPrintable(id));
        paid += app.value(u"price").toDouble() > 0;
        const QJsonArray versions = app.value(u"versions").toArray();
        QVERIFY2(versions.size() >= 3, qPrintable(id));
        for (qsizetype i = 1; i < versions.size(); ++i) {
            QVERIFY(telmora::compareVersions(versions[i - 1].toObject().value(u"minOS").toString(),
                                             versions[i].toObject().value(u"minOS").toString()) <= 0);
            QVERIFY(versions[i - 1].toObject().value(u"id").toString().toLongLong()
                    < versions[i].toObject().value(u"id").toString().toLongLong());
        }
        oldBelow15 += telmora::compareVersions(versions.first().toObject().value(u"minOS").toString(), QStringLiteral("15.0")) < 0;
        newest16Up += telmora::compareVersions(versions.last().toObject().value(u"minOS").toString(), QStringLiteral("16.0")) >= 0;
    }
    QVERIFY(paid >= 2);
    QVERIFY(oldBelow15 >= 10);
    QVERIFY(newest16Up >= 10);

    const QJsonArray accounts = demo.value(u"accounts").toArray();
    QCOMPARE(accounts.size(), 2);
    QVERIFY(!accounts[0].toObject().value(u"code").toString().isEmpty() || !accounts[1].toObject().value(u"code").toString().isEmpty());
    QSet<int> years;
    for (const QJsonValue& purchase : accounts[0].toObject().value(u"purchases").toArray())
        years.insert(QDate::fromString(purchase.toObject().value(u"date").toString(), Qt::ISODate).year());
    for (int year = 2019; year <= 2026; ++year)
        QVERIFY2(years.contains(year), qPrintable(QString::number(year)));

    const QJsonArray devices = demo.value(u"devices").toArray();
    QCOMPARE(devices.size(), 2);
    QVERIFY(devices[0].toObject().value(u"trusted").toBool(true));
    QVERIFY(devices[0].toObject().value(u"ios").toString().startsWith(QStringLiteral("17.")));
    QVERIFY(!devices[1].toObject().value(u"trusted").toBool(true));

    // The tools fall back to this world when none is given.
    TempHome home;
    const QByteArray saved = qgetenv("TELMORA_SIM_WORLD");
    qunsetenv("TELMORA_SIM_WORLD");
    qputenv("TELMORA_SIM_SPEED", "1000");
    const QString email = accounts[0].toObject().value(u"email").toString();
    SimWorld::signIn(email);
    const Result found = run(QStringLiteral("ipatool"), {QStringLiteral("search"), QStringLiteral("Telegram"), QStringLiteral("--limit"),
                                                         QStringLiteral("25"), QStringLiteral("--format"), QStringLiteral("json"),
                                                         QStringLiteral("--non-interactive")});
    const Result history = run(QStringLiteral("ipatool"), {QStringLiteral("list-purchases"), QStringLiteral("--all")});
    if (!saved.isEmpty())
        qputenv("TELMORA_SIM_WORLD", saved);
    qunsetenv("TELMORA_SIM_SPEED");
    QCOMPARE(found.status, 0);
    QVERIFY(!telmora::parseSearch(found.out()).isEmpty());
    const std::optional<QList<telmora::AppItem>> items = telmora::parsePurchases(history.out());
    QVERIFY(items);
    QVERIFY(items->size() >= 20);
}

// What the package's ipatool adapter relies on in upstream's shapes (TOOLS.md, "Upstream
// ipatool on Linux").
void SimTest::upstreamDialect_data()
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

void SimTest::upstreamDialect()
{
    QFETCH(QStringList, args);
    QFETCH(bool, signedIn);
    QFETCH(bool, panic);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QFETCH(QString, absent);
    TempHome home;
    SimWorld world;
    world.addSample().addAccount(QStringLiteral("anna@example.com"), QStringLiteral("pw-anna"), QStringLiteral("Anna"),
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

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
