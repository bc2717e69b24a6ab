#include "store/store.h"

#include "model/parsers.h"
#include "model/plist.h"
#include "model/text.h"
#include "platform/platform.h"
#include "tools/bin.h"
#include "tools/ipatool.h"
#include "tools/pty.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>


namespace telmora {

namespace {

// The information dictionary of the package; empty when it cannot be read.
QVariantMap readInfoDictionary(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readPlistDictionary(file.readAll()).value_or(QVariantMap());
}

QString firstStandardFolder(QStandardPaths::StandardLocation location, const QString& fallback)
{
    const QStringList folders = QStandardPaths::standardLocations(location);
    return folders.isEmpty() ? fallback : folders.constFirst();
}

template<typename T>
QVariantList toVariantList(const QList<T>& values)
{
    QVariantList list;
    list.reserve(values.size());
    for (const T& value : values)
        list.append(QVariant::fromValue(value));
    return list;
}

} // namespace

StoreOptions StoreOptions::system()
{
    StoreOptions options;
    options.packageFolder = platform::packageFolder();
    options.resourcesFolder = platform::resourcesFolder();
    options.info = readInfoDictionary(QDir(options.resourcesFolder).filePath(QStringLiteral("Info.plist")));
    return options;
}

Store::Store(StoreOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    const QString home = QDir::homePath();
    m_sessionFolder = QDir(home).filePath(QStringLiteral(".ipatool"));
    // The application-support folder of the free desktops is ~/.local/share.
    m_downloadsFolder = QDir(firstStandardFolder(QStandardPaths::DownloadLocation, QDir(home).filePath(QStringLiteral("Downloads"))))
                            .filePath(QStringLiteral("Telmora"));
    m_dataFolder = QDir(firstStandardFolder(QStandardPaths::GenericDataLocation, QDir(home).filePath(QStringLiteral(".local/share"))))
                       .filePath(QStringLiteral("Telmora"));

    QFile catalogFile(QDir(m_options.resourcesFolder).filePath(QStringLiteral("AppsList.txt")));
    m_catalog = parseCatalog(catalogFile.open(QIODevice::ReadOnly) ? QString::fromUtf8(catalogFile.readAll()) : QString());

    Bin::clearQuarantine();

    // Derived values follow their inputs.
    connect(this, &Store::jobsChanged, this, &Store::activeJobCountChanged);
    connect(this, &Store::devicesChanged, this, &Store::readyDeviceChanged);
    connect(this, &Store::selectedDeviceChanged, this, &Store::readyDeviceChanged);
    for (auto signal : {&Store::jobsChanged, &Store::filesChanged, &Store::readyDeviceChanged, &Store::detailsChanged,
                        &Store::installingChanged, &Store::installFractionChanged, &Store::installStatusChanged,
                        &Store::installQueueChanged, &Store::installErrorsChanged, &Store::installedChanged})
        connect(this, signal, this, &Store::situationsChanged);

    if (m_options.autoStart)
        start();
}

Store::~Store()
{
    // Children must not outlive the model that reads them.
    if (m_loginTool)
        m_loginTool->terminate();
    if (m_runningTool)
        m_runningTool->terminate();
}

QCoro::Task<> Store::start()
{
    QPointer<Store> self(this);
    const QString downloads = m_downloadsFolder;
    const QString data = m_dataFolder;
    // A capturing lambda inside a co_await expression is destroyed twice by GCC 12.
    QFuture<void> preparation = QtConcurrent::run([downloads, data] { prepareFolders(downloads, data); });
    co_await preparation;
    if (!self)
        co_return;
    loadFileApps();
    co_await checkAuth(false);
    if (!self)
        co_return;
    if (!m_email && m_savedAccounts.isEmpty())
        beginLogin(QString(), false);
    co_await refreshFiles();
    if (!self)
        co_return;
    reportFailedUpdate();
    // Installs need the device list whether or not this build updates itself.
    startDevicesPolling();
    if (updateIsConfigured()) {
        co_await QCoro::sleepFor(std::chrono::seconds(4));
        if (!self)
            co_return;
        co_await checkForUpdates(false);
    }
}

void Store::prepareFolders(const QString& downloads, const QString& data)
{
    for (const QString& folder : {data, downloads}) {
        const QFileInfo target(folder);
        const QString old = QDir(target.absolutePath()).filePath(QStringLiteral("Carvell"));
        if (QFileInfo::exists(old) && !target.exists())
            QDir().rename(old, folder);
    }
    QDir().mkpath(downloads);
    const QDir downloadsDir(downloads);
    // Exactly the prefix the jobs use: QDir's name filters ignore case, and ".TMP-mine" is
    // the user's own.
    const QStringList entries = downloadsDir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        if (!name.startsWith(QStringLiteral(".tmp-")))
            continue;
        const QString path = downloadsDir.filePath(name);
        if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

QCoro::Task<> Store::checkAuth(bool freshSession)
{
    QPointer<Store> self(this);
    const ToolResult result = co_await ipatool(ipatool::authInfo());
    if (!self)
        co_return;
    const std::optional<QString> found = parseEmail(result.out);
    if (freshSession && found) {
        if (const std::optional<QString> folder = accountFolder(*found))
            QDir(*folder).removeRecursively();
    }
    setEmail(found);
    setAuthChecked(true);
    refreshSavedAccounts();
    if (m_email) {
        if (const std::optional<QString> cache = purchasesCacheURL()) {
            QFile file(*cache);
            if (file.open(QIODevice::ReadOnly)) {
                const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
                if (const auto cached = document.isArray() ? appItemsFromJson(document.array()) : std::nullopt)
                    setPurchases(*cached);
            }
        }
    }
}

QString deviceServiceNotice()
{
    return QStringLiteral("Служба устройств не отвечает, поэтому iPhone не виден. Запустите её: sudo systemctl start usbmuxd, или переподключите iPhone.");
}

std::optional<QString> parseEmail(const QString& authInfo)
{
    if (!authInfo.contains(QStringLiteral("success=true")))
        return std::nullopt;
    const std::optional<QStringList> match = groups(QStringLiteral("email=([^\\s]+)"), authInfo);
    if (!match)
        return std::nullopt;
    return match->at(1);
}

std::optional<QString> Store::accountFolder(const QString& email) const
{
    static const QRegularExpression unsafe(QStringLiteral("[\\\\/:*?\"<>|]|\\.\\."));
    if (email.contains(unsafe))
        return std::nullopt;
    return QDir(m_sessionFolder).filePath(email);
}

QCoro::Task<ToolResult> Store::ipatool(QStringList args)
{
    const QString exe = Bin::tool(QStringLiteral("ipatool"));
    co_return co_await runTool(exe, args);
}

void Store::loadFileApps()
{
    QFile file(QDir(m_dataFolder).filePath(QStringLiteral("files.json")));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isObject())
        return;
    QHash<QString, QString> map;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isString())
            return; // all values must be text, or the file counts as unreadable
        map.insert(it.key(), it.value().toString());
    }
    m_fileApps = map;
}

