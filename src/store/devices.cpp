#include "store/store.h"

#include "model/errors.h"
#include "model/parsers.h"
#include "model/text.h"
#include "tools/bin.h"
#include "tools/pty.h"
#include "tools/runner.h"

#include <QCoroFuture>
#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <chrono>
#include <filesystem>

namespace telmora {

namespace {

const QString unknownVersion = QStringLiteral("?");
constexpr auto pollingPause = std::chrono::seconds(4);
constexpr qsizetype installerOutputLimit = 4000;

// Tool output trimmed of white space and line breaks at both ends.
QString trimmedOutput(const QString& text) { return text.trimmed(); }

bool isUDID(const QString& line)
{
    static const QRegularExpression udid(QStringLiteral("^[0-9A-Fa-f-]{20,}$"), QRegularExpression::UseUnicodePropertiesOption);
    return udid.match(line).hasMatch();
}

bool isDottedVersion(const QString& text)
{
    static const QRegularExpression version(QStringLiteral("^\\d+(\\.\\d+)+$"), QRegularExpression::UseUnicodePropertiesOption);
    return version.match(text).hasMatch();
}

// Copies the package into a fresh folder as "app.ipa"; the error description on failure.
// Runs on a worker: packages can be gigabytes.
std::optional<QString> copyForInstaller(const QString& source, const QString& folder, const QString& target)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(folder.toStdString()), error);
    if (error)
        return QString::fromLocal8Bit(error.message().c_str());
    QFile file(source);
    if (!file.copy(target))
        return file.errorString();
    return std::nullopt;
}

} // namespace

void Store::startDevicesPolling()
{
    if (m_pollingStarted)
        return;
    m_pollingStarted = true;
    pollDevices();
}

QCoro::Task<> Store::pollDevices()
{
    QPointer<Store> self(this);
    while (self) {
        QCoro::Task<> refresh = refreshDevices();
        co_await refresh;
        if (!self)
            co_return;
        // The pause counts from the end of the refresh, so a slow refresh never overlaps the next.
        co_await QCoro::sleepFor(pollingPause);
    }
}

QCoro::Task<> Store::refreshDevices()
{
    if (m_devicesRefreshing)
        co_return;
    m_devicesRefreshing = true;
    QPointer<Store> self(this);
    const auto release = qScopeGuard([self] {
        if (self)
            self->m_devicesRefreshing = false;
    });

    // Calls are made outside the co_await expressions: GCC 12 destroys argument copies
    // made inside one twice.
    const QString deviceIds = Bin::tool(QStringLiteral("idevice_id"));
    const QString deviceInfo = Bin::tool(QStringLiteral("ideviceinfo"));
    const QStringList listArgs{QStringLiteral("-l")};
    QCoro::Task<ToolResult> listRun = runTool(deviceIds, listArgs);
    const ToolResult listing = co_await listRun;
    if (!self)
        co_return;
    // Without usbmuxd the tool cannot list anything: say so once, and keep polling until it
    // answers again (the phones it then lists are read as usual).
    setDeviceServiceMissing(listing.status != 0 && listing.err.contains(u"Unable to retrieve device list"));

    static const QRegularExpression lineBreak(QStringLiteral("[\\r\\n]"));
    QStringList udids;
    for (const QString& line : listing.out.split(lineBreak, Qt::SkipEmptyParts)) {
        const QString trimmed = trimSpacesAndTabs(line);
        if (isUDID(trimmed))
            udids.append(trimmed);
    }

    QList<Device> found;
    for (const QString& udid : std::as_const(udids)) {
        // A device that has told its version keeps its record: no tool runs for it again.
        const auto known = std::find_if(m_devices.cbegin(), m_devices.cend(), [&udid](const Device& device) {
            return device.id == udid && device.iosVersion != unknownVersion;
        });
        if (known != m_devices.cend()) {
            found.append(*known);
            continue;
        }
        const QStringList nameArgs{udid};
        QCoro::Task<ToolResult> nameRun = runTool(deviceIds, nameArgs);
        const ToolResult nameResult = co_await nameRun;
        if (!self)
            co_return;
        QString name = trimmedOutput(nameResult.out);
        if (name.isEmpty())
            name = QStringLiteral("iPhone");
        const QStringList versionArgs{QStringLiteral("-u"), udid, QStringLiteral("-k"), QStringLiteral("ProductVersion")};
        QCoro::Task<ToolResult> versionRun = runTool(deviceInfo, versionArgs);
        const ToolResult versionResult = co_await versionRun;
        if (!self)
            co_return;
        const QString version = trimmedOutput(versionResult.out);
        found.append(Device{udid, name, isDottedVersion(version) ? version : unknownVersion});
    }

    setDevices(found);
    const bool selectionPresent = m_selectedDevice && std::any_of(found.cbegin(), found.cend(), [this](const Device& device) {
                                      return device.id == *m_selectedDevice;
                                  });
    if (!selectionPresent)
        setSelectedDevice(found.isEmpty() ? std::nullopt : std::optional<QString>(found.constFirst().id));

    if (m_awaitingDevice && readyDevice()) {
        const QString file = m_awaitingDevice->file;
        setAwaitingDevice(std::nullopt);
        setShowDeviceHelp(false);
        // Polling waits for this install (and the queue behind it) to end.
        QCoro::Task<> parked = install(file);
        co_await parked;
    }
}

std::optional<Device> Store::readyDevice() const
{
    if (!m_selectedDevice)
        return std::nullopt;
    for (const Device& device : m_devices) {
        if (device.id == *m_selectedDevice)
            return device.iosVersion != unknownVersion ? std::optional<Device>(device) : std::nullopt;
    }
    return std::nullopt;
}

