pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Telmora

// The catalog as a grid of tiles with adaptive columns (each at least 124 wide, 4 apart),
// or the empty state when the filter matches nothing.
FocusScope {
    id: root

    required property AppListModel model
    property string heading: ""

    EmptyState {
        objectName: "catalogEmpty"
        anchors.fill: parent
        visible: root.model.count === 0
        symbol: "magnifyingglass"
        title: "В каталоге такого нет"
        description: "Нажмите «Найти», чтобы поискать во всём App Store."
    }

    Text {
        id: heading
        objectName: "catalogHeading"
        x: 24
        visible: root.model.count > 0
        text: root.heading
        font.pixelSize: Theme.headingSize
        font.weight: Font.DemiBold
        color: Theme.secondaryText
    }

    GridView {
        id: grid
        objectName: "catalogGrid"
        readonly property int columns: Math.max(1, Math.floor((width - 36 + 4) / (124 + 4)))

        anchors.fill: parent
        anchors.topMargin: heading.height + 6
        anchors.leftMargin: 18
        anchors.rightMargin: 18
        visible: root.model.count > 0
        model: root.model
        focus: true
        activeFocusOnTab: true
        clip: true
        currentIndex: -1
        cellWidth: Math.floor(width / columns)
        cellHeight: 176
        bottomMargin: 64
        boundsBehavior: Flickable.StopAtBounds
        keyNavigationEnabled: true
        reuseItems: true
        // Arriving by Tab shows where the arrow keys start.
        onActiveFocusChanged: {
            if (activeFocus && currentIndex < 0)
                currentIndex = 0
        }
        ScrollBar.vertical: BrandScrollBar {}

        Keys.onSpacePressed: {
            const tile = grid.currentItem as AppTile
            if (tile)
                root.model.setSelected(tile.appId, !tile.selected)
        }
        Keys.onReturnPressed: {
            const tile = grid.currentItem as AppTile
            if (tile && tile.situation.action !== undefined)
                Actions.perform(tile.situation, tile.app)
        }
        Keys.onMenuPressed: {
            const tile = grid.currentItem as AppTile
            if (tile)
                tile.openMenu()
        }

        delegate: AppTile {
            width: grid.cellWidth
            height: grid.cellHeight
            anySelected: root.model.selectionCount > 0
            current: GridView.isCurrentItem
            keyboardFocus: grid.activeFocus
            onSelectionToggled: (on) => root.model.setSelected(appId, on)
            onMenuRequested: (anchor, x, y) => root.showMenu(app, anchor, x, y)
            onActivated: {
                grid.currentIndex = index
                if (root.model.selectionCount > 0)
                    root.model.setSelected(appId, !selected)
            }
        }
    }

    // One menu for every app of the list, made when first asked for.
    property AppMenu menu: null
    function showMenu(app: appItem, anchor: Item, x: real, y: real): void {
        if (!root.menu)
            root.menu = menuComponent.createObject(root) as AppMenu
        root.menu.app = app
        root.menu.popup(anchor, x, y)
    }
    Component {
        id: menuComponent
        AppMenu {}
    }
}