// ---- property setters ----

void Store::setEmail(const std::optional<QString>& email) { assign(m_email, email, &Store::emailChanged); }
void Store::setAuthChecked(bool checked) { assign(m_authChecked, checked, &Store::authCheckedChanged); }
void Store::setShowLogin(bool show) { assign(m_showLogin, show, &Store::showLoginChanged); }
void Store::setLoginStep(const LoginStep& step) { assign(m_loginStep, step, &Store::loginStepChanged); }
void Store::setSavedAccounts(const QStringList& accounts) { assign(m_savedAccounts, accounts, &Store::savedAccountsChanged); }
void Store::setLoginEmailHint(const QString& hint) { assign(m_loginEmailHint, hint, &Store::loginEmailHintChanged); }
void Store::setAddingAccount(bool adding) { assign(m_addingAccount, adding, &Store::addingAccountChanged); }
void Store::setUpdatePhase(const UpdatePhase& phase) { assign(m_updatePhase, phase, &Store::updatePhaseChanged); }
void Store::setUpdateOffer(const std::optional<UpdateOffer>& offer) { assign(m_updateOffer, offer, &Store::updateOfferChanged); }
void Store::setUpdateError(const std::optional<QString>& error) { assign(m_updateError, error, &Store::updateErrorChanged); }
void Store::setShowUpdate(bool show) { assign(m_showUpdate, show, &Store::showUpdateChanged); }
void Store::setQuery(const QString& query) { assign(m_query, query, &Store::queryChanged); }
void Store::setResults(const QList<AppItem>& results) { assign(m_results, results, &Store::resultsChanged); }
void Store::setSearching(bool searching) { assign(m_searching, searching, &Store::searchingChanged); }
void Store::setSearched(bool searched) { assign(m_searched, searched, &Store::searchedChanged); }
void Store::setSearchError(const std::optional<QString>& error) { assign(m_searchError, error, &Store::searchErrorChanged); }
void Store::setPurchases(const QList<AppItem>& purchases) { assign(m_purchases, purchases, &Store::purchasesChanged); }
void Store::setPurchasesLoading(bool loading) { assign(m_purchasesLoading, loading, &Store::purchasesLoadingChanged); }
void Store::setPurchasesError(const std::optional<QString>& error) { assign(m_purchasesError, error, &Store::purchasesErrorChanged); }
void Store::setJobs(const QList<Job>& jobs) { assign(m_jobs, jobs, &Store::jobsChanged); }
void Store::setVersions(const QList<VersionRow>& versions)
{
    // Rows have no equality of their own: every assignment is a change.
    m_versions = versions;
    Q_EMIT versionsChanged();
}
void Store::setVersionsLoading(bool loading) { assign(m_versionsLoading, loading, &Store::versionsLoadingChanged); }
void Store::setVersionsError(const std::optional<QString>& error) { assign(m_versionsError, error, &Store::versionsErrorChanged); }
void Store::setFiles(const QList<IPAFile>& files) { assign(m_files, files, &Store::filesChanged); }
void Store::setDevices(const QList<Device>& devices) { assign(m_devices, devices, &Store::devicesChanged); }
void Store::setSelectedDevice(const std::optional<QString>& udid) { assign(m_selectedDevice, udid, &Store::selectedDeviceChanged); }
void Store::setInstalling(const std::optional<QString>& file) { assign(m_installing, file, &Store::installingChanged); }
void Store::setInstallStatus(const std::optional<QString>& status) { assign(m_installStatus, status, &Store::installStatusChanged); }
void Store::setInstallFraction(const std::optional<double>& fraction) { assign(m_installFraction, fraction, &Store::installFractionChanged); }
void Store::setInstallQueue(const QStringList& queue) { assign(m_installQueue, queue, &Store::installQueueChanged); }
void Store::setInstallErrors(const QMap<QString, QString>& errors) { assign(m_installErrors, errors, &Store::installErrorsChanged); }
void Store::setInstalled(const QSet<QString>& installed) { assign(m_installed, installed, &Store::installedChanged); }
void Store::setAwaitingDevice(const std::optional<AwaitingDevice>& awaiting) { assign(m_awaitingDevice, awaiting, &Store::awaitingDeviceChanged); }
void Store::setShowDeviceHelp(bool show) { assign(m_showDeviceHelp, show, &Store::showDeviceHelpChanged); }