QCoro::Task<> Store::install(const QString& url)
{
    QPointer<Store> self(this);
    const QString fileName = QFileInfo(url).fileName();
    const auto stored = std::find_if(m_files.cbegin(), m_files.cend(), [&fileName](const IPAFile& file) {
        return QFileInfo(file.url).fileName() == fileName;
    });
    if (stored == m_files.cend())
        co_return;
    // The stored file's own location is the identity from here on, whatever form the caller used.
    const IPAFile file = *stored;
    const QString location = file.url;
    const QString title = file.info ? file.info->name : fileName;

    const std::optional<Device> device = readyDevice();
    if (!device) {
        setAwaitingDevice(AwaitingDevice{location, title});
        co_return;
    }
    if (m_installing) {
        if (!m_installQueue.contains(location))
            setInstallQueue(m_installQueue + QStringList{location});
        co_return;
    }

    QMap<QString, QString> errors = m_installErrors;
    errors.remove(location);
    setInstallErrors(errors);

    if (file.info && file.info->minOS != QLatin1String("NA") && compareVersions(device->iosVersion, file.info->minOS) < 0) {
        errors.insert(location, QStringLiteral("Нужна iOS ") + file.info->minOS + QStringLiteral(" или новее, а на ") + device->name
                                    + QStringLiteral(" стоит ") + device->iosVersion + QStringLiteral("."));
        setInstallErrors(errors);
        QCoro::Task<> next = installNext();
        co_await next;
        co_return;
    }

    setInstalling(location);
    setInstallStatus(QStringLiteral("Подготовка…"));
    setInstallFraction(std::nullopt);

    const QString folder = QDir(QDir::tempPath()).filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
    const QString copy = QDir(folder).filePath(QStringLiteral("app.ipa"));
    const auto removeFolder = qScopeGuard([folder] { QDir(folder).removeRecursively(); });

    QFuture<std::optional<QString>> copying = QtConcurrent::run([location, folder, copy] { return copyForInstaller(location, folder, copy); });
    const std::optional<QString> copyError = co_await copying;
    if (!self)
        co_return;

    std::optional<QString> failure;
    if (copyError) {
        failure = *copyError;
    } else {
        QCoro::Task<InstallerResult> installRun = runInstaller(device->id, false, copy);
        InstallerResult result = co_await installRun;
        if (!self)
            co_return;
        if (result.status != 0) {
            // An app already on the phone refuses "install" in some tool versions; "upgrade" replaces it.
            QCoro::Task<InstallerResult> upgradeRun = runInstaller(device->id, true, copy);
            result = co_await upgradeRun;
            if (!self)
                co_return;
        }
        if (result.status == 0) {
            QSet<QString> installed = m_installed;
            installed.insert(location);
            setInstalled(installed);
            setNotice(QStringLiteral("Установлено на ") + device->name + QStringLiteral(": ") + title);
        } else {
            failure = friendlyError(result.output);
        }
    }
    if (failure) {
        QMap<QString, QString> failed = m_installErrors;
        failed.insert(location, *failure);
        setInstallErrors(failed);
        setNotice(title + QStringLiteral(": ") + *failure);
    }

    QDir(folder).removeRecursively();
    setInstalling(std::nullopt);
    setInstallStatus(std::nullopt);
    setInstallFraction(std::nullopt);
    QCoro::Task<> next = installNext();
    co_await next;
}

QCoro::Task<> Store::installNext()
{
    if (m_installing || m_installQueue.isEmpty())
        co_return;
    QStringList queue = m_installQueue;
    const QString next = queue.takeFirst();
    setInstallQueue(queue);
    QCoro::Task<> run = install(next);
    co_await run;
}

QCoro::Task<Store::InstallerResult> Store::runInstaller(QString udid, bool upgrade, QString path)
{
    QPointer<Store> self(this);
    if (!m_installerSyntax) {
        // Asked once: the tool's syntax does not change while the application runs.
        QCoro::Task<installer::Syntax> asking = installer::askSyntax();
        const installer::Syntax syntax = co_await asking;
        if (!self)
            co_return InstallerResult{};
        m_installerSyntax = syntax;
    }
    const QStringList args = installer::arguments(*m_installerSyntax, udid, upgrade, path);
    auto tool = std::make_shared<PTYTool>(installer::executable(), args, std::nullopt);
    auto output = std::make_shared<QString>();

    std::optional<QString> startError;
    try {
        tool->start([self, output](const QString& chunk) {
            if (!self)
                return;
            const Progress progress = readOutputChunk(chunk, *output, installerOutputLimit).progress;
            if (progress.fraction) {
                const double fraction = *progress.fraction;
                self->setInstallStatus(QStringLiteral("Установка: ") + QString::number(wholePercent(fraction)) + QStringLiteral("%"));
                self->setInstallFraction(fraction);
            }
        });
    } catch (const ToolStartError& error) {
        startError = error.description();
    }
    if (startError)
        co_return InstallerResult{-1, *startError};

    // The installer must not outlive the model that reads it.
    const std::weak_ptr<PTYTool> weakTool = tool;
    const QMetaObject::Connection stopOnDestroy = connect(this, &QObject::destroyed, [weakTool] {
        if (const auto running = weakTool.lock())
            running->terminate();
    });
    const auto disconnectGuard = qScopeGuard([stopOnDestroy] { QObject::disconnect(stopOnDestroy); });

    const int status = co_await tool->wait();
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    co_return InstallerResult{status, *output};
}

} // namespace telmora
