#pragma once

#include <QByteArray>
#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTemporaryDir;

namespace telmora::test {

// Builds a world for the simulated tools (build/sim-bin: ipatool, idevice_id, ideviceinfo,
// ideviceinstaller; format in sim/README.md) and points them at it.
//
//     Sandbox sandbox;                     // the tools keep their state under $HOME
//     SimWorld& world = sandbox.world;
//     world.addSample().write();           // sets TELMORA_SIM_WORLD and TELMORA_SIM_SPEED
//     SimWorld::signIn(SimWorld::sampleEmail);
//     ... run the tools (CRVEL_BIN_DIR = TELMORA_SIM_BIN_DIR) ...
//     world.setDeviceConnected(SimWorld::sampleUDID, false).write();   // unplug the phone
//
// Every tool run reads the file again, so change the world and write() it between runs.
// The destructor puts the two environment variables back as they were.
class SimWorld {
public:
    struct Version {
        QString id;       // external version identifier (digits)
        QString display;  // CFBundleShortVersionString, e.g. "2.3.1"
        QString minOS = QStringLiteral("15.0");
        QString released = QStringLiteral("2024-01-01T00:00:00Z");
        bool binaryPlist = false; // Info.plist format inside the IPA
        qint64 size = 64 * 1024;  // bytes of the downloaded IPA
        double duration = -1;     // seconds of download at speed 1; negative: the world's default
    };

    // An injected failure or behaviour; fields in this order suit designated initialisers:
    //     world.addFailure({.command = "ipatool download", .error = "license is required", .app = "100000001"});
    struct Failure {
        QString command;           // "ipatool", "ipatool download", "ipatool auth login", "idevice_id",
                                   // "ideviceinfo", "ideviceinstaller", "ideviceinstaller install", …
        QString error;             // ipatool: the error= text; device tools: the whole line on standard error
        QString app;               // filters: App Store id or bundle id, external version id, UDID, e-mail
        QString version;
        QString device;
        QString account;
        std::optional<int> status; // exit status (defaults: ipatool 1, installer 128 mid-install, else 255)
        std::optional<int> at;     // percentage at which a download or install breaks
        bool relogin = false;      // download prints "Enter email:" and waits
        bool noProgress = false;   // download prints no progress at all
        bool panic = false;        // upstream dialect: dies as a Go panic with `error`, status 2
    };

    // The sample world of addSample().
    static constexpr const char* sampleEmail = "jane@example.com";
    static constexpr const char* samplePassword = "secret";
    static constexpr const char* sampleName = "Jane Doe";
    static constexpr const char* sampleUDID = "00008110-000A1B2C3D4E5F60";

    SimWorld();
    ~SimWorld();
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    // Account "jane@example.com" / "secret" ("Jane Doe", no two-factor code) who bought
    // 100000001 on 2021-03-05 and 100000002 on 2024-02-01; apps
    //   100000001 com.example.notes "Notes Pro": 800000001 "1.0" (min 14.0), 800000002 "2.0" (min 16.0)
    //   100000002 com.example.maps  "Maps Plus": 800000003 "3.1" (min 15.0, binary Info.plist)
    //   100000003 com.example.paid  "Paid Tool", 2.99: 800000004 "1.0" (min 15.0)
    //   100000004 com.example.free  "Free Game", never bought: 800000005 "5.0" (min 15.0)
    // and the trusted, connected "iPhone Jane" on iOS 17.4.1 (sampleUDID).
    SimWorld& addSample();

    SimWorld& addAccount(const QString& email, const QString& password, const QString& name,
                         const QString& twoFactorCode = {}, bool repeatPromptOnWrongPassword = false);
    // For an account added before.
    SimWorld& addPurchase(const QString& email, const QString& appID, const QString& name, const QDate& date,
                          const QString& kind = QStringLiteral("iOS App"));
    SimWorld& addApp(const QString& id, const QString& bundleID, const QString& name, double price = 0);
    // Gone from the store: only accounts that own it can still download it.
    SimWorld& setRemoved(const QString& appID, bool removed = true);
    // Versions are listed oldest first; the last one added is the current version.
    SimWorld& addVersion(const QString& appID, const Version& version);
    SimWorld& addDevice(const QString& udid, const QString& name, const QString& ios, bool trusted = true,
                        bool connected = true);
    SimWorld& setDeviceConnected(const QString& udid, bool connected);
    SimWorld& setDeviceTrusted(const QString& udid, bool trusted);
    SimWorld& addFailure(const Failure& failure);
    SimWorld& clearFailures();
    // Timings in seconds at speed 1: "prompt", "login", "command", "download", "copy",
    // "installStep", "device".
    SimWorld& setTiming(const QString& name, double seconds);
    // A top-level world setting, e.g. "installerVersion": "1.1.1".
    SimWorld& setOption(const QString& key, const QJsonValue& value);
    // Divides every timing; the default, 1000, makes runs take milliseconds.
    SimWorld& setSpeed(double speed);
    // ipatool as upstream ipatool prints it (sim/README.md, "Upstream dialect"), saying
    // `version` to --version.
    SimWorld& setUpstreamDialect(const QString& version = QStringLiteral("2.8.0"));

    // Writes the world file and sets TELMORA_SIM_WORLD and TELMORA_SIM_SPEED. Returns its path.
    QString write();
    // Points the tools at the shipped demo world (sim/worlds/demo.json) instead, at this speed.
    void useDemo(double speed = 50);
    [[nodiscard]] QString path() const;
    [[nodiscard]] QJsonObject toJson() const;

    // Under the current $HOME. A session as `ipatool auth login` leaves it, plus the empty
    // "login" file Telmora adds: the account counts as signed in.
    static void signIn(const QString& email, const QString& name = QString::fromLatin1(sampleName));
    // What ideviceinstaller has put on the phone: bundle id → version.
    [[nodiscard]] static QMap<QString, QString> installed(const QString& udid);
    // App ids obtained through purchase (or a download with --purchase), per account.
    [[nodiscard]] static QStringList licences(const QString& email);
    // The argument lists of every run of `tool` so far, oldest first.
    [[nodiscard]] static QList<QStringList> calls(const QString& tool);

private:
    struct Account {
        QJsonObject fields;
        QList<QJsonObject> purchases;
    };
    struct App {
        QJsonObject fields;
        QList<Version> versions;
    };

    Account* account(const QString& email);
    App* app(const QString& id);
    QJsonObject* device(const QString& udid);

    QList<Account> m_accounts;
    QList<App> m_apps;
    QList<QJsonObject> m_devices;
    QList<Failure> m_failures;
    QJsonObject m_timings;
    QJsonObject m_options;
    QString m_upstreamVersion; // empty: the default dialect
    double m_speed = 1000;
    void saveEnvironment();

    std::unique_ptr<QTemporaryDir> m_dir;
    QMap<QByteArray, std::optional<QByteArray>> m_savedEnvironment;
};

} // namespace telmora::test
