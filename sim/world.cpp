#include "world.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace telmora::sim {

namespace {

// Ids may be written as JSON numbers or strings.
QString idText(const QJsonValue& value)
{
    if (value.isDouble())
        return QString::number(static_cast<qint64>(value.toDouble()));
    return value.toString();
}

double number(const QJsonObject& object, const char* key, double fallback)
{
    const QJsonValue value = object.value(QLatin1String(key));
    return value.isDouble() ? value.toDouble() : fallback;
}

QString defaultExecutable(const QString& bundleID)
{
    QString name = bundleID.section(u'.', -1);
    name.removeIf([](QChar c) { return !(c.isLetterOrNumber() && c.unicode() < 128); });
    return name.isEmpty() ? QStringLiteral("App") : name;
}

Version readVersion(const QJsonObject& object)
{
    Version v;
    v.id = idText(object.value(u"id"));
    v.display = object.value(u"display").toString();
    v.minOS = object.value(u"minOS").toString();
    v.released = object.value(u"released").toString(QStringLiteral("2024-01-01T00:00:00Z"));
    v.binaryPlist = object.value(u"plist").toString() == u"binary";
    v.size = static_cast<qint64>(number(object, "size", 256 * 1024));
    v.duration = number(object, "duration", -1);
    return v;
}

App readApp(const QJsonObject& object)
{
    App app;
    app.id = idText(object.value(u"id"));
    app.bundleID = object.value(u"bundleID").toString();
    app.name = object.value(u"name").toString();
    app.displayName = object.value(u"displayName").toString(app.name);
    app.executable = object.value(u"executable").toString(defaultExecutable(app.bundleID));
    app.price = number(object, "price", 0);
    app.removed = object.value(u"removed").toBool();
    for (const QJsonValue& version : object.value(u"versions").toArray())
        app.versions.append(readVersion(version.toObject()));
    return app;
}

Account readAccount(const QJsonObject& object)
{
    Account account;
    account.email = object.value(u"email").toString();
    account.password = object.value(u"password").toString();
    account.name = object.value(u"name").toString();
    account.code = object.value(u"code").toString();
    account.repeatPrompt = object.value(u"wrongPassword").toString() == u"prompt";
    for (const QJsonValue& value : object.value(u"purchases").toArray()) {
        const QJsonObject p = value.toObject();
        Purchase purchase;
        purchase.id = idText(p.value(u"id"));
        purchase.name = p.value(u"name").toString();
        purchase.kind = p.value(u"kind").toString(purchase.kind);
        purchase.date = QDate::fromString(p.value(u"date").toString(), Qt::ISODate);
        account.purchases.append(purchase);
    }
    return account;
}

Device readDevice(const QJsonObject& object)
{
    Device device;
    device.udid = object.value(u"udid").toString();
    device.name = object.value(u"name").toString();
    device.ios = object.value(u"ios").toString();
    device.productType = object.value(u"productType").toString(device.productType);
    device.buildVersion = object.value(u"buildVersion").toString(device.buildVersion);
    device.trusted = object.value(u"trusted").toBool(true);
    device.connected = object.value(u"connected").toBool(true);
    device.lockdown = object.value(u"lockdown").toString(device.lockdown);
    return device;
}

Failure readFailure(const QJsonObject& object)
{
    Failure failure;
    failure.command = object.value(u"command").toString().split(u' ', Qt::SkipEmptyParts);
    failure.app = idText(object.value(u"app"));
    failure.version = idText(object.value(u"version"));
    failure.device = object.value(u"device").toString();
    failure.account = object.value(u"account").toString();
    failure.error = object.value(u"error").toString();
    if (object.value(u"status").isDouble())
        failure.status = object.value(u"status").toInt();
    if (object.value(u"at").isDouble())
        failure.at = object.value(u"at").toInt();
    failure.relogin = object.value(u"relogin").toBool();
    failure.noProgress = object.value(u"noProgress").toBool();
    failure.panic = object.value(u"panic").toBool();
    return failure;
}

QString statePath()
{
    return state::folder() + QStringLiteral("/state.json");
}

// An exclusive lock on the state folder for one read-modify-write.
class StateLock {
public:
    StateLock()
    {
        QDir().mkpath(state::folder());
        m_fd = ::open(QFile::encodeName(state::folder() + QStringLiteral("/.lock")).constData(),
                      O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~StateLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // releases the lock
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    int m_fd = -1;
};

QJsonObject readUnlocked()
{
    QFile file(statePath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

} // namespace

const Version* App::version(const QString& id) const
{
    for (const Version& v : versions) {
        if (v.id == id)
            return &v;
    }
    return nullptr;
}

bool Failure::matches(const QStringList& invocation, const Subject& subject) const
{
    if (command.isEmpty() || command.size() > invocation.size())
        return false;
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command[i] != invocation[i])
            return false;
    }
    if (!app.isEmpty() && app != subject.app && app != subject.bundleID)
        return false;
    if (!version.isEmpty() && version != subject.version)
        return false;
    if (!device.isEmpty() && device != subject.device)
        return false;
    if (!account.isEmpty() && account.compare(subject.account, Qt::CaseInsensitive) != 0)
        return false;
    return true;
}

QString World::path()
{
    const QString fromEnvironment = qEnvironmentVariable("TELMORA_SIM_WORLD");
    return fromEnvironment.isEmpty() ? QStringLiteral(TELMORA_SIM_DEFAULT_WORLD) : fromEnvironment;
}

std::optional<World> World::load(QString* error)
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                              : QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject root = document.object();

