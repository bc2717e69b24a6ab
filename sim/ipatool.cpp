// The simulated ipatool: the command lines Telmora uses, printed in the upstream v2 style.

#include "ipa.h"
#include "output.h"
#include "tools.h"
#include "world.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QCryptographicHash>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace telmora::sim {

namespace {

using Clock = std::chrono::steady_clock;

// Options that take a value, by long name; the short spellings map onto them.
const QSet<QString> valueOptions = {
    QStringLiteral("format"), QStringLiteral("app-id"), QStringLiteral("bundle-identifier"),
    QStringLiteral("external-version-id"), QStringLiteral("limit"), QStringLiteral("since-year"),
    QStringLiteral("email"), QStringLiteral("password"), QStringLiteral("auth-code"),
    QStringLiteral("output"), QStringLiteral("keychain-passphrase"), QStringLiteral("country")};
const QSet<QString> flagOptions = {
    QStringLiteral("purchase"), QStringLiteral("all"), QStringLiteral("non-interactive"),
    QStringLiteral("verbose"), QStringLiteral("refresh"), QStringLiteral("help")};
// Upstream ipatool 2.6+: no --all, --since-year or --refresh; list-purchases pages with
// -l/--max-results and -p/--page; --version.
const QSet<QString> upstreamValueOptions = {
    QStringLiteral("format"), QStringLiteral("app-id"), QStringLiteral("bundle-identifier"),
    QStringLiteral("external-version-id"), QStringLiteral("limit"), QStringLiteral("email"),
    QStringLiteral("password"), QStringLiteral("auth-code"), QStringLiteral("output"),
    QStringLiteral("keychain-passphrase"), QStringLiteral("page")};
const QSet<QString> upstreamFlagOptions = {
    QStringLiteral("purchase"), QStringLiteral("non-interactive"), QStringLiteral("verbose"),
    QStringLiteral("help"), QStringLiteral("version")};

// Set once the world is read: the dialect decides spellings, error shapes and where the
// session lives.
bool upstreamDialect = false;
QString upstreamState; // upstream's state folder, resolved when a command starts

const QHash<QString, QString> shortOptions = {
    {QStringLiteral("i"), QStringLiteral("app-id")}, {QStringLiteral("b"), QStringLiteral("bundle-identifier")},
    {QStringLiteral("l"), QStringLiteral("limit")},  {QStringLiteral("e"), QStringLiteral("email")},
    {QStringLiteral("p"), QStringLiteral("password")}, {QStringLiteral("o"), QStringLiteral("output")},
    {QStringLiteral("h"), QStringLiteral("help")}};

struct CommandLine {
    QStringList words;
    QHash<QString, QString> values;
    QSet<QString> flags;

    [[nodiscard]] QString value(const QString& name) const { return values.value(name); }
    [[nodiscard]] bool flag(const QString& name) const { return flags.contains(name); }
};

// Cobra's own complaints come before any logging, on standard error. Upstream silences
// them and logs them as errors instead.
[[noreturn]] void usageError(const QString& message)
{
    if (upstreamDialect)
        Log().fail(message);
    writeErr(QStringLiteral("Error: %1\nRun 'ipatool --help' for usage.\n").arg(message).toUtf8());
    std::exit(1);
}

CommandLine parse(const QStringList& args)
{
    CommandLine line;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        QString name;
        QString inlineValue;
        bool hasInline = false;
        if (arg.startsWith(u"--") && arg.size() > 2) {
            name = arg.mid(2);
            const qsizetype equals = name.indexOf(u'=');
            if (equals >= 0) {
                inlineValue = name.mid(equals + 1);
                name.truncate(equals);
                hasInline = true;
            }
        } else if (upstreamDialect && arg == u"-p" && line.words.value(0) == u"list-purchases") {
            name = QStringLiteral("page");
        } else if (arg.startsWith(u'-') && arg.size() == 2 && shortOptions.contains(arg.mid(1))) {
            name = shortOptions.value(arg.mid(1));
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            usageError(QStringLiteral("unknown shorthand flag: '%1' in %2").arg(arg.mid(1, 1), arg));
        } else {
            line.words.append(arg);
            continue;
        }
        if (upstreamDialect && name == u"max-results")
            name = QStringLiteral("limit");
        const QSet<QString>& values = upstreamDialect ? upstreamValueOptions : valueOptions;
        const QSet<QString>& flags = upstreamDialect ? upstreamFlagOptions : flagOptions;
        if (values.contains(name)) {
            if (hasInline) {
                line.values.insert(name, inlineValue);
            } else if (i + 1 < args.size()) {
                line.values.insert(name, args[++i]);
            } else {
                usageError(QStringLiteral("flag needs an argument: --%1").arg(name));
            }
        } else if (flags.contains(name)) {
            line.flags.insert(name);
        } else {
            usageError(QStringLiteral("unknown flag: --%1").arg(name));
        }
    }
    return line;
}

