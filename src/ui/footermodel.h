#pragma once

#include "ui/storelink.h"

#include <QObject>
#include <QQmlEngine>
#include <QStringList>
#include <QVariantList>

namespace telmora {

// What the account footer at the bottom of the sidebar shows: the phone, a waiting update
// and the account, as texts and flags derived from the Store.
class FooterModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(telmora::Store* store READ store WRITE setStore NOTIFY storeChanged REQUIRED)
    // The phone
    Q_PROPERTY(QString deviceTitle READ deviceTitle NOTIFY changed)
    Q_PROPERTY(QString deviceSubtitle READ deviceSubtitle NOTIFY changed)
    Q_PROPERTY(bool deviceMenu READ deviceMenu NOTIFY changed)
    Q_PROPERTY(QVariantList deviceEntries READ deviceEntries NOTIFY changed)
    // The update
    Q_PROPERTY(bool updateShown READ updateShown NOTIFY changed)
    Q_PROPERTY(QString updateTitle READ updateTitle NOTIFY changed)
    Q_PROPERTY(bool updateItemShown READ updateItemShown NOTIFY changed)
    // The account
    Q_PROPERTY(bool signInShown READ signInShown NOTIFY changed)
    Q_PROPERTY(bool accountShown READ accountShown NOTIFY changed)
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY changed)
    Q_PROPERTY(QString accountLetter READ accountLetter NOTIFY changed)
    Q_PROPERTY(QString accountTitle READ accountTitle NOTIFY changed)
    Q_PROPERTY(QString accountSubtitle READ accountSubtitle NOTIFY changed)
    Q_PROPERTY(QStringList savedAccounts READ savedAccounts NOTIFY changed)
    Q_PROPERTY(QString logoutEntry READ logoutEntry NOTIFY changed)
    Q_PROPERTY(QString logoutTitle READ logoutTitle NOTIFY changed)
    Q_PROPERTY(QString logoutMessage READ logoutMessage NOTIFY changed)

public:
    explicit FooterModel(QObject* parent = nullptr);

    [[nodiscard]] Store* store() const { return m_store.get(); }
    void setStore(Store* store);

    [[nodiscard]] QString deviceTitle() const;
    [[nodiscard]] QString deviceSubtitle() const;
    // From two connected phones on, the block is a menu choosing among them.
    [[nodiscard]] bool deviceMenu() const;
    // Each phone as {id, text, selected}.
    [[nodiscard]] QVariantList deviceEntries() const;
    [[nodiscard]] bool updateShown() const;
    [[nodiscard]] QString updateTitle() const;
    [[nodiscard]] bool updateItemShown() const;
    // Signed out with no saved account: the sign-in button, once the first check is done.
    [[nodiscard]] bool signInShown() const;
    [[nodiscard]] bool accountShown() const;
    [[nodiscard]] bool signedIn() const;
    [[nodiscard]] QString accountLetter() const;
    [[nodiscard]] QString accountTitle() const;
    [[nodiscard]] QString accountSubtitle() const;
    [[nodiscard]] QStringList savedAccounts() const;
    [[nodiscard]] QString logoutEntry() const;
    [[nodiscard]] QString logoutTitle() const;
    [[nodiscard]] QString logoutMessage() const;

Q_SIGNALS:
    void storeChanged();
    void changed();

private:
    StoreLink m_store;
};

} // namespace telmora
