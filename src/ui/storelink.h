#pragma once

#include "store/store.h"

#include <QList>
#include <QPointer>

namespace telmora {

// A view model's link to the one Store: the pointer and the signal connections made for it,
// dropped together when QML assigns another Store (or the Store goes away).
class StoreLink {
public:
    StoreLink() = default;
    StoreLink(const StoreLink&) = delete;
    StoreLink& operator=(const StoreLink&) = delete;
    ~StoreLink() { drop(); }

    // Links to `store`; false, and nothing changes, when it is the one already linked.
    bool relink(Store* store)
    {
        if (m_store == store)
            return false;
        drop();
        m_store = store;
        return true;
    }

    // Calls `slot` of `receiver` on `signal` of the linked Store, until it is relinked.
    template<typename Signal, typename Receiver, typename Slot>
    void on(Signal signal, Receiver* receiver, Slot slot)
    {
        if (m_store)
            m_connections.append(QObject::connect(m_store.data(), signal, receiver, slot));
    }

    [[nodiscard]] Store* get() const { return m_store.data(); }
    Store* operator->() const { return m_store.data(); }
    explicit operator bool() const { return !m_store.isNull(); }

private:
    void drop()
    {
        for (const QMetaObject::Connection& connection : std::as_const(m_connections))
            QObject::disconnect(connection);
        m_connections.clear();
    }

    QPointer<Store> m_store;
    QList<QMetaObject::Connection> m_connections;
};

} // namespace telmora
