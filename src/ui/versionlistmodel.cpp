#include "ui/versionlistmodel.h"

#include "ui/labels.h"

namespace telmora {

VersionListModel::VersionListModel(QObject* parent)
    : RowModel(parent)
{
}

int VersionListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QHash<int, QByteArray> VersionListModel::roleNames() const
{
    return {{IdRole, "versionId"}, {TitleRole, "title"},   {SubtitleRole, "subtitle"}, {LabelRole, "label"},
            {SuitableRole, "suitable"}, {FirstRole, "isFirst"}, {LastRole, "isLast"}};
}

QVariant VersionListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case IdRole:
        return row.id;
    case TitleRole:
    case LabelRole:
        return row.title;
    case SubtitleRole:
        return row.subtitle;
    case SuitableRole:
        return row.suitable;
    case FirstRole:
        return index.row() == 0;
    case LastRole:
        return index.row() == m_rows.size() - 1;
    default:
        return {};
    }
}

void VersionListModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    m_store.on(&Store::versionsChanged, this, &VersionListModel::reload);
    m_store.on(&Store::readyDeviceChanged, this, &VersionListModel::reload);
    reload();
    Q_EMIT storeChanged();
}

void VersionListModel::reload()
{
    QList<Row> rows;
    if (m_store) {
        const QList<VersionRow>& versions = m_store->versions();
        const qsizetype suitable = labels::suitableVersion(versions, m_store->readyDevice());
        rows.reserve(versions.size());
        for (qsizetype index = 0; index < versions.size(); ++index) {
            const VersionRow& version = versions.at(index);
            const bool hasDetails = version.meta.has_value();
            rows.append(Row{version.id, hasDetails ? version.meta->display.value_or(QString()) : QString(),
                            labels::versionSubtitle(version), hasDetails, index == suitable});
        }
    }
    // The first and last flags move with insertions at either end.
    const bool edgesMove = !rows.isEmpty() && !m_rows.isEmpty() && (rows.size() != m_rows.size());
    syncRows(m_rows, rows, [](const Row& row) { return row.id; });
    if (edgesMove)
        Q_EMIT dataChanged(index(0), index(count() - 1), {FirstRole, LastRole});
    Q_EMIT changed();
}

QString VersionListModel::header() const
{
    return m_store ? labels::versionsHeader(m_store->readyDevice()) : QString();
}

QString VersionListModel::actionTitle() const
{
    return m_store && m_store->readyDevice() ? QStringLiteral("Установить") : QStringLiteral("Скачать");
}

bool VersionListModel::missingDetails() const
{
    return std::any_of(m_rows.cbegin(), m_rows.cend(), [](const Row& row) { return !row.hasDetails; });
}

} // namespace telmora
