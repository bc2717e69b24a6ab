#pragma once

#include <QDate>
#include <QJsonArray>
#include <QJsonObject>
#include <QMap>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QTemporaryDir;

namespace telmora::test {

// Restores the named environment variables (set or not) when it goes.
class SavedEnvironment {
public:
    explicit SavedEnvironment(const QList<QByteArray>& names);
    ~SavedEnvironment();

private:
    QList<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
};

// A world for the simulated tools (sim/README.md). Every tool run reads it again: change it
// and write() it between runs. The destructor restores TELMORA_SIM_WORLD and TELMORA_SIM_SPEED.
class SimWorld {
public:
    struct Version {
        QString id, display; // external version identifier, CFBundleShortVersionString
        QString minOS = QStringLiteral("15.0");
        QString released = QStringLiteral("2024-01-01T00:00:00Z");
        bool binaryPlist = false;
        qint64 size = 64 * 1024;
        double duration = -1; // seconds of download at speed 1; negative: the world's default
    };

    // An injected failure (sim/README.md, "Failures").
    struct Failure {
        QString command; // "ipatool", "ipatool download", "ideviceinstaller install", …
        QString error;   // ipatool: the error= text; device tools: the whole line on standard error
        QString app, version, device, account; // the filters
        std::optional<int> status, at;          // at: percentage at which a download or install breaks
        bool relogin = false, noProgress = false;
        bool panic = false; // upstream dialect: dies as a Go panic with `error`, status 2
    };

    static constexpr const char* sampleEmail = "jane@example.com";
    static constexpr const char* samplePassword = "secret";
    static constexpr const char* sampleName = "Jane Doe";
    static constexpr const char* sampleUDID = "00008110-000A1B2C3D4E5F60";

    SimWorld();
    ~SimWorld();

    // Account sampleEmail / samplePassword (sampleName, no code) who bought 100000001 on
    // 2021-03-05 and 100000002 on 2024-02-01; apps
    //   100000001 com.example.notes "Notes Pro": 800000001 "1.0" (min 14.0), 800000002 "2.0" (min 16.0)
    //   100000002 com.example.maps  "Maps Plus": 800000003 "3.1" (binary Info.plist)
    //   100000003 com.example.paid  "Paid Tool", 2.99: 800000004 "1.0"
    //   100000004 com.example.free  "Free Game", never bought: 800000005 "5.0"
    // and the trusted, connected "iPhone Jane" on iOS 17.4.1 (sampleUDID).
    SimWorld& addSample();

    SimWorld& addAccount(const QString& email, const QString& password, const QString& name,
                         const QString& twoFactorCode = {}, bool repeatPromptOnWrongPassword = false);
    SimWorld& addPurchase(const QString& email, const QString& appID, const QString& name, const QDate& date,
                          const QString& kind = QStringLiteral("iOS App"));
    SimWorld& addApp(const QString& id, const QString& bundleID, const QString& name, double price = 0);
    // Gone from the store: only accounts that own it can still download it.
    SimWorld& setRemoved(const QString& appID);
    // Oldest first: the last one added is the current version.
    SimWorld& addVersion(const QString& appID, const Version& version);
    SimWorld& addDevice(const QString& udid, const QString& name, const QString& ios, bool trusted = true,
                        bool connected = true);
    SimWorld& setDeviceConnected(const QString& udid, bool connected) { return setDevice(udid, "connected", connected); }
    SimWorld& setDeviceTrusted(const QString& udid, bool trusted) { return setDevice(udid, "trusted", trusted); }
    SimWorld& addFailure(const Failure& failure);
    SimWorld& clearFailures() { return setOption(QStringLiteral("failures"), QJsonArray()); }
    // Seconds at speed 1: "prompt", "login", "command", "download", "copy", "installStep", "device".
    SimWorld& setTiming(const QString& name, double seconds);
    // A top-level setting, e.g. "installerVersion": "1.1.1".
    SimWorld& setOption(const QString& key, const QJsonValue& value) { return m_world.insert(key, value), *this; }
    // ipatool as upstream ipatool prints it, saying `version` to --version.
    SimWorld& setUpstreamDialect(const QString& version = QStringLiteral("2.8.0"))
    {
        return setOption(QStringLiteral("dialect"), QStringLiteral("upstream")).setOption(QStringLiteral("version"), version);
    }

    // Writes the world file and points the tools at it (speed 1000: runs take milliseconds).
    QString write();
    // Points the tools at the shipped demo world instead.
    void useDemo(double speed = 50);

    // Under $HOME: a session as `ipatool auth login` leaves it, plus Telmora's "login" file.
    static void signIn(const QString& email, const QString& name = QString::fromLatin1(sampleName));
    // What ideviceinstaller has put on the phone: bundle id → version.
    [[nodiscard]] static QMap<QString, QString> installed(const QString& udid);
    // App ids obtained through purchase or a download with --purchase.
    [[nodiscard]] static QStringList licences(const QString& email);
    // The argument lists of every run of `tool` so far, oldest first.
    [[nodiscard]] static QList<QStringList> calls(const QString& tool);

private:
    SimWorld& add(const char* list, const QJsonObject& entry);
    // Changes the entries of the array `list` whose `key` is `value` (any case).
    SimWorld& edit(const char* list, const char* key, const QString& value, const std::function<void(QJsonObject&)>& change);
    SimWorld& setDevice(const QString& udid, const char* field, bool value);

    QJsonObject m_world;
    std::unique_ptr<QTemporaryDir> m_dir;
    SavedEnvironment m_savedEnvironment{{"TELMORA_SIM_WORLD", "TELMORA_SIM_SPEED"}};
};

} // namespace telmora::test
