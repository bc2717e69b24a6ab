#include "simworld.h"
#include "files.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace telmora::test {

namespace {

QJsonObject readState(const char* key)
{
    return QJsonDocument::fromJson(readFile(QDir::homePath() + "/.telmora-sim/state.json")).object().value(key).toObject();
}

void push(QJsonObject& object, const char* key, const QJsonValue& value)
{
    QJsonArray array = object.value(QLatin1String(key)).toArray();
    array.append(value);
    object.insert(QLatin1String(key), array);
}

} // namespace

SavedEnvironment::SavedEnvironment(const QList<QByteArray>& names)
{
    for (const QByteArray& name : names)
        m_saved.append({name, qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData())) : std::nullopt});
}

SavedEnvironment::~SavedEnvironment()
{
    for (const auto& [name, value] : m_saved)
        value ? qputenv(name.constData(), *value) : qunsetenv(name.constData());
}

SimWorld::SimWorld()
    : m_world{{"accounts", QJsonArray()}, {"apps", QJsonArray()},    {"devices", QJsonArray()},
              {"failures", QJsonArray()}, {"timings", QJsonObject()}, {"log", true}} {}

SimWorld::~SimWorld() = default;

SimWorld& SimWorld::addSample()
{
    return addAccount(sampleEmail, samplePassword, sampleName)
        .addApp("100000001", "com.example.notes", "Notes Pro")
        .addVersion("100000001", {.id = "800000001", .display = "1.0", .minOS = "14.0", .released = "2021-03-01T10:00:00Z"})
        .addVersion("100000001", {.id = "800000002", .display = "2.0", .minOS = "16.0", .released = "2024-05-01T10:00:00Z"})
        .addApp("100000002", "com.example.maps", "Maps Plus")
        .addVersion("100000002", {.id = "800000003", .display = "3.1", .binaryPlist = true})
        .addApp("100000003", "com.example.paid", "Paid Tool", 2.99)
        .addVersion("100000003", {.id = "800000004", .display = "1.0"})
        .addApp("100000004", "com.example.free", "Free Game")
        .addVersion("100000004", {.id = "800000005", .display = "5.0"})
        .addPurchase(sampleEmail, "100000001", "Notes Pro", QDate(2021, 3, 5))
        .addPurchase(sampleEmail, "100000002", "Maps Plus", QDate(2024, 2, 1))
        .addDevice(sampleUDID, "iPhone Jane", "17.4.1");
}

SimWorld& SimWorld::addAccount(const QString& email, const QString& password, const QString& name,
                               const QString& twoFactorCode, bool repeatPromptOnWrongPassword)
{
    return add("accounts", {{"email", email}, {"password", password}, {"name", name}, {"code", twoFactorCode},
                            {"wrongPassword", repeatPromptOnWrongPassword ? "prompt" : "error"}, {"purchases", QJsonArray()}});
}

SimWorld& SimWorld::addPurchase(const QString& email, const QString& appID, const QString& name, const QDate& date,
                                const QString& kind)
{
    const QJsonObject purchase{{"id", appID}, {"name", name}, {"kind", kind}, {"date", date.toString(Qt::ISODate)}};
    return edit("accounts", "email", email, [&](QJsonObject& account) { push(account, "purchases", purchase); });
}

SimWorld& SimWorld::addApp(const QString& id, const QString& bundleID, const QString& name, double price)
{
    return add("apps", {{"id", id}, {"bundleID", bundleID}, {"name", name}, {"price", price}, {"versions", QJsonArray()}});
}

SimWorld& SimWorld::setRemoved(const QString& appID)
{
    return edit("apps", "id", appID, [](QJsonObject& app) { app.insert(QStringLiteral("removed"), true); });
}

SimWorld& SimWorld::addVersion(const QString& appID, const Version& v)
{
    const QJsonObject version{{"id", v.id},           {"display", v.display},
                              {"minOS", v.minOS},     {"released", v.released},
                              {"size", double(v.size)}, {"duration", v.duration},
                              {"plist", v.binaryPlist ? "binary" : "xml"}};
    return edit("apps", "id", appID, [&](QJsonObject& app) { push(app, "versions", version); });
}

