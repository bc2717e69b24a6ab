#pragma once

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace telmora::test {

// The first item of this name under `root`, the first visible one when `shownOnly`. The whole
// visual tree is searched: rows and screens made by views have a parent item, no parent object.
inline QQuickItem* findItem(QQuickItem* root, const QString& name, bool shownOnly = true)
{
    if (root->objectName() == name && (!shownOnly || root->isVisible()))
        return root;
    for (QQuickItem* child : root->childItems())
        if (QQuickItem* found = findItem(child, name, shownOnly))
            return found;
    return nullptr;
}

inline QPoint centreOf(const QQuickItem* item) { return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint(); }

// A user's mouse and keyboard on a window of this process, finding items by object name.
struct WindowHand {
    QQuickWindow* window = nullptr;

    [[nodiscard]] QQuickItem* item(const QString& name) const { return findItem(window->contentItem(), name); }
    [[nodiscard]] bool shown(const QString& name) const { return item(name) != nullptr; }
    bool click(const QString& name, Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {}) const
    {
        QQuickItem* target = item(name);
        if (target)
            QTest::mouseClick(window, button, modifiers, centreOf(target));
        return target;
    }
    [[nodiscard]] QString text(const QString& name) const
    {
        const QQuickItem* found = item(name);
        return found ? found->property("text").toString() : QStringLiteral("<missing %1>").arg(name);
    }
    void key(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) const { QTest::keyClick(window, key, modifiers); }
    // Into the focused item (or the named one), one key press per character.
    void type(const QString& text) const
    {
        for (QChar character : text)
            QTest::sendKeyEvent(QTest::Click, window, Qt::Key_unknown, QString(character), Qt::NoModifier);
    }
    bool type(const QString& name, const QString& text) const
    {
        QQuickItem* field = item(name);
        if (field) {
            field->forceActiveFocus();
            type(text);
        }
        return field;
    }
    // Ticks a catalog tile's checkbox, which is made while the pointer is over the tile.
    bool checkTile(const QString& id) const
    {
        QQuickItem* tile = item(QStringLiteral("tile_") + id);
        QQuickItem* check = nullptr;
        if (tile)
            QTest::mouseMove(window, tile->mapToScene(QPointF(20, 20)).toPoint());
        if (tile && QTest::qWaitFor([&] { return (check = findItem(tile, QStringLiteral("tileCheck"))) != nullptr; }, 5000))
            QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(check));
        return check;
    }
};

} // namespace telmora::test
