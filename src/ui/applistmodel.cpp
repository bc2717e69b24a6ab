#include "ui/applistmodel.h"

#include "store/store.h"
#include "ui/labels.h"

#include <QTimer>

namespace telmora {

AppListModel::AppListModel(QObject* parent)
    : RowModel(parent)
{
}

int AppListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QHash<int, QByteArray> AppListModel::roleNames() const
{
    return {
        {AppRole, "app"},
        {AppIdRole, "appId"},
        {NameRole, "name"},
        {SubtitleRole, "subtitle"},
        {ArtworkRole, "artwork"},
        {SituationRole, "situation"},
        {HintRole, "hint"},
        {SelectedRole, "selected"},
    };
}

QVariant AppListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || !m_store)
        return {};
    const AppItem& app = m_rows.at(index.row()).app;
    const auto details = [&]() -> std::optional<AppDetails> {
        const auto found = m_store->details().constFind(app.id);
        return found == m_store->details().cend() ? std::nullopt : std::optional<AppDetails>(*found);
    };
    switch (role) {
    case AppRole:
        return QVariant::fromValue(app);
    case AppIdRole:
        return app.id;
    case NameRole:
        return app.name;
    case SubtitleRole:
        return labels::rowSubtitle(app, details());
    case ArtworkRole: {
        const std::optional<AppDetails> found = details();
        return found && found->artwork ? found->artwork->toString() : QString();
    }
    case SituationRole:
        return QVariant::fromValue(situationOf(app));
    case HintRole: {
        const AppSituation& situation = situationOf(app);
        return situation.error.value_or(situation.note.value_or(QString()));
    }
    case SelectedRole:
        return m_selected.contains(app.id);
    default:
        return {};
    }
}

void AppListModel::setStore(Store* store)
{
    if (!m_store.relink(store))
        return;
    m_store.on(&Store::resultsChanged, this, [this] { if (m_source == Source::Results) reload(); });
    m_store.on(&Store::purchasesChanged, this, [this] { if (m_source == Source::Purchases) reload(); });
    m_store.on(&Store::detailChanged, this, &AppListModel::refreshDetail);
    m_store.on(&Store::situationsChanged, this, &AppListModel::scheduleSituations);
    reload();
    Q_EMIT storeChanged();
}

void AppListModel::setSource(Source source)
{
    if (m_source == source)
        return;
    m_source = source;
    reload();
    Q_EMIT sourceChanged();
}

void AppListModel::setFilter(const QString& filter)
{
    if (m_filter == filter)
        return;
    m_filter = filter;
    refilter();
    Q_EMIT filterChanged();
}

void AppListModel::reload()
{
    QList<AppItem> items;
    if (m_store) {
        switch (m_source) {
        case Source::Catalog:
            items = m_store->catalog();
            break;
        case Source::Results:
            items = m_store->results();
            break;
        case Source::Purchases:
            items = m_store->purchases();
            break;
        }
    }
    const QLocale locale;
    m_all.clear();
    m_all.reserve(items.size());
    QSet<QString> listed;
    listed.reserve(items.size());
    for (const AppItem& item : std::as_const(items)) {
        m_all.append(Row{item, labels::filterKey(item.name, locale)});
        listed.insert(item.id);
    }
    // Apps gone from the list are no longer selected.
    setSelection(m_selected & listed);
    refilter();
}

void AppListModel::refilter()
{
    const int before = count();
    const int totalBefore = m_lastTotal;
    m_lastTotal = total();
    const QLocale locale;
    QList<Row> next;
    if (labels::matchesFilter(QString(), m_filter, locale)) {
        next = m_all;
    } else {
        const QString key = labels::filterKey(m_filter.trimmed(), locale);
        for (const Row& row : std::as_const(m_all)) {
            if (row.folded.contains(key))
                next.append(row);
        }
    }
    syncRows(m_rows, next, [](const Row& row) { return row.app.id; });

    m_rowOf.clear();
    m_rowOf.reserve(m_rows.size());
    for (int i = 0; i < m_rows.size(); ++i)
        m_rowOf.insert(m_rows.at(i).app.id, i);
    // Only the shown rows keep a computed situation.
    for (auto it = m_situations.begin(); it != m_situations.end();)
        it = m_rowOf.contains(it.key()) ? std::next(it) : m_situations.erase(it);
    m_anchor = -1;
    if (count() != before || total() != totalBefore)
        Q_EMIT countChanged();
}