SimWorld& SimWorld::addDevice(const QString& udid, const QString& name, const QString& ios, bool trusted,
                              bool connected)
{
    return add("devices", {{"udid", udid}, {"name", name}, {"ios", ios}, {"trusted", trusted}, {"connected", connected}});
}

SimWorld& SimWorld::setDevice(const QString& udid, const char* field, bool value)
{
    return edit("devices", "udid", udid, [&](QJsonObject& device) { device.insert(QLatin1String(field), value); });
}

SimWorld& SimWorld::addFailure(const Failure& f)
{
    QJsonObject failure{{"command", f.command}, {"error", f.error},   {"app", f.app},
                        {"version", f.version}, {"device", f.device}, {"account", f.account},
                        {"relogin", f.relogin}, {"noProgress", f.noProgress}, {"panic", f.panic}};
    for (const auto& [key, value] : {std::pair{"status", f.status}, std::pair{"at", f.at}})
        if (value)
            failure.insert(QLatin1String(key), *value);
    return add("failures", failure);
}

SimWorld& SimWorld::setTiming(const QString& name, double seconds)
{
    QJsonObject timings = m_world.value("timings").toObject();
    timings.insert(name, seconds);
    return setOption("timings", timings);
}

SimWorld& SimWorld::add(const char* list, const QJsonObject& entry)
{
    return push(m_world, list, entry), *this;
}

SimWorld& SimWorld::edit(const char* list, const char* key, const QString& value,
                         const std::function<void(QJsonObject&)>& change)
{
    QJsonArray array = m_world.value(QLatin1String(list)).toArray();
    for (qsizetype i = 0; i < array.size(); ++i) {
        QJsonObject entry = array.at(i).toObject();
        if (entry.value(QLatin1String(key)).toString().compare(value, Qt::CaseInsensitive) == 0) {
            change(entry);
            array.replace(i, entry);
        }
    }
    return setOption(QLatin1String(list), array);
}

void SimWorld::useDemo(double speed)
{
    qunsetenv("TELMORA_SIM_WORLD");
    qputenv("TELMORA_SIM_SPEED", QByteArray::number(speed));
}

QString SimWorld::write()
{
    if (!m_dir)
        m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath("world.json");
    writeFile(path, QJsonDocument(m_world).toJson());
    qputenv("TELMORA_SIM_WORLD", QFile::encodeName(path));
    qputenv("TELMORA_SIM_SPEED", "1000");
    return path;
}

void SimWorld::signIn(const QString& email, const QString& name)
{
    const QString folder = QDir::homePath() + "/.ipatool/";
    QDir().mkpath(folder);
    const QJsonObject account{{"email", email}, {"name", name}, {"directoryServicesIdentifier", "1234567890"},
                              {"passwordToken", "0123456789abcdef"}, {"storeFront", "143469-16,29"}};
    writeFile(folder + "account", QJsonDocument(account).toJson());
    writeFile(folder + "cookies", "# Netscape HTTP Cookie File\n");
    writeFile(folder + "login", {});
}

QMap<QString, QString> SimWorld::installed(const QString& udid)
{
    QMap<QString, QString> apps;
    const QJsonObject onDevice = readState("installed").value(udid).toObject();
    for (auto it = onDevice.begin(); it != onDevice.end(); ++it)
        apps.insert(it.key(), it.value().toObject().value("version").toString());
    return apps;
}

QStringList SimWorld::licences(const QString& email)
{
    QStringList ids;
    for (const QJsonValue& entry : readState("licenses").value(email.toLower()).toArray())
        ids.append(entry.toObject().value("id").toString());
    return ids;
}

QList<QStringList> SimWorld::calls(const QString& tool)
{
    QList<QStringList> list;
    QFile file(QDir::homePath() + "/.telmora-sim/calls.jsonl");
    for (bool open = file.open(QIODevice::ReadOnly); open && !file.atEnd();) {
        const QJsonObject entry = QJsonDocument::fromJson(file.readLine()).object();
        if (entry.value("tool").toString() == tool)
            list.append(entry.value("args").toVariant().toStringList());
    }
    return list;
}

} // namespace telmora::test
