#pragma once

#include "model/records.h"
#include "store/types.h"
#include "ui/rowmodel.h"
#include "ui/storelink.h"

#include "store/store.h"

#include <QPointer>
#include <QQmlEngine>

namespace telmora {

// The store artwork of an app, "" until its details have arrived.
[[nodiscard]] QString artworkOf(const Store* store, const QString& appID);

// The download queue as the downloads screen shows it: the Store's jobs that wait, run or
// failed, in the Store's order. A progress tick changes the running job's row only.
class JobListModel : public RowModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role { JobRole = Qt::UserRole + 1, AppRole, TitleRole, StateRole, FractionRole, StatusRole, RemoveLabelRole, ArtworkRole };
    // The states a queue row can be in (done and cancelled jobs are not listed).
    enum class RowState { Waiting, Running, Failed };
    Q_ENUM(RowState)

    explicit JobListModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);
    [[nodiscard]] int count() const { return static_cast<int>(m_rows.size()); }

Q_SIGNALS:
    void storeChanged();
    void countChanged();

private:
    void reload();
    void refreshArtwork(const QString& appID);

    StoreLink m_store;
    QList<Job> m_rows;
};

// The stored packages with their install state: installing, waiting, failed or installed.
class FileListModel : public RowModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        FileRole = Qt::UserRole + 1,
        UrlRole,
        FileNameRole,
        AppRole,
        HasAppRole,
        TitleRole,
        SubtitleRole,
        StateRole,
        MessageRole,
        MarkRole,
        ActionTitleRole,
        ArtworkRole,
    };
    enum class InstallState { Ready, Installing, Queued, Failed, Installed };
    Q_ENUM(InstallState)

    explicit FileListModel(QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QHash<int, QByteArray> roleNames() const override;

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);
    [[nodiscard]] int count() const { return static_cast<int>(m_rows.size()); }

Q_SIGNALS:
    void storeChanged();
    void countChanged();

private:
    struct Row {
        IPAFile file;
        InstallState state = InstallState::Ready;
        QString message; // the failure, when failed
        bool operator==(const Row&) const = default;
    };
    void reload();
    void refreshArtwork(const QString& appID);

    StoreLink m_store;
    QList<Row> m_rows;
};

} // namespace telmora