    World world;
    for (const QJsonValue& value : root.value(u"accounts").toArray())
        world.accounts.append(readAccount(value.toObject()));
    for (const QJsonValue& value : root.value(u"apps").toArray())
        world.apps.append(readApp(value.toObject()));
    for (const QJsonValue& value : root.value(u"devices").toArray())
        world.devices.append(readDevice(value.toObject()));
    for (const QJsonValue& value : root.value(u"failures").toArray())
        world.injected.append(readFailure(value.toObject()));

    const QJsonObject timings = root.value(u"timings").toObject();
    Timings& t = world.timings;
    t.prompt = number(timings, "prompt", t.prompt);
    t.login = number(timings, "login", t.login);
    t.command = number(timings, "command", t.command);
    t.download = number(timings, "download", t.download);
    t.copy = number(timings, "copy", t.copy);
    t.installStep = number(timings, "installStep", t.installStep);
    t.device = number(timings, "device", t.device);
    world.log = root.value(u"log").toBool();
    world.installerVersion = root.value(u"installerVersion").toString(world.installerVersion);
    world.dialect = root.value(u"dialect").toString();
    world.version = root.value(u"version").toString(world.version);
    return world;
}

const App* World::app(const QString& idOrBundle) const
{
    for (const App& app : apps) {
        if (app.id == idOrBundle || app.bundleID == idOrBundle)
            return &app;
    }
    return nullptr;
}

const Account* World::account(const QString& email) const
{
    for (const Account& account : accounts) {
        if (account.email.compare(email, Qt::CaseInsensitive) == 0)
            return &account;
    }
    return nullptr;
}

const Device* World::device(const QString& udid) const
{
    for (const Device& device : devices) {
        if (device.udid == udid)
            return &device;
    }
    return nullptr;
}

QList<const Device*> World::connectedDevices() const
{
    QList<const Device*> list;
    for (const Device& device : devices) {
        if (device.connected)
            list.append(&device);
    }
    return list;
}

QList<const Failure*> World::failures(const QStringList& invocation, const Subject& subject) const
{
    QList<const Failure*> list;
    for (const Failure& failure : injected) {
        if (failure.matches(invocation, subject))
            list.append(&failure);
    }
    return list;
}

const Failure* World::error(const QStringList& invocation, const Subject& subject) const
{
    for (const Failure* failure : failures(invocation, subject)) {
        if (!failure->error.isEmpty())
            return failure;
    }
    return nullptr;
}

namespace state {

QString folder()
{
    return QDir::homePath() + QStringLiteral("/.telmora-sim");
}

QJsonObject read()
{
    StateLock lock;
    return readUnlocked();
}

void update(const std::function<void(QJsonObject&)>& change)
{
    StateLock lock;
    QJsonObject root = readUnlocked();
    change(root);
    QSaveFile file(statePath());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QJsonDocument(root).toJson());
        file.commit();
    }
}

void addLicence(const QString& email, const QString& appID, const QString& name)
{
    update([&](QJsonObject& root) {
        QJsonObject all = root.value(u"licenses").toObject();
        QJsonArray mine = all.value(email.toLower()).toArray();
        for (const QJsonValue& entry : mine) {
            if (entry.toObject().value(u"id").toString() == appID)
                return;
        }
        mine.append(QJsonObject{{QStringLiteral("id"), appID},
                                {QStringLiteral("name"), name},
                                {QStringLiteral("date"), QDate::currentDate().toString(Qt::ISODate)}});
        all.insert(email.toLower(), mine);
        root.insert(QStringLiteral("licenses"), all);
    });
}

QList<Purchase> licences(const QString& email)
{
    QList<Purchase> list;
    const QJsonArray mine = read().value(u"licenses").toObject().value(email.toLower()).toArray();
    for (const QJsonValue& value : mine) {
        const QJsonObject entry = value.toObject();
        Purchase purchase;
        purchase.id = entry.value(u"id").toString();
        purchase.name = entry.value(u"name").toString();
        purchase.date = QDate::fromString(entry.value(u"date").toString(), Qt::ISODate);
        list.append(purchase);
    }
    return list;
}

bool hasLicence(const QString& email, const QString& appID)
{
    const QList<Purchase> list = licences(email);
    return std::any_of(list.begin(), list.end(), [&](const Purchase& p) { return p.id == appID; });
}

void recordInstall(const QString& udid, const QString& bundleID, const QJsonObject& details)
{
    update([&](QJsonObject& root) {
        QJsonObject all = root.value(u"installed").toObject();
        QJsonObject onDevice = all.value(udid).toObject();
        onDevice.insert(bundleID, details);
        all.insert(udid, onDevice);
        root.insert(QStringLiteral("installed"), all);
    });
}

void logCall(const QString& tool, const QStringList& args)
{
    QDir().mkpath(folder());
    const QJsonObject entry{{QStringLiteral("tool"), tool},
                            {QStringLiteral("args"), QJsonArray::fromStringList(args)},
                            {QStringLiteral("cwd"), QDir::currentPath()}};
    const QByteArray line = QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n';
    // One append-mode write per line keeps lines whole when tools run side by side.
    const int fd = ::open(QFile::encodeName(folder() + QStringLiteral("/calls.jsonl")).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
    ::close(fd);
}

} // namespace state

} // namespace telmora::sim