QString sessionFolder()
{
    if (upstreamDialect && !upstreamState.isEmpty())
        return upstreamState;
    return QDir::homePath() + QStringLiteral("/.ipatool");
}

// Upstream 2.6+: $XDG_STATE_HOME/ipatool when that variable is an absolute path, else
// $XDG_DATA_HOME/ipatool, else ~/.ipatool. An existing ~/.ipatool is moved there once,
// unless the new place lies inside it or exists already (links followed); a failed move
// keeps ~/.ipatool.
QString resolveUpstreamState()
{
    const QString legacy = QDir::homePath() + QStringLiteral("/.ipatool");
    QString state = legacy;
    for (const char* variable : {"XDG_STATE_HOME", "XDG_DATA_HOME"}) {
        const QString base = qEnvironmentVariable(variable);
        if (!base.isEmpty() && QDir::isAbsolutePath(base)) {
            state = QDir::cleanPath(base + QStringLiteral("/ipatool"));
            break;
        }
    }
    const QFileInfo legacyInfo(legacy);
    if (legacyInfo.exists()) {
        if (!legacyInfo.isDir())
            Log().fail(QStringLiteral("legacy state path is not a directory: %1").arg(legacy));
        const QString relative = QDir(legacy).relativeFilePath(state);
        if (relative != u".." && !relative.startsWith(QStringLiteral("../")))
            return legacy;
        if (QFileInfo::exists(state) || QFileInfo(state).isSymLink())
            return legacy;
        QDir().mkpath(QFileInfo(state).absolutePath());
        return QDir().rename(legacy, state) ? state : legacy;
    }
    // Go's MkdirAll: an entry that is no folder, such as a link to nothing, is an error.
    const QFileInfo stateInfo(state);
    if (!stateInfo.isDir() && (stateInfo.isSymLink() || stateInfo.exists() || !QDir().mkpath(state)))
        Log().fail(QStringLiteral("failed to create state directory: mkdir %1: file exists").arg(state));
    return state;
}

QString passphraseDigest(const QString& passphrase)
{
    return QString::fromLatin1(QCryptographicHash::hash(passphrase.toUtf8(), QCryptographicHash::Sha256).toHex());
}

struct Session {
    QString email;
    QString name;
    QString keyring; // upstream dialect: digest of the passphrase that locks it; empty: any
};

