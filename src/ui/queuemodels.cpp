#include "ui/queuemodels.h"

#include "store/store.h"
#include "ui/labels.h"

namespace telmora {

QString artworkOf(const Store* store, const QString& appID)
{
    if (!store)
        return {};
    const auto found = store->details().constFind(appID);
    return found != store->details().cend() && found->artwork ? found->artwork->toString() : QString();
}

// ---- JobListModel ----

JobListModel::JobListModel(QObject* parent)
    : RowModel(parent)
{
}

int JobListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QHash<int, QByteArray> JobListModel::roleNames() const
{
    return {{JobRole, "job"},       {AppRole, "app"},       {TitleRole, "title"},          {StateRole, "rowState"},
            {FractionRole, "fraction"}, {StatusRole, "status"}, {RemoveLabelRole, "removeLabel"}, {ArtworkRole, "artwork"}};
}

QVariant JobListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Job& job = m_rows.at(index.row());
    using Kind = Job::State::Kind;
    switch (role) {
    case JobRole:
        return QVariant::fromValue(job);
    case AppRole:
        return QVariant::fromValue(job.app);
    case TitleRole:
        return labels::jobTitle(job);
    case StateRole:
        return QVariant::fromValue(job.state.kind == Kind::running  ? RowState::Running
                                   : job.state.kind == Kind::failed ? RowState::Failed
                                                                    : RowState::Waiting);
    case FractionRole:
        return job.fractionValue();
    case StatusRole:
        switch (job.state.kind) {
        case Kind::running:
            return labels::runningText(job);
        case Kind::failed:
            return job.state.payload;
        default:
            return QStringLiteral("В очереди");
        }
    case RemoveLabelRole:
        return QStringLiteral("Убрать: ") + job.app.name;
    case ArtworkRole:
        return artworkOf(m_store.get(), job.app.id);
    default:
        return {};
    }
}

void JobListModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    m_store.on(&Store::jobsChanged, this, &JobListModel::reload);
    m_store.on(&Store::detailChanged, this, &JobListModel::refreshArtwork);
    reload();
    Q_EMIT storeChanged();
}

void JobListModel::reload()
{
    const int before = count();
    QList<Job> queue;
    if (m_store) {
        using Kind = Job::State::Kind;
        for (const Job& job : m_store->jobs()) {
            if (job.isActive() || job.state.kind == Kind::failed)
                queue.append(job);
        }
    }
    syncRows(m_rows, queue, [](const Job& job) { return job.id; });
    if (count() != before)
        Q_EMIT countChanged();
}

void JobListModel::refreshArtwork(const QString& appID)
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).app.id == appID)
            Q_EMIT dataChanged(index(i), index(i), {ArtworkRole});
    }
}

// ---- FileListModel ----

FileListModel::FileListModel(QObject* parent)
    : RowModel(parent)
{
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QHash<int, QByteArray> FileListModel::roleNames() const
{
    return {{FileRole, "file"},       {UrlRole, "url"},         {FileNameRole, "fileName"}, {AppRole, "app"},
            {HasAppRole, "hasApp"},   {TitleRole, "title"},     {SubtitleRole, "subtitle"}, {StateRole, "installState"},
            {MessageRole, "message"}, {MarkRole, "mark"},       {ActionTitleRole, "actionTitle"},
            {ArtworkRole, "artwork"}};
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case FileRole:
        return QVariant::fromValue(row.file);
    case UrlRole:
        return row.file.url;
    case FileNameRole:
        return row.file.fileName();
    case AppRole:
        // The icon of the app the file came from, named like the row.
        return QVariant::fromValue(AppItem{row.file.appID.value_or(QString()), labels::fileTitle(row.file), {}, {}, {}, {}});
    case HasAppRole:
        return row.file.appID.has_value();
    case TitleRole:
        return labels::fileTitle(row.file);
    case SubtitleRole:
        return labels::fileSubtitle(row.file);
    case StateRole:
        return QVariant::fromValue(row.state);
    case MessageRole:
        return row.message;
    case MarkRole:
        if (row.state == InstallState::Failed)
            return QStringLiteral("exclamationmark");
        if (row.state == InstallState::Installed)
            return QStringLiteral("checkmark");
        return {};
    case ActionTitleRole:
        return row.state == InstallState::Installed ? QStringLiteral("Установить снова") : QStringLiteral("Установить");
    case ArtworkRole:
        return row.file.appID ? artworkOf(m_store.get(), *row.file.appID) : QString();
    default:
        return {};
    }
}

void FileListModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    for (auto signal : {&Store::filesChanged, &Store::installingChanged, &Store::installQueueChanged,
                        &Store::installErrorsChanged, &Store::installedChanged})
        m_store.on(signal, this, &FileListModel::reload);
    m_store.on(&Store::detailChanged, this, &FileListModel::refreshArtwork);
    reload();
    Q_EMIT storeChanged();
}

void FileListModel::reload()
{
    const int before = count();
    QList<Row> rows;
    if (m_store) {
        for (const IPAFile& file : m_store->files()) {
            Row row{file, InstallState::Ready, {}};
            if (m_store->installing() == file.url) {
                row.state = InstallState::Installing;
            } else if (m_store->installQueue().contains(file.url)) {
                row.state = InstallState::Queued;
            } else if (const auto error = m_store->installErrors().constFind(file.url); error != m_store->installErrors().cend()) {
                row.state = InstallState::Failed;
                row.message = *error;
            } else if (m_store->installed().contains(file.url)) {
                row.state = InstallState::Installed;
            }
            rows.append(row);
        }
    }
    syncRows(m_rows, rows, [](const Row& row) { return row.file.url; });
    if (count() != before)
        Q_EMIT countChanged();
}

} // namespace telmora

namespace telmora {

void FileListModel::refreshArtwork(const QString& appID)
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).file.appID == appID)
            Q_EMIT dataChanged(index(i), index(i), {ArtworkRole});
    }
}

} // namespace telmora
