#pragma once

#include "model/records.h"
#include "store/types.h"
#include "ui/rowmodel.h"
#include "ui/storelink.h"

#include "store/store.h"

#include <QPointer>
#include <QQmlEngine>

namespace telmora {

// The apps of one Store list (catalog, search results or purchases) as a list or grid shows
// them: filtered by name, with each app's situation, subtitle and artwork, and a selection
// of app ids that survives filtering.
class AppListModel : public RowModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    Q_PROPERTY(Source source READ source WRITE setSource NOTIFY sourceChanged REQUIRED)
    Q_PROPERTY(QString filter READ filter WRITE setFilter NOTIFY filterChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    Q_PROPERTY(int total READ total NOTIFY countChanged)
    Q_PROPERTY(int selectionCount READ selectionCount NOTIFY selectionChanged)

public:
    enum class Source { Catalog, Results, Purchases };
    Q_ENUM(Source)
    enum Role {
        AppRole = Qt::UserRole + 1,
        AppIdRole,
        NameRole,
        SubtitleRole,
        ArtworkRole,
        SituationRole,
        HintRole,
        SelectedRole,
    };

    explicit AppListModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);
    [[nodiscard]] Source source() const { return m_source; }
    void setSource(Source source);
    [[nodiscard]] const QString& filter() const { return m_filter; }
    void setFilter(const QString& filter);
    // Shown rows, and all rows of the list before the filter.
    [[nodiscard]] int count() const { return static_cast<int>(m_rows.size()); }
    [[nodiscard]] int total() const { return static_cast<int>(m_all.size()); }
    [[nodiscard]] int selectionCount() const { return static_cast<int>(m_selected.size()); }

    // A click on a row: alone it selects only that row, with Ctrl it toggles it, with Shift
    // it selects the range from the last clicked row (added to the selection with Ctrl too).
    Q_INVOKABLE void select(int row, int modifiers);
    // Arrow keys: the row `delta` away becomes current; Shift extends the range. Returns it.
    Q_INVOKABLE int step(int row, int delta, int modifiers);
    // A tile's checkbox.
    Q_INVOKABLE void setSelected(const QString& id, bool selected);
    Q_INVOKABLE void clearSelection();
    // The selected apps in the list's own order, those hidden by the filter included.
    Q_INVOKABLE QVariantList selectedApps() const;
    [[nodiscard]] QList<AppItem> selectedItems() const;

Q_SIGNALS:
    void storeChanged();
    void sourceChanged();
    void filterChanged();
    void countChanged();
    void selectionChanged();

private:
    struct Row {
        AppItem app;
        QString folded; // the name as the filter compares it
        bool operator==(const Row& other) const { return app == other.app; }
    };

    void reload();
    void refilter();
    void scheduleSituations();
    void refreshSituations();
    void refreshDetail(const QString& id);
    void setSelection(const QSet<QString>& selected);
    [[nodiscard]] const AppSituation& situationOf(const AppItem& app) const;
    [[nodiscard]] QList<int> rowsOf(const QString& id) const;

    StoreLink m_store;
    Source m_source = Source::Catalog;
    QString m_filter;
    QList<Row> m_all;  // the Store's list
    QList<Row> m_rows; // what passes the filter, shown
    QHash<QString, int> m_rowOf; // app id to shown row
    QSet<QString> m_selected;
    int m_lastTotal = 0;
    int m_anchor = -1; // the row a Shift range starts from
    // Situations of the rows views have asked for; recomputed when the Store's inputs change.
    mutable QHash<QString, AppSituation> m_situations;
    bool m_situationsScheduled = false;
};

} // namespace telmora
