#pragma once

#include "ui/actions.h"
#include "ui/desktop.h"

#include <QUrl>
#include <optional>

class QQmlEngine;

namespace telmora {

class Store;

// The interface over the one Store: the desktop helpers and the actions QML calls,
// published to QML together with the Store. The application and the interface tests
// build the window the same way through it; one exists at a time.
class Interface {
public:
    Interface(Store& store, const QString& resourcesFolder, std::optional<bool> forcedDark = std::nullopt);
    ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    // The import path of the Telmora module and the icon and artwork image providers.
    void prepare(QQmlEngine& engine);

    [[nodiscard]] Desktop& desktop() { return m_desktop; }
    [[nodiscard]] Actions& actions() { return m_actions; }

    // The window.
    static QUrl mainQml();

private:
    Store* m_store;
    Desktop m_desktop;
    Actions m_actions;
};

} // namespace telmora
