#pragma once

#include "ui/rowmodel.h"
#include "ui/storelink.h"

#include <QQmlEngine>

namespace telmora {

// The versions sheet's timeline: the Store's version rows with their titles and subtitles,
// the first and last flagged, and the one that suits the ready phone marked. Rows fill in as
// their metadata arrives.
class VersionListModel : public RowModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    Q_PROPERTY(int count READ count NOTIFY changed)
    Q_PROPERTY(QString header READ header NOTIFY changed)
    Q_PROPERTY(QString actionTitle READ actionTitle NOTIFY changed)
    // Some row still lacks its metadata: the sheet offers to load more.
    Q_PROPERTY(bool missingDetails READ missingDetails NOTIFY changed)

public:
    enum Role { IdRole = Qt::UserRole + 1, TitleRole, SubtitleRole, LabelRole, SuitableRole, FirstRole, LastRole };

    explicit VersionListModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);
    [[nodiscard]] int count() const { return static_cast<int>(m_rows.size()); }
    [[nodiscard]] QString header() const;
    [[nodiscard]] QString actionTitle() const;
    [[nodiscard]] bool missingDetails() const;

Q_SIGNALS:
    void storeChanged();
    void changed();

private:
    struct Row {
        QString id;
        QString title;    // the version as shown; "" until its metadata arrives
        QString subtitle;
        bool hasDetails = false;
        bool suitable = false;
        bool operator==(const Row&) const = default;
    };
    void reload();

    StoreLink m_store;
    QList<Row> m_rows;
};

} // namespace telmora