// Whoever's account file is in ~/.ipatool is signed in.
std::optional<Session> currentSession()
{
    QFile file(sessionFolder() + QStringLiteral("/account"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject account = QJsonDocument::fromJson(file.readAll()).object();
    const QString email = account.value(u"email").toString();
    if (email.isEmpty())
        return std::nullopt;
    return Session{email, account.value(u"name").toString(), account.value(u"keyring").toString()};
}

QString randomHex(int bytes)
{
    QByteArray data(bytes, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(data.data()), bytes / 4);
    return QString::fromLatin1(data.toHex());
}

bool writePrivate(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(bytes);
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return file.commit();
}

// `passphrase` (upstream dialect) locks the account file: only its digest is kept, so a
// later run with another passphrase fails as upstream's encrypted file would.
bool writeSession(const Account& account, const QString& passphrase = {})
{
    QDir().mkpath(sessionFolder());
    const QString dsid = QString::number(QRandomGenerator::global()->bounded(100000000, 2000000000));
    QJsonObject file{{QStringLiteral("email"), account.email},
                     {QStringLiteral("name"), account.name},
                     {QStringLiteral("directoryServicesIdentifier"), dsid},
                     {QStringLiteral("passwordToken"), randomHex(32)},
                     {QStringLiteral("storeFront"), QStringLiteral("143469-16,29")}};
    if (!passphrase.isEmpty())
        file.insert(QStringLiteral("keyring"), passphraseDigest(passphrase));
    const QByteArray cookies = "# Netscape HTTP Cookie File\n"
        ".apple.com\tTRUE\t/\tTRUE\t" + QByteArray::number(QDateTime::currentSecsSinceEpoch() + 180 * 86400)
        + "\tmz_at0-" + dsid.toLatin1() + '\t' + randomHex(24).toLatin1() + '\n';
    return writePrivate(sessionFolder() + QStringLiteral("/account"), QJsonDocument(file).toJson())
        && writePrivate(sessionFolder() + QStringLiteral("/cookies"), cookies);
}

QString englishDate(const QDate& date)
{
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!date.isValid())
        return {};
    return QStringLiteral("%1 %2, %3").arg(QLatin1String(months[date.month() - 1])).arg(date.day()).arg(date.year());
}

// The schollz/progressbar line ipatool draws while downloading.
class ProgressBar {
public:
    explicit ProgressBar(qint64 max) : m_max(std::max<qint64>(1, max)), m_start(Clock::now()) {}

    void render(qint64 current)
    {
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_start).count();
        const double rate = elapsed > 0 ? double(current) / elapsed : 0;
        const int percent = static_cast<int>(double(current) / double(m_max) * 100);

        const auto [now, nowUnit] = humanBytes(double(current));
        const auto [max, maxUnit] = humanBytes(double(m_max));
        const auto [perSecond, rateUnit] = humanBytes(rate);
        const QString bytes = nowUnit == maxUnit ? now + u'/' + max + maxUnit : now + nowUnit + u'/' + max + maxUnit;
        const QString tail = QStringLiteral(" (%1, %2%3/s) ").arg(bytes, perSecond, rateUnit);
        const QString head = QStringLiteral("downloading%1% ").arg(percent, 4);

        const int columns = terminalWidth() > 0 ? terminalWidth() : 80;
        const int width = std::max(10, columns - int(head.size()) - int(tail.size()) - 3);
        const int filled = std::clamp(static_cast<int>(double(width) * double(current) / double(m_max)), 0, width);
        const QString line = head + u'|' + QString(filled, QChar(0x2588)) + QString(width - filled, u' ') + u'|' + tail;

        writeOut(clear() + '\r' + line.toUtf8());
        m_lineWidth = std::max(m_lineWidth, int(line.size()));
        m_lastRender = Clock::now();
        m_rendered = current;
    }

    void finish() { writeOut(clear()); }

    [[nodiscard]] Clock::time_point lastRender() const { return m_lastRender; }
    [[nodiscard]] qint64 rendered() const { return m_rendered; }

private:
    [[nodiscard]] QByteArray clear() const { return '\r' + QByteArray(m_lineWidth, ' ') + '\r'; }

    qint64 m_max;
    Clock::time_point m_start;
    Clock::time_point m_lastRender;
    qint64 m_rendered = -1;
    int m_lineWidth = 0;
};

class Ipatool {
public:
    Ipatool(const World& world, CommandLine line) : m_world(world), m_line(std::move(line))
    {
        m_log.json = m_line.value(QStringLiteral("format")) == u"json";
        m_interactive = !m_line.flag(QStringLiteral("non-interactive"));
        m_upstream = upstreamDialect;
    }

    int run()
    {
        const QStringList& words = m_line.words;
        if (m_upstream && m_line.flag(QStringLiteral("version"))) {
            writeOut("ipatool version " + m_world.version.toUtf8() + '\n');
            return 0;
        }
        if (words.isEmpty() || m_line.flag(QStringLiteral("help"))) {
            writeOut("A cli tool for interacting with Apple's ipa files\n\n"
                     "Usage:\n  ipatool [command]\n\n"
                     "Available Commands:\n  auth, download, get-version-metadata, kbsync, list-purchases,\n"
                     "  list-versions, purchase, search\n");
            return 0;
        }
        const QString& command = words.first();
        if (m_upstream) {
            panicIfInjected();
            upstreamState = resolveUpstreamState();
            if (command != u"download" && m_line.flag(QStringLiteral("purchase")))
                usageError(QStringLiteral("unknown flag: --purchase"));
        }
        if (command == u"auth") {
            const QString sub = words.value(1);
            if (sub == u"login")
                return m_upstream ? upstreamLogin() : login();
            if (sub == u"info")
                return info();
            if (sub == u"revoke")
                return revoke();
            usageError(QStringLiteral("unknown command \"%1\" for \"ipatool auth\"").arg(sub));
        }
        if (command == u"search")
            return search();
        if (command == u"list-purchases")
            return m_upstream ? purchasePages() : listPurchases();
        if (command == u"list-versions")
            return listVersions();
        if (command == u"get-version-metadata")
            return versionMetadata();
        if (command == u"download")
            return download();
        if (command == u"purchase")
            return purchase();
        if (command == u"kbsync")
            return kbsync();
        usageError(QStringLiteral("unknown command \"%1\" for \"ipatool\"").arg(command));
    }

private:
    [[nodiscard]] QStringList invocation() const
    {
        QStringList words{QStringLiteral("ipatool"), m_line.words.first()};
        if (m_line.words.first() == u"auth" && m_line.words.size() > 1)
            words.append(m_line.words[1]);
        return words;
    }