// The notice is said once when the service goes away, and taken back when it answers again.
void Store::setDeviceServiceMissing(bool missing)
{
    if (!assign(m_deviceServiceMissing, missing, &Store::deviceServiceMissingChanged))
        return;
    if (missing)
        setNotice(deviceServiceNotice());
    else if (m_notice == deviceServiceNotice())
        setNotice(std::nullopt);
}
void Store::setNotice(const std::optional<QString>& notice) { assign(m_notice, notice, &Store::noticeChanged); }

void Store::setDetail(const QString& id, const AppDetails& details)
{
    const auto existing = m_details.constFind(id);
    if (existing != m_details.cend() && *existing == details)
        return;
    m_details.insert(id, details);
    Q_EMIT detailChanged(id);
    Q_EMIT detailsChanged();
}

void Store::setVersionsApp(const std::optional<AppItem>& app) { assign(m_versionsApp, app, &Store::versionsAppChanged); }

// ---- QML-facing conversions ----

QVariantList Store::resultsValue() const { return toVariantList(m_results); }
QVariantList Store::purchasesValue() const { return toVariantList(m_purchases); }
QVariantList Store::jobsValue() const { return toVariantList(m_jobs); }
QVariantList Store::versionsValue() const { return toVariantList(m_versions); }
QVariantList Store::filesValue() const { return toVariantList(m_files); }
QVariantList Store::devicesValue() const { return toVariantList(m_devices); }

QVariantMap Store::detailsValue() const
{
    QVariantMap map;
    for (auto it = m_details.cbegin(); it != m_details.cend(); ++it)
        map.insert(it.key(), QVariant::fromValue(it.value()));
    return map;
}

QVariantMap Store::installErrorsValue() const
{
    QVariantMap map;
    for (auto it = m_installErrors.cbegin(); it != m_installErrors.cend(); ++it)
        map.insert(it.key(), it.value());
    return map;
}

namespace {
std::optional<QString> optionalText(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return std::nullopt;
    return value.toString();
}
} // namespace

void Store::setVersionsAppValue(const QVariant& app)
{
    setVersionsApp(app.canConvert<AppItem>() ? std::optional<AppItem>(app.value<AppItem>()) : std::nullopt);
}

void Store::setSelectedDeviceValue(const QVariant& udid) { setSelectedDevice(optionalText(udid)); }

void Store::setAwaitingDeviceValue(const QVariant& awaiting)
{
    setAwaitingDevice(awaiting.canConvert<AwaitingDevice>() ? std::optional<AwaitingDevice>(awaiting.value<AwaitingDevice>())
                                                             : std::nullopt);
}

void Store::setNoticeValue(const QVariant& notice) { setNotice(optionalText(notice)); }

QVariant Store::situationValue(const QVariant& app) const
{
    if (!app.canConvert<AppItem>())
        return {};
    return QVariant::fromValue(situation(app.value<AppItem>()));
}

} // namespace telmora
