#pragma once

#include <QObject>
#include "ui/storelink.h"

#include <QPointer>
#include <QQmlEngine>
#include <QVariant>

namespace telmora {

// What the root view presents, derived from the Store: the one sheet shown at a time and the
// downloads row's badge and progress bar.
class RootModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    Q_PROPERTY(Sheet sheet READ sheet NOTIFY sheetChanged)
    Q_PROPERTY(bool downloadRunning READ downloadRunning NOTIFY downloadChanged)
    Q_PROPERTY(QVariant downloadFraction READ downloadFraction NOTIFY downloadChanged)

public:
    // In the order they take precedence when several want to show.
    enum class Sheet { None, Login, Versions, Update, DeviceHelp };
    Q_ENUM(Sheet)

    explicit RootModel(QObject* parent = nullptr);

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);
    [[nodiscard]] Sheet sheet() const { return m_sheet; }
    // The first running job in the Store's order; the fraction is undefined while unknown.
    [[nodiscard]] bool downloadRunning() const { return m_downloadRunning; }
    [[nodiscard]] QVariant downloadFraction() const { return m_downloadFraction; }

    // The shown sheet was closed by hand: clear what presents it. Closing the sign-in sheet
    // cancels the sign-in; closing the device help drops the install waiting for a phone.
    Q_INVOKABLE void dismissSheet();

Q_SIGNALS:
    void storeChanged();
    void sheetChanged();
    void downloadChanged();

private:
    void updateSheet();
    void updateDownload();

    StoreLink m_store;
    Sheet m_sheet = Sheet::None;
    bool m_downloadRunning = false;
    QVariant m_downloadFraction;
};

} // namespace telmora