    // The delay of a store request, then what the world injects into it: an error that
    // strikes at once ends the run here; one with a percentage waits for the download.
    void start(const Subject& subject, double delay)
    {
        pause(delay);
        for (const Failure* failure : m_world.failures(invocation(), subject)) {
            m_relogin = m_relogin || failure->relogin;
            m_noProgress = m_noProgress || failure->noProgress;
            if (!m_failure && !failure->error.isEmpty())
                m_failure = failure;
        }
        if (m_failure && m_failure->at.value_or(0) <= 0)
            m_log.fail(m_failure->error, m_failure->status.value_or(1));
    }

    Session requireSession()
    {
        const std::optional<Session> session = currentSession();
        if (!m_upstream) {
            if (!session)
                m_log.fail(QStringLiteral("Not logged in"));
            return *session;
        }
        const QString prefix = QStringLiteral("failed to get account: failed to get item: ");
        if (!session)
            m_log.fail(prefix + QStringLiteral("The specified item could not be found in the keyring"));
        const QString passphrase = unlockKeyring();
        if (!session->keyring.isEmpty() && session->keyring != passphraseDigest(passphrase))
            m_log.fail(prefix + QStringLiteral("aes.KeyUnwrap(): integrity check failed."));
        return *session;
    }

    // Upstream's file keyring needs its passphrase: from --keychain-passphrase, asked on the
    // terminal when interactive, an error otherwise.
    QString unlockKeyring()
    {
        QString passphrase = m_line.value(QStringLiteral("keychain-passphrase"));
        if (!passphrase.isEmpty())
            return passphrase;
        if (!m_interactive)
            m_log.fail(QStringLiteral("keychain passphrase is required when not running in interactive mode; "
                                      "use the \"--keychain-passphrase\" flag"));
        const QByteArray text = "enter passphrase to unlock \"" + sessionFolder().toUtf8()
            + "\" (this is separate from your Apple ID password): ";
        ask(text, false, &passphrase, "password");
        return passphrase;
    }

    // A Go panic, as upstream dies when its keyring or cookie jar cannot be opened.
    void panicIfInjected() const
    {
        for (const Failure* failure : m_world.failures(invocation(), Subject())) {
            if (!failure->panic)
                continue;
            writeErr("panic: " + failure->error.toUtf8() + "\n\ngoroutine 1 [running]:\n"
                     "github.com/majd/ipatool/v2/pkg/util.Must[...](...)\n"
                     "\tgithub.com/majd/ipatool/v2/pkg/util/must.go:10\n"
                     "github.com/majd/ipatool/v2/cmd.initWithCommand(0xc0001f6300)\n"
                     "\tgithub.com/majd/ipatool/v2/cmd/common.go:121 +0x2a5\n");
            std::exit(2);
        }
    }

    const App* requireApp()
    {
        QString key = m_line.value(QStringLiteral("app-id"));
        if (key.isEmpty())
            key = m_line.value(QStringLiteral("bundle-identifier"));
        if (key.isEmpty())
            usageError(QStringLiteral("either the app ID or the bundle identifier must be specified"));
        return m_world.app(key);
    }

    Subject subjectFor(const App* app, const QString& version = {}) const
    {
        Subject subject;
        subject.app = app ? app->id : m_line.value(QStringLiteral("app-id"));
        subject.bundleID = app ? app->bundleID : m_line.value(QStringLiteral("bundle-identifier"));
        subject.version = version;
        if (const std::optional<Session> session = currentSession())
            subject.account = session->email;
        return subject;
    }

    [[nodiscard]] bool owns(const QString& email, const QString& appID) const
    {
        if (const Account* account = m_world.account(email)) {
            for (const Purchase& purchase : account->purchases) {
                if (purchase.id == appID && purchase.kind == u"iOS App")
                    return true;
            }
        }
        return state::hasLicence(email, appID);
    }

    // Licence check shared by the commands that reach the download service; true when
    // a free app's licence was obtained on the way.
    bool ensureLicence(const Session& session, const App& app, bool mayPurchase)
    {
        if (owns(session.email, app.id))
            return false;
        if (app.removed)
            m_log.fail(QStringLiteral("item is temporarily unavailable"));
        if (!mayPurchase)
            m_log.fail(QStringLiteral("license is required"));
        if (app.price > 0)
            m_log.fail(QStringLiteral("purchasing paid apps is not supported"));
        state::addLicence(session.email, app.id, app.name);
        return true;
    }

