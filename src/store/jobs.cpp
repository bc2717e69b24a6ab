#include "store/store.h"

#include "model/errors.h"
#include "model/ipa.h"
#include "model/parsers.h"
#include "model/text.h"
#include "platform/platform.h"
#include "tools/bin.h"
#include "tools/ipatool.h"
#include "tools/pty.h"

#include <QCoroTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <filesystem>
#include <system_error>

namespace telmora {

namespace {

constexpr qsizetype outputKept = 4000;

const QString reloginMessage = QStringLiteral("Apple просит войти снова. Войдите и повторите загрузку.");
const QString sessionLostMessage = QStringLiteral("Сессия истекла. Войдите снова.");

// What the download tool asks when its stored sign-in is no longer accepted.
bool asksForCredentials(const QString& text)
{
    return text.contains(u"Enter email:") || text.contains(u"Enter password:") || text.contains(u"Enter 2FA code:");
}

// Creates the folder; the system's description of the failure otherwise.
std::optional<QString> makeFolder(const QString& path)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(QFile::encodeName(path).toStdString()), error);
    if (error)
        return QString::fromLocal8Bit(error.message().c_str());
    return std::nullopt;
}

// The first package the tool left in its working folder.
std::optional<QString> firstPackage(const QString& folder)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                                            QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!entry.isDir() && entry.suffix().toLower() == u"ipa")
            return entry.absoluteFilePath();
    }
    return std::nullopt;
}

} // namespace

qsizetype Store::jobIndex(const QUuid& id) const
{
    for (qsizetype index = 0; index < m_jobs.size(); ++index) {
        if (m_jobs.at(index).id == id)
            return index;
    }
    return -1;
}

bool Store::updateJob(const QUuid& id, const std::function<void(Job&)>& change)
{
    const qsizetype index = jobIndex(id);
    if (index < 0)
        return false;
    QList<Job> jobs = m_jobs;
    change(jobs[index]);
    setJobs(jobs);
    return true;
}

void Store::enqueue(const QList<AppItem>& apps, const std::optional<QString>& versionID,
                    const std::optional<QString>& versionLabel, bool install)
{
    if (!m_email) {
        // Repeated once a sign-in succeeds; nothing is queued now.
        m_afterLogin = [this, apps, versionID, versionLabel, install] { enqueue(apps, versionID, versionLabel, install); };
        beginLogin(QString(), false);
        return;
    }
    if (apps.isEmpty())
        return;
    QList<Job> jobs = m_jobs;
    for (const AppItem& app : apps) {
        Job job;
        job.app = app;
        job.versionID = versionID;
        job.versionLabel = versionLabel;
        job.install = install;
        jobs.prepend(job);
    }
    setJobs(jobs);
    startNextJob();
}

void Store::getOrInstall(const QList<AppItem>& apps)
{
    QList<AppItem> missing;
    for (const AppItem& app : apps) {
        if (const std::optional<IPAFile> stored = file(app.id))
            install(stored->url);
        else
            missing.append(app);
    }
    if (!missing.isEmpty())
        enqueue(missing, std::nullopt, std::nullopt, readyDevice().has_value());
}

std::optional<Job> Store::latestJob(const QString& appID) const
{
    for (const Job& job : m_jobs) {
        if (job.app.id == appID)
            return job;
    }
    return std::nullopt;
}

void Store::cancel(const Job& job)
{
    updateJob(job.id, [](Job& listed) { listed.state = Job::State::cancelled(); });
    // The rest of the clean-up happens in run() once the tool has exited.
    if (m_runningJob == job.id && m_runningTool && m_runningTool->isRunning())
        m_runningTool->terminate();
}

void Store::removeJob(const Job& job)
{
    QList<Job> jobs = m_jobs;
    jobs.removeIf([&](const Job& listed) { return listed.id == job.id; });
    setJobs(jobs);
}

void Store::perform(const AppSituation::Action& action, const AppItem& app)
{
    using Kind = AppSituation::Action::Kind;
    switch (action.kind) {
    case Kind::install:
        install(action.file);
        break;
    case Kind::cancel:
        cancel(action.job);
        break;
    case Kind::retry: {
        const Job job = action.job;
        removeJob(job);
        enqueue({app}, job.versionID, job.versionLabel, job.install);
        break;
    }
    case Kind::get:
        getOrInstall({app});
        break;
    case Kind::chooseVersion:
        openVersions(app);
        break;
    }
}

QCoro::Task<> Store::acquireLicense(const AppItem& app)
{
    const AppItem item = app; // the caller's copy may not outlive the first suspension
    QPointer<Store> self(this);
    if (!m_email) {
        beginLogin(QString(), false);
        co_return;
    }
    setNotice(QStringLiteral("Получаю лицензию: ") + item.name + u'…');
    const ToolResult result = co_await ipatool(ipatool::purchase(item.id));
    if (!self)
        co_return;
    if (result.status == 0) {
        setNotice(QStringLiteral("Лицензия получена: ") + item.name);
        co_return;
    }
    const QString text = result.out + result.err;
    if (handleAuthLoss(text))
        co_return;
    setNotice(item.name + QStringLiteral(": ") + friendlyError(text));
}

void Store::startNextJob()
{
    if (m_runningJob)
        return;
    // Oldest waiting first: new jobs are at the front.
    for (qsizetype index = m_jobs.size() - 1; index >= 0; --index) {
        if (m_jobs.at(index).state.kind != Job::State::Kind::waiting)
            continue;
        const Job job = m_jobs.at(index);
        m_runningJob = job.id;
        updateJob(job.id, [](Job& listed) { listed.state = Job::State::running(); });
        run(job);
        return;
    }
}

