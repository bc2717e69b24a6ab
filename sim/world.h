#pragma once

#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace telmora::sim {

// The simulated outside world, read from a JSON file on every run (sim/README.md has the
// format). Tests rewrite the file between runs to plug in a phone or break the network.

struct Version {
    QString id;       // external version identifier
    QString display;  // CFBundleShortVersionString
    QString minOS;
    QString released; // RFC 3339
    bool binaryPlist = false;
    qint64 size = 0;  // bytes of the IPA
    double duration = -1; // seconds of download at speed 1; negative: the world's default
};

struct App {
    QString id;
    QString bundleID;
    QString name;        // store name
    QString displayName; // CFBundleDisplayName
    QString executable;  // folder Payload/<executable>.app
    double price = 0;
    bool removed = false; // gone from the store: only a licence holder can download it
    QList<Version> versions; // oldest first

    [[nodiscard]] const Version* latest() const { return versions.isEmpty() ? nullptr : &versions.last(); }
    [[nodiscard]] const Version* version(const QString& id) const;
};

struct Purchase {
    QString id;
    QString name;
    QString kind = QStringLiteral("iOS App");
    QDate date;
};

struct Account {
    QString email;
    QString password;
    QString name;
    QString code;                // two-factor code; empty: none asked
    bool repeatPrompt = false;   // a wrong password asks again instead of failing
    QList<Purchase> purchases;
};

struct Device {
    QString udid;
    QString name;
    QString ios;
    QString productType = QStringLiteral("iPhone15,2");
    QString buildVersion = QStringLiteral("21E236");
    bool trusted = true;
    bool connected = true;
    QString lockdown = QStringLiteral("Pairing dialog response pending (-19)"); // error while untrusted
};

// What a run is about, for matching injected failures.
struct Subject {
    QString app;      // App Store id
    QString bundleID;
    QString version;  // external version id
    QString device;   // UDID
    QString account;  // e-mail
};

// An injected failure or behaviour. `command` is the tool name and optionally its
// sub-command words ("ipatool download", "ideviceinstaller upgrade"); every filter that
// is set must match.
struct Failure {
    QStringList command;
    QString app;
    QString version;
    QString device;
    QString account;
    QString error;
    std::optional<int> status;
    std::optional<int> at; // percentage at which a download or install breaks
    bool relogin = false;  // download: asks for the e-mail again
    bool noProgress = false; // download: prints no progress at all
    bool panic = false;    // upstream dialect: a Go panic with `error` as its value, status 2

    [[nodiscard]] bool matches(const QStringList& invocation, const Subject& subject) const;
};

struct Timings {
    double prompt = 0.2;      // before each sign-in prompt
    double login = 1.0;       // answer to the credentials
    double command = 0.3;     // plain store commands
    double download = 4.0;    // a download, unless the version says otherwise
    double copy = 0.5;        // copying a package to the phone
    double installStep = 0.25; // each installer status
    double device = 0.0;      // device queries
};

struct World {
    QList<Account> accounts;
    QList<App> apps;
    QList<Device> devices;
    QList<Failure> injected;
    Timings timings;
    QString installerVersion = QStringLiteral("1.2.0"); // below 1.2: the option syntax only
    bool log = false; // record every call in the state folder
    // "upstream": ipatool prints what upstream ipatool 2.6+ prints (its own command lines,
    // prompts, paging, keyring and state folder) instead of the contract Telmora speaks.
    QString dialect;
    QString version = QStringLiteral("2.8.0"); // upstream dialect: what --version says

    // TELMORA_SIM_WORLD, else the demo world. Absent (with `error` set) when unreadable.
    static std::optional<World> load(QString* error);
    static QString path();

    [[nodiscard]] const App* app(const QString& idOrBundle) const;
    [[nodiscard]] const Account* account(const QString& email) const;
    [[nodiscard]] const Device* device(const QString& udid) const;
    [[nodiscard]] QList<const Device*> connectedDevices() const;
    // Every failure that applies to a run, in world order.
    [[nodiscard]] QList<const Failure*> failures(const QStringList& invocation, const Subject& subject) const;
    // The first of them that prints an error; null when none does.
    [[nodiscard]] const Failure* error(const QStringList& invocation, const Subject& subject) const;
};

// Mutable state under $HOME/.telmora-sim: licences obtained, apps installed, the call log.
namespace state {

[[nodiscard]] QString folder();
[[nodiscard]] QJsonObject read();
// Applies `change` under a file lock and saves the result atomically.
void update(const std::function<void(QJsonObject&)>& change);

void addLicence(const QString& email, const QString& appID, const QString& name);
[[nodiscard]] bool hasLicence(const QString& email, const QString& appID);
[[nodiscard]] QList<Purchase> licences(const QString& email);
void recordInstall(const QString& udid, const QString& bundleID, const QJsonObject& details);
void logCall(const QString& tool, const QStringList& args);

} // namespace state

} // namespace telmora::sim