QList<int> AppListModel::rowsOf(const QString& id) const
{
    QList<int> rows;
    const auto found = m_rowOf.constFind(id);
    if (found == m_rowOf.cend())
        return rows;
    // Ids are unique in almost every list; a repeated one is found by a scan.
    if (m_rows.at(*found).app.id == id && m_rowOf.size() == m_rows.size())
        return {*found};
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows.at(i).app.id == id)
            rows.append(i);
    }
    return rows;
}

void AppListModel::refreshDetail(const QString& id)
{
    for (int row : rowsOf(id))
        Q_EMIT dataChanged(index(row), index(row), {SubtitleRole, ArtworkRole});
}

// A progress tick or a batch of details changes several inputs in a row: the rows are
// re-evaluated once, after the Store has finished its step.
void AppListModel::scheduleSituations()
{
    if (m_situationsScheduled)
        return;
    m_situationsScheduled = true;
    QTimer::singleShot(0, this, &AppListModel::refreshSituations);
}

void AppListModel::refreshSituations()
{
    m_situationsScheduled = false;
    if (!m_store)
        return;
    for (auto it = m_situations.begin(); it != m_situations.end(); ++it) {
        const QList<int> rows = rowsOf(it.key());
        if (rows.isEmpty())
            continue;
        AppSituation fresh = m_store->situation(m_rows.at(rows.first()).app);
        if (fresh == it.value())
            continue;
        it.value() = std::move(fresh);
        for (int row : rows)
            Q_EMIT dataChanged(index(row), index(row), {SituationRole, HintRole});
    }
}

const AppSituation& AppListModel::situationOf(const AppItem& app) const
{
    auto found = m_situations.find(app.id);
    if (found == m_situations.end())
        found = m_situations.insert(app.id, m_store->situation(app));
    return *found;
}

void AppListModel::setSelection(const QSet<QString>& selected)
{
    if (selected == m_selected)
        return;
    const QSet<QString> touched = (selected - m_selected) | (m_selected - selected);
    m_selected = selected;
    for (const QString& id : touched) {
        for (int row : rowsOf(id))
            Q_EMIT dataChanged(index(row), index(row), {SelectedRole});
    }
    Q_EMIT selectionChanged();
}

void AppListModel::select(int row, int modifiers)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const QString& id = m_rows.at(row).app.id;
    const bool adding = modifiers & Qt::ControlModifier;
    if (modifiers & Qt::ShiftModifier && m_anchor >= 0 && m_anchor < m_rows.size()) {
        QSet<QString> range = adding ? m_selected : QSet<QString>();
        for (int i = std::min(m_anchor, row); i <= std::max(m_anchor, row); ++i)
            range.insert(m_rows.at(i).app.id);
        setSelection(range);
        return; // the anchor stays for the next Shift click
    }
    m_anchor = row;
    if (adding) {
        QSet<QString> toggled = m_selected;
        if (!toggled.remove(id))
            toggled.insert(id);
        setSelection(toggled);
    } else {
        setSelection({id});
    }
}

int AppListModel::step(int row, int delta, int modifiers)
{
    if (m_rows.isEmpty())
        return -1;
    const int target = std::clamp(row < 0 ? 0 : row + delta, 0, static_cast<int>(m_rows.size()) - 1);
    if (modifiers & Qt::ShiftModifier && m_anchor < 0)
        m_anchor = std::clamp(row, 0, static_cast<int>(m_rows.size()) - 1);
    select(target, modifiers & Qt::ShiftModifier);
    return target;
}

void AppListModel::setSelected(const QString& id, bool selected)
{
    QSet<QString> next = m_selected;
    if (selected)
        next.insert(id);
    else
        next.remove(id);
    setSelection(next);
}

void AppListModel::clearSelection()
{
    m_anchor = -1;
    setSelection({});
}

QList<AppItem> AppListModel::selectedItems() const
{
    QList<AppItem> items;
    for (const Row& row : m_all) {
        if (m_selected.contains(row.app.id))
            items.append(row.app);
    }
    return items;
}

QVariantList AppListModel::selectedApps() const
{
    QVariantList apps;
    for (const AppItem& app : selectedItems())
        apps.append(QVariant::fromValue(app));
    return apps;
}

} // namespace telmora
