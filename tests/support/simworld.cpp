#include "simworld.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

namespace telmora::test {

namespace {

const QList<QByteArray> variables = {"TELMORA_SIM_WORLD", "TELMORA_SIM_SPEED"};

QString simFolder()
{
    return QDir::homePath() + QStringLiteral("/.telmora-sim");
}

QJsonObject readJson(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

SimWorld::SimWorld() = default;

SimWorld::~SimWorld()
{
    for (auto it = m_savedEnvironment.cbegin(); it != m_savedEnvironment.cend(); ++it) {
        if (it.value())
            qputenv(it.key().constData(), *it.value());
        else
            qunsetenv(it.key().constData());
    }
}

SimWorld& SimWorld::addSample()
{
    const QString email = QString::fromLatin1(sampleEmail);
    addAccount(email, QString::fromLatin1(samplePassword), QString::fromLatin1(sampleName));

    addApp(QStringLiteral("100000001"), QStringLiteral("com.example.notes"), QStringLiteral("Notes Pro"));
    addVersion(QStringLiteral("100000001"), {.id = QStringLiteral("800000001"), .display = QStringLiteral("1.0"),
                                             .minOS = QStringLiteral("14.0"),
                                             .released = QStringLiteral("2021-03-01T10:00:00Z")});
    addVersion(QStringLiteral("100000001"), {.id = QStringLiteral("800000002"), .display = QStringLiteral("2.0"),
                                             .minOS = QStringLiteral("16.0"),
                                             .released = QStringLiteral("2024-05-01T10:00:00Z")});
    addApp(QStringLiteral("100000002"), QStringLiteral("com.example.maps"), QStringLiteral("Maps Plus"));
    addVersion(QStringLiteral("100000002"), {.id = QStringLiteral("800000003"), .display = QStringLiteral("3.1"),
                                             .minOS = QStringLiteral("15.0"), .binaryPlist = true});
    addApp(QStringLiteral("100000003"), QStringLiteral("com.example.paid"), QStringLiteral("Paid Tool"), 2.99);
    addVersion(QStringLiteral("100000003"), {.id = QStringLiteral("800000004"), .display = QStringLiteral("1.0")});
    addApp(QStringLiteral("100000004"), QStringLiteral("com.example.free"), QStringLiteral("Free Game"));
    addVersion(QStringLiteral("100000004"), {.id = QStringLiteral("800000005"), .display = QStringLiteral("5.0")});

    addPurchase(email, QStringLiteral("100000001"), QStringLiteral("Notes Pro"), QDate(2021, 3, 5));
    addPurchase(email, QStringLiteral("100000002"), QStringLiteral("Maps Plus"), QDate(2024, 2, 1));
    addDevice(QString::fromLatin1(sampleUDID), QStringLiteral("iPhone Jane"), QStringLiteral("17.4.1"));
    return *this;
}

SimWorld& SimWorld::addAccount(const QString& email, const QString& password, const QString& name,
                               const QString& twoFactorCode, bool repeatPromptOnWrongPassword)
{
    Account account;
    account.fields = QJsonObject{{QStringLiteral("email"), email},
                                 {QStringLiteral("password"), password},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("code"), twoFactorCode},
                                 {QStringLiteral("wrongPassword"),
                                  repeatPromptOnWrongPassword ? QStringLiteral("prompt") : QStringLiteral("error")}};
    m_accounts.append(account);
    return *this;
}

SimWorld& SimWorld::addPurchase(const QString& email, const QString& appID, const QString& name, const QDate& date,
                                const QString& kind)
{
    if (Account* a = account(email)) {
        a->purchases.append(QJsonObject{{QStringLiteral("id"), appID},
                                        {QStringLiteral("name"), name},
                                        {QStringLiteral("kind"), kind},
                                        {QStringLiteral("date"), date.toString(Qt::ISODate)}});
    }
    return *this;
}

SimWorld& SimWorld::addApp(const QString& id, const QString& bundleID, const QString& name, double price)
{
    App app;
    app.fields = QJsonObject{{QStringLiteral("id"), id},
                             {QStringLiteral("bundleID"), bundleID},
                             {QStringLiteral("name"), name},
                             {QStringLiteral("price"), price}};
    m_apps.append(app);
    return *this;
}

SimWorld& SimWorld::setRemoved(const QString& appID, bool removed)
{
    if (App* a = app(appID))
        a->fields.insert(QStringLiteral("removed"), removed);
    return *this;
}

SimWorld& SimWorld::addVersion(const QString& appID, const Version& version)
{
    if (App* a = app(appID))
        a->versions.append(version);
    return *this;
}

SimWorld& SimWorld::addDevice(const QString& udid, const QString& name, const QString& ios, bool trusted,
                              bool connected)
{
    m_devices.append(QJsonObject{{QStringLiteral("udid"), udid},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("ios"), ios},
                                 {QStringLiteral("trusted"), trusted},
                                 {QStringLiteral("connected"), connected}});
    return *this;
}

SimWorld& SimWorld::setDeviceConnected(const QString& udid, bool connected)
{
    if (QJsonObject* d = device(udid))
        d->insert(QStringLiteral("connected"), connected);
    return *this;
}

SimWorld& SimWorld::setDeviceTrusted(const QString& udid, bool trusted)
{
    if (QJsonObject* d = device(udid))
        d->insert(QStringLiteral("trusted"), trusted);
    return *this;
}

SimWorld& SimWorld::addFailure(const Failure& failure)
{
    m_failures.append(failure);
    return *this;
}

SimWorld& SimWorld::clearFailures()
{
    m_failures.clear();
    return *this;
}

SimWorld& SimWorld::setTiming(const QString& name, double seconds)
{
    m_timings.insert(name, seconds);
    return *this;
}

SimWorld& SimWorld::setOption(const QString& key, const QJsonValue& value)
{
    m_options.insert(key, value);
    return *this;
}

SimWorld& SimWorld::setSpeed(double speed)
{
    m_speed = speed;
    return *this;
}

SimWorld& SimWorld::setUpstreamDialect(const QString& version)
{
    m_upstreamVersion = version;
    return *this;
}

QJsonObject SimWorld::toJson() const
{
    QJsonArray accounts;
    for (const Account& account : m_accounts) {
        QJsonObject object = account.fields;
        QJsonArray purchases;
        for (const QJsonObject& purchase : account.purchases)
            purchases.append(purchase);
        object.insert(QStringLiteral("purchases"), purchases);
        accounts.append(object);
    }
    QJsonArray apps;
    for (const App& app : m_apps) {
        QJsonObject object = app.fields;
        QJsonArray versions;
        for (const Version& v : app.versions) {
            versions.append(QJsonObject{{QStringLiteral("id"), v.id},
                                        {QStringLiteral("display"), v.display},
                                        {QStringLiteral("minOS"), v.minOS},
                                        {QStringLiteral("released"), v.released},
                                        {QStringLiteral("plist"), v.binaryPlist ? QStringLiteral("binary")
                                                                                : QStringLiteral("xml")},
                                        {QStringLiteral("size"), double(v.size)},
                                        {QStringLiteral("duration"), v.duration}});
        }
        object.insert(QStringLiteral("versions"), versions);
        apps.append(object);
    }
    QJsonArray devices;
    for (const QJsonObject& device : m_devices)
        devices.append(device);
    QJsonArray failures;
    for (const Failure& f : m_failures) {
        QJsonObject object{{QStringLiteral("command"), f.command}, {QStringLiteral("error"), f.error},
                           {QStringLiteral("app"), f.app},         {QStringLiteral("version"), f.version},
                           {QStringLiteral("device"), f.device},   {QStringLiteral("account"), f.account},
                           {QStringLiteral("relogin"), f.relogin}, {QStringLiteral("noProgress"), f.noProgress},
                           {QStringLiteral("panic"), f.panic}};
        if (f.status)
            object.insert(QStringLiteral("status"), *f.status);
        if (f.at)
            object.insert(QStringLiteral("at"), *f.at);
        failures.append(object);
    }
    QJsonObject world = m_options;
    world.insert(QStringLiteral("accounts"), accounts);
    world.insert(QStringLiteral("apps"), apps);
    world.insert(QStringLiteral("devices"), devices);
    world.insert(QStringLiteral("failures"), failures);
    world.insert(QStringLiteral("timings"), m_timings);
    world.insert(QStringLiteral("log"), true);
    if (!m_upstreamVersion.isEmpty()) {
        world.insert(QStringLiteral("dialect"), QStringLiteral("upstream"));
        world.insert(QStringLiteral("version"), m_upstreamVersion);
    }
    return world;
}

void SimWorld::saveEnvironment()
{
    for (const QByteArray& name : variables) {
        if (!m_savedEnvironment.contains(name))
            m_savedEnvironment.insert(name, qEnvironmentVariableIsSet(name.constData())
                                                ? std::optional<QByteArray>(qgetenv(name.constData()))
                                                : std::nullopt);
    }
}

void SimWorld::useDemo(double speed)
{
    saveEnvironment();
    qunsetenv("TELMORA_SIM_WORLD");
    qputenv("TELMORA_SIM_SPEED", QByteArray::number(speed));
}

QString SimWorld::write()
{
    saveEnvironment();
    if (!m_dir)
        m_dir = std::make_unique<QTemporaryDir>();
    writeFile(path(), QJsonDocument(toJson()).toJson());
    qputenv("TELMORA_SIM_WORLD", QFile::encodeName(path()));
    qputenv("TELMORA_SIM_SPEED", QByteArray::number(m_speed));
    return path();
}

QString SimWorld::path() const
{
    return m_dir ? m_dir->filePath(QStringLiteral("world.json")) : QString();
}

void SimWorld::signIn(const QString& email, const QString& name)
{
    const QString folder = QDir::homePath() + QStringLiteral("/.ipatool");
    QDir().mkpath(folder);
    const QJsonObject account{{QStringLiteral("email"), email},
                              {QStringLiteral("name"), name},
                              {QStringLiteral("directoryServicesIdentifier"), QStringLiteral("1234567890")},
                              {QStringLiteral("passwordToken"), QStringLiteral("0123456789abcdef")},
                              {QStringLiteral("storeFront"), QStringLiteral("143469-16,29")}};
    writeFile(folder + QStringLiteral("/account"), QJsonDocument(account).toJson());
    writeFile(folder + QStringLiteral("/cookies"), "# Netscape HTTP Cookie File\n");
    writeFile(folder + QStringLiteral("/login"), {});
}

QMap<QString, QString> SimWorld::installed(const QString& udid)
{
    QMap<QString, QString> apps;
    const QJsonObject onDevice =
        readJson(simFolder() + QStringLiteral("/state.json")).value(u"installed").toObject().value(udid).toObject();
    for (auto it = onDevice.begin(); it != onDevice.end(); ++it)
        apps.insert(it.key(), it.value().toObject().value(u"version").toString());
    return apps;
}

QStringList SimWorld::licences(const QString& email)
{
    QStringList ids;
    const QJsonArray list = readJson(simFolder() + QStringLiteral("/state.json"))
                                .value(u"licenses").toObject().value(email.toLower()).toArray();
    for (const QJsonValue& entry : list)
        ids.append(entry.toObject().value(u"id").toString());
    return ids;
}

QList<QStringList> SimWorld::calls(const QString& tool)
{
    QList<QStringList> list;
    QFile file(simFolder() + QStringLiteral("/calls.jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return list;
    while (!file.atEnd()) {
        const QJsonObject entry = QJsonDocument::fromJson(file.readLine()).object();
        if (entry.value(u"tool").toString() != tool)
            continue;
        QStringList args;
        for (const QJsonValue& arg : entry.value(u"args").toArray())
            args.append(arg.toString());
        list.append(args);
    }
    return list;
}

SimWorld::Account* SimWorld::account(const QString& email)
{
    for (Account& a : m_accounts) {
        if (a.fields.value(u"email").toString().compare(email, Qt::CaseInsensitive) == 0)
            return &a;
    }
    return nullptr;
}

SimWorld::App* SimWorld::app(const QString& id)
{
    for (App& a : m_apps) {
        if (a.fields.value(u"id").toString() == id)
            return &a;
    }
    return nullptr;
}

QJsonObject* SimWorld::device(const QString& udid)
{
    for (QJsonObject& d : m_devices) {
        if (d.value(u"udid").toString() == udid)
            return &d;
    }
    return nullptr;
}

} // namespace telmora::test