    // A prompt on the terminal; a run that may not ask, or gets no answer, fails.
    void ask(const QByteArray& text, bool echo, QString* answer, const char* what)
    {
        if (!m_interactive)
            m_log.fail(QStringLiteral("%1 is required").arg(QLatin1String(what)));
        pause(m_world.timings.prompt);
        QByteArray bytes;
        if (!prompt(text, echo, &bytes, m_upstream))
            m_log.fail(QStringLiteral("failed to read %1: EOF").arg(QLatin1String(what)));
        *answer = QString::fromUtf8(bytes).trimmed();
    }

    int login()
    {
        QString email = m_line.value(QStringLiteral("email"));
        QString password = m_line.value(QStringLiteral("password"));
        QString code = m_line.value(QStringLiteral("auth-code"));
        if (email.isEmpty())
            ask("Enter email: ", true, &email, "email");
        const Account* account = m_world.account(email);

        const bool passwordGiven = !password.isEmpty();
        for (int attempt = 1;; ++attempt) {
            if (password.isEmpty())
                ask("Enter password: ", false, &password, "password");
            pause(m_world.timings.login);
            if (account && password == account->password)
                break;
            if (account && account->repeatPrompt && !passwordGiven && m_interactive && attempt < 3) {
                m_log.warn({{QStringLiteral("error"), Value::string(QStringLiteral("password was incorrect"))}});
                password.clear();
                continue;
            }
            m_log.fail(QStringLiteral("password was incorrect"));
        }

        Subject subject;
        subject.account = account->email;
        if (const Failure* failure = m_world.error(invocation(), subject))
            m_log.fail(failure->error, failure->status.value_or(1));

        if (!account->code.isEmpty()) {
            if (code.isEmpty()) {
                if (!m_interactive)
                    m_log.fail(QStringLiteral("two-factor auth code required"));
                ask("Enter 2FA code: ", true, &code, "2FA code");
            }
            if (code.isEmpty())
                m_log.fail(QStringLiteral("two-factor auth code required"));
            pause(m_world.timings.login);
            if (code != account->code)
                m_log.fail(QStringLiteral("auth code is required"));
        }

        if (!writeSession(*account))
            m_log.fail(QStringLiteral("failed to save account: cannot write %1").arg(sessionFolder()));
        m_log.info({{QStringLiteral("email"), Value::string(account->email)},
                    {QStringLiteral("name"), Value::string(account->name)},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    // Upstream 2.6+: -e, -p and --auth-code, or lower-case prompts on standard error when
    // interactive. Apple answers a wrong password and a missing code alike for an account
    // with two-factor authentication; non-interactive, that is an info line and status 0.
    int upstreamLogin()
    {
        QString email = m_line.value(QStringLiteral("email"));
        QString password = m_line.value(QStringLiteral("password"));
        QString code = m_line.value(QStringLiteral("auth-code"));
        if (email.isEmpty()) {
            if (!m_interactive)
                usageError(QStringLiteral("required flag(s) \"email\" not set"));
            ask("enter email: ", true, &email, "email");
        }
        if (password.isEmpty()) {
            if (!m_interactive)
                m_log.fail(QStringLiteral("password is required when not running in interactive mode; use the \"--password\" flag"));
            ask("enter password: ", false, &password, "password");
        }
        m_log.note(QStringLiteral("preparing authentication; the first login may take a few minutes"));
        const Account* account = m_world.account(email);
        const bool twoFactor = account && !account->code.isEmpty();
        pause(m_world.timings.login);

        if (twoFactor && code.isEmpty()) {
            if (!m_interactive) {
                m_log.note(QStringLiteral("2FA code is required; run the command again and supply a code using the `--auth-code` flag"));
                return 0;
            }
            ask("enter 2FA code: ", true, &code, "2FA code");
            pause(m_world.timings.login);
        }
        if (!account || password != account->password)
            m_log.fail(twoFactor ? QStringLiteral("something went wrong")
                                 : QStringLiteral("Check the account information you entered and try again."));
        if (twoFactor && code != account->code)
            m_log.fail(QStringLiteral("something went wrong"));

        Subject subject;
        subject.account = account->email;
        if (const Failure* failure = m_world.error(invocation(), subject))
            m_log.fail(failure->error, failure->status.value_or(1));
        const QString passphrase = unlockKeyring();
        if (!writeSession(*account, passphrase))
            m_log.fail(QStringLiteral("failed to save account in keychain: cannot write %1").arg(sessionFolder()));
        m_log.info({{QStringLiteral("email"), Value::string(account->email)},
                    {QStringLiteral("name"), Value::string(account->name)},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int info()
    {
        start(subjectFor(nullptr), m_world.timings.command / 2);
        const Session session = requireSession();
        m_log.info({{QStringLiteral("email"), Value::string(session.email)},
                    {QStringLiteral("name"), Value::string(session.name)},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int revoke()
    {
        start(subjectFor(nullptr), 0);
        QFile::remove(sessionFolder() + QStringLiteral("/account"));
        QFile::remove(sessionFolder() + QStringLiteral("/cookies"));
        m_log.info({{QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int kbsync()
    {
        start(subjectFor(nullptr), m_world.timings.command);
        requireSession();
        m_log.info({{QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int search()
    {
        if (m_line.words.size() != 2)
            usageError(QStringLiteral("accepts 1 arg(s), received %1").arg(m_line.words.size() - 1));
        const QString term = m_line.words[1];
        bool ok = true;
        const QString limitText = m_line.value(QStringLiteral("limit"));
        const int limit = limitText.isEmpty() ? 5 : limitText.toInt(&ok);
        if (!ok)
            usageError(QStringLiteral("invalid argument \"%1\" for \"-l, --limit\" flag").arg(limitText));

        start(subjectFor(nullptr), m_world.timings.command);
        requireSession();

        Value apps = Value::array();
        for (const App& app : m_world.apps) {
            if (apps.items.size() >= limit)
                break;
            if (app.removed)
                continue;
            if (!app.name.contains(term, Qt::CaseInsensitive) && !app.bundleID.contains(term, Qt::CaseInsensitive)
                && app.id != term)
                continue;
            Value item = Value::object();
            item.add(QStringLiteral("id"), Value::number(app.id.toLongLong()));
            item.add(QStringLiteral("bundleID"), Value::string(app.bundleID));
            item.add(QStringLiteral("name"), Value::string(app.name));
            item.add(QStringLiteral("version"), Value::string(app.latest() ? app.latest()->display : QString()));
            item.add(QStringLiteral("price"), Value::number(app.price));
            apps.items.append(item);
        }
        const qint64 count = apps.items.size();
        m_log.info({{QStringLiteral("count"), Value::number(count)}, {QStringLiteral("apps"), apps}});
        return 0;
    }

    // The account's purchases plus the licences obtained here, oldest first.
    QList<Purchase> history(const Session& session) const
    {
        QList<Purchase> purchases;
        if (const Account* account = m_world.account(session.email))
            purchases = account->purchases;
        for (const Purchase& licence : state::licences(session.email)) {
            if (std::none_of(purchases.begin(), purchases.end(), [&](const Purchase& p) { return p.id == licence.id; }))
                purchases.append(licence);
        }
        std::stable_sort(purchases.begin(), purchases.end(),
                         [](const Purchase& a, const Purchase& b) { return a.date < b.date; });
        return purchases;
    }

    [[nodiscard]] QString purchaseName(const Purchase& purchase) const
    {
        if (!purchase.name.isEmpty())
            return purchase.name;
        const App* app = m_world.app(purchase.id);
        return app ? app->name : purchase.id;
    }

    int listPurchases()
    {
        int sinceYear = 0;
        if (m_line.values.contains(QStringLiteral("since-year"))) {
            bool ok = false;
            sinceYear = m_line.value(QStringLiteral("since-year")).toInt(&ok);
            if (!ok)
                usageError(QStringLiteral("invalid argument \"%1\" for \"--since-year\" flag")
                               .arg(m_line.value(QStringLiteral("since-year"))));
        }
        start(subjectFor(nullptr), m_world.timings.command * 2);
        const Session session = requireSession();

        Value apps = Value::array();
        for (const Purchase& purchase : history(session)) {
            if (sinceYear > 0 && purchase.date.year() < sinceYear)
                continue;
            Value item = Value::object();
            item.add(QStringLiteral("id"), Value::number(purchase.id.toLongLong()));
            item.add(QStringLiteral("kind"), Value::string(purchase.kind));
            item.add(QStringLiteral("name"), Value::string(purchaseName(purchase)));
            item.add(QStringLiteral("purchaseDate"), Value::string(englishDate(purchase.date)));
            apps.items.append(item);
        }
        const qint64 count = apps.items.size();
        m_log.info({{QStringLiteral("apps"), apps},
                    {QStringLiteral("count"), Value::number(count)},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    // Upstream's list-purchases: one page (-l per page, 1 to 100, default 10; -p from 1) of
    // the history, newest first, with no success field. Only iOS apps are listed.
    int purchasePages()
    {
        bool ok = true;
        const QString limitText = m_line.value(QStringLiteral("limit"));
        const int limit = limitText.isEmpty() ? 10 : limitText.toInt(&ok);
        const QString pageText = m_line.value(QStringLiteral("page"));
        const int page = ok ? (pageText.isEmpty() ? 1 : pageText.toInt(&ok)) : 0;
        if (!ok || page < 1)
            m_log.fail(QStringLiteral("page must be greater than 0"));
        if (limit < 1 || limit > 100)
            m_log.fail(limit < 1 ? QStringLiteral("max results must be greater than 0")
                                 : QStringLiteral("max results must not exceed 100"));
        start(subjectFor(nullptr), m_world.timings.command * 2);
        const Session session = requireSession();

        QList<Purchase> newestFirst;
        for (const Purchase& purchase : history(session)) {
            if (purchase.kind == u"iOS App")
                newestFirst.prepend(purchase);
        }
        Value apps = Value::array();
        for (qsizetype i = qsizetype(page - 1) * limit; i < newestFirst.size() && apps.items.size() < limit; ++i) {
            const Purchase& purchase = newestFirst[i];
            const App* app = m_world.app(purchase.id);
            Value item = Value::object();
            item.add(QStringLiteral("id"), Value::number(purchase.id.toLongLong()));
            item.add(QStringLiteral("bundleID"), Value::string(app ? app->bundleID : QString()));
            item.add(QStringLiteral("name"), Value::string(purchaseName(purchase)));
            item.add(QStringLiteral("version"), Value::string(app && app->latest() ? app->latest()->display : QString()));
            item.add(QStringLiteral("price"), Value::number(app ? app->price : 0.0));
            item.add(QStringLiteral("purchaseDate"),
                     Value::string(purchase.date.startOfDay(Qt::UTC).toString(Qt::ISODate)));
            apps.items.append(item);
        }
        const qint64 count = apps.items.size();
        m_log.info({{QStringLiteral("count"), Value::number(count)},
                    {QStringLiteral("totalCount"), Value::number(qint64(newestFirst.size()))},
                    {QStringLiteral("page"), Value::number(qint64(page))},
                    {QStringLiteral("apps"), apps}});
        return 0;
    }

    int listVersions()
    {
        const App* app = requireApp();
        start(subjectFor(app), m_world.timings.command * 2);
        const Session session = requireSession();
        if (!app)
            m_log.fail(QStringLiteral("app not found"));
        ensureLicence(session, *app, !m_upstream && m_line.flag(QStringLiteral("purchase")));

        Value ids = Value::array();
        for (const Version& version : app->versions)
            ids.items.append(Value::string(version.id));
        m_log.info({{QStringLiteral("bundleID"), Value::string(m_line.value(QStringLiteral("bundle-identifier")))},
                    {QStringLiteral("externalVersionIdentifiers"), ids},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int versionMetadata()
    {
        const App* app = requireApp();
        const QString versionID = m_line.value(QStringLiteral("external-version-id"));
        if (versionID.isEmpty())
            usageError(QStringLiteral("required flag(s) \"external-version-id\" not set"));
        start(subjectFor(app, versionID), m_world.timings.command);
        const Session session = requireSession();
        if (!app)
            m_log.fail(QStringLiteral("app not found"));
        ensureLicence(session, *app, false);
        const Version* version = app->version(versionID);
        if (!version)
            m_log.fail(QStringLiteral("failed to get version metadata: no version %1").arg(versionID));
        Fields fields{{QStringLiteral("displayVersion"), Value::string(version->display)},
                      {QStringLiteral("externalVersionID"), Value::string(version->id)},
                      {QStringLiteral("minimumOSVersion"), Value::string(version->minOS)},
                      {QStringLiteral("releaseDate"), Value::string(version->released)},
                      {QStringLiteral("success"), Value::flag(true)}};
        if (m_upstream)
            fields.removeAt(2); // upstream reads no minimum OS version
        m_log.info(fields);
        return 0;
    }

    int purchase()
    {
        const App* app = requireApp();
        start(subjectFor(app), m_world.timings.command * 2);
        const Session session = requireSession();
        if (!app)
            m_log.fail(QStringLiteral("app not found"));
        const bool alreadyOwned = owns(session.email, app->id);
        if (!alreadyOwned) {
            if (app->removed)
                m_log.fail(QStringLiteral("item is temporarily unavailable"));
            if (app->price > 0)
                m_log.fail(QStringLiteral("purchasing paid apps is not supported"));
            state::addLicence(session.email, app->id, app->name);
        }
        if (m_upstream)
            m_log.info({{QStringLiteral("alreadyOwned"), Value::flag(alreadyOwned)}, {QStringLiteral("success"), Value::flag(true)}});
        else
            m_log.info({{QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    int download()
    {
        const App* app = requireApp();
        const QString versionID = m_line.value(QStringLiteral("external-version-id"));
        start(subjectFor(app, versionID), m_world.timings.command);
        const Session session = requireSession();
        if (!app)
            m_log.fail(QStringLiteral("app not found"));

        if (m_relogin) {
            // The stored sign-in is no longer accepted: the tool asks for it again.
            QString answer;
            ask("Enter email: ", true, &answer, "email");
            m_log.fail(QStringLiteral("session expired"));
        }

        const Version* version = versionID.isEmpty() ? app->latest() : app->version(versionID);
        if (!version)
            m_log.fail(versionID.isEmpty() ? QStringLiteral("item is temporarily unavailable")
                                           : QStringLiteral("failed to get download info: no version %1").arg(versionID));
        const bool purchased = ensureLicence(session, *app, m_line.flag(QStringLiteral("purchase")));

        const QString fileName = QStringLiteral("%1_%2_%3.ipa").arg(app->bundleID, app->id, version->display);
        QString output = m_line.value(QStringLiteral("output"));
        if (output.isEmpty())
            output = QDir::current().absoluteFilePath(fileName);
        else if (QFileInfo(output).isDir())
            output = QDir(output).absoluteFilePath(fileName);
        else
            output = QFileInfo(output).absoluteFilePath();
        const QString temporary = output + QStringLiteral(".tmp");

        const int fd = ::open(QFile::encodeName(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0)
            m_log.fail(QStringLiteral("failed to open file: %1: %2").arg(temporary, QString::fromLocal8Bit(strerror(errno))));

        const ZipStream package = buildPackage(*app, *version, session.email);
        const qint64 total = package.totalSize();
        const double seconds = (version->duration >= 0 ? version->duration : m_world.timings.download) / speed();
        const auto throttle = std::chrono::duration<double>(0.065 / speed());
        // Upstream draws the bar whenever it runs interactively, whatever the format.
        const bool showProgress = (m_upstream ? m_interactive : !m_log.json) && !m_noProgress;
        const int breakAt = m_failure ? m_failure->at.value_or(0) : 0;

        ProgressBar bar(total);
        if (showProgress)
            bar.render(0);
        const Clock::time_point begin = Clock::now();
        bool broken = false;
        const qint64 chunk = std::clamp<qint64>(total / 100, 4096, 1024 * 1024);
        const bool written = package.write(fd, chunk, [&](qint64 done) {
            std::this_thread::sleep_until(
                begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds * double(done) / double(total))));
            if (showProgress && (Clock::now() - bar.lastRender() >= throttle || done == total))
                bar.render(done);
            if (breakAt > 0 && done * 100 >= qint64(breakAt) * total && done < total) {
                broken = true;
                return false;
            }
            return true;
        });
        ::close(fd);
        if (broken)
            m_log.fail(m_failure->error, m_failure->status.value_or(1));
        if (!written)
            m_log.fail(QStringLiteral("failed to write file: %1").arg(temporary));
        if (showProgress) {
            if (bar.rendered() != total)
                bar.render(total);
            bar.finish();
        }
        if (::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(output).constData()) != 0)
            m_log.fail(QStringLiteral("failed to rename file: %1").arg(QString::fromLocal8Bit(strerror(errno))));

        m_log.info({{QStringLiteral("output"), Value::string(output)},
                    {QStringLiteral("purchased"), Value::flag(purchased)},
                    {QStringLiteral("success"), Value::flag(true)}});
        return 0;
    }

    const World& m_world;
    CommandLine m_line;
    Log m_log;
    bool m_interactive = true;
    bool m_upstream = false;
    const Failure* m_failure = nullptr; // the injected error of this run
    bool m_relogin = false;
    bool m_noProgress = false;
};

} // namespace

int runIpatool(const World& world, const QStringList& args)
{
    upstreamDialect = world.dialect == u"upstream";
    // Cobra finds the command before it reads any flag.
    if (upstreamDialect && args.value(0) == u"kbsync")
        usageError(QStringLiteral("unknown command \"kbsync\" for \"ipatool\""));
    return Ipatool(world, parse(args)).run();
}

} // namespace telmora::sim