QCoro::Task<> Store::run(Job job)
{
    QPointer<Store> self(this);
    const QUuid id = job.id;
    const QString folder =
        QDir(m_downloadsFolder).filePath(QStringLiteral(".tmp-") + id.toString(QUuid::WithoutBraces).toUpper());

    // Every path out of a run ends here: no folder left behind, the queue moves on.
    auto finish = [this, self, folder, id] {
        QDir(folder).removeRecursively();
        if (!self)
            return;
        if (m_runningJob == id) {
            m_runningJob.reset();
            m_runningTool.reset();
        }
        startNextJob();
    };
    auto fail = [this, id](const QString& message) {
        updateJob(id, [&](Job& listed) { listed.state = Job::State::failed(message); });
    };

    if (const std::optional<QString> error = makeFolder(folder)) {
        fail(*error);
        finish();
        co_return;
    }

    // Shared with the output handler for the life of this run.
    struct Output {
        QString buffer;
        bool relogin = false;
    };
    auto output = std::make_shared<Output>();
    auto tool = std::make_shared<PTYTool>(Bin::tool(QStringLiteral("ipatool")), ipatool::download(job.app.id, job.versionID),
                                          std::optional<QString>(folder));
    m_runningTool = tool;
    std::weak_ptr<PTYTool> weakTool = tool;
    try {
        tool->start([self, output, id, weakTool](const QString& chunk) {
            if (!self)
                return;
            const OutputChunk read = readOutputChunk(chunk, output->buffer, outputKept);
            // A prompt may straddle two chunks: look a little behind this one too.
            if (!output->relogin && asksForCredentials(output->buffer.right(read.text.size() + 16))) {
                output->relogin = true;
                if (const std::shared_ptr<PTYTool> running = weakTool.lock(); running && running->isRunning())
                    running->terminate();
            }
            const Progress& progress = read.progress;
            if (progress.fraction || progress.speed) {
                self->updateJob(id, [&](Job& listed) {
                    if (progress.fraction)
                        listed.fraction = progress.fraction;
                    if (progress.speed)
                        listed.detail = progress.speed;
                });
            }
        });
    } catch (const ToolStartError& error) {
        fail(error.description());
        finish();
        co_return;
    }

    // A tool that prints no percentage still shows how much has arrived.
    QTimer sizeWatcher;
    sizeWatcher.setInterval(1000);
    sizeWatcher.setTimerType(Qt::PreciseTimer);
    connect(&sizeWatcher, &QTimer::timeout, this, [this, folder, id] {
        const qint64 size = folderSize(folder);
        if (size < 1)
            return;
        const qsizetype index = jobIndex(id);
        if (index < 0 || (m_jobs.at(index).detail && m_jobs.at(index).fraction))
            return;
        updateJob(id, [&](Job& listed) { listed.detail = formattedSize(size); });
    });
    sizeWatcher.start();

    const int status = co_await tool->wait();
    sizeWatcher.stop();
    if (!self) {
        QDir(folder).removeRecursively();
        co_return;
    }
    co_await QCoro::sleepFor(std::chrono::milliseconds(0));
    if (!self) {
        QDir(folder).removeRecursively();
        co_return;
    }

    const qsizetype index = jobIndex(id);
    if (index >= 0 && m_jobs.at(index).state.kind == Job::State::Kind::cancelled) {
        finish();
        co_return;
    }
    if (output->relogin) {
        fail(reloginMessage);
        const QString previous = m_email.value_or(QString());
        setEmail(std::nullopt);
        beginLogin(previous, false);
        finish();
        co_return;
    }
    if (status != 0) {
        fail(handleAuthLoss(output->buffer) ? sessionLostMessage : friendlyError(output->buffer));
        finish();
        co_return;
    }

    // Success: name the package from its own metadata and move it into place.
    const std::optional<QString> downloaded = firstPackage(folder);
    if (!downloaded) {
        fail(friendlyError(output->buffer));
        finish();
        co_return;
    }
    std::optional<IPAInfo> read = co_await readIPAInfo(*downloaded);
    if (!self) {
        QDir(folder).removeRecursively();
        co_return;
    }
    const IPAInfo info = read.value_or(IPAInfo{QStringLiteral("App"), QStringLiteral("0"), QStringLiteral("NA"), QStringLiteral("iOS")});
    const std::optional<QString> appName =
        job.app.name.startsWith(QStringLiteral("ID ")) ? std::nullopt : std::optional<QString>(job.app.name);
    const QString fileName = ipaFileName(info, appName, m_email);
    const QString destination = QDir(m_downloadsFolder).filePath(fileName);

    const QFileInfo existing(destination);
    if (existing.exists() || existing.isSymLink()) {
        if (const std::optional<QString> error = platform::moveToTrash(destination)) {
            fail(*error);
            finish();
            co_return;
        }
    }
    QFile moved(*downloaded);
    if (!moved.rename(destination)) {
        fail(moved.errorString());
        finish();
        co_return;
    }

    m_fileApps.insert(fileName, job.app.id);
    saveFileApps();
    if (m_installed.contains(destination)) {
        QSet<QString> installed = m_installed;
        installed.remove(destination);
        setInstalled(installed);
    }
    co_await refreshFiles();
    if (!self) {
        QDir(folder).removeRecursively();
        co_return;
    }
    updateJob(id, [&](Job& listed) {
        listed.fraction = 1.0;
        listed.state = Job::State::done(fileName);
    });
    if (job.install)
        install(destination);
    finish();
}

} // namespace telmora
