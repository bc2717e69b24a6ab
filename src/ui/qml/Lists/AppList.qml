pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import Telmora

// Apps as a list of rows with multiple selection: click, Ctrl+click, Shift+click and the
// arrow keys. With two or more selected, one button gets or installs them all.
FocusScope {
    id: root

    required property AppListModel model

    // The selection lives only while the list is shown.
    onVisibleChanged: {
        if (!visible)
            root.model.clearSelection()
    }

    ListView {
        id: list
        objectName: "appList"
        anchors.fill: parent
        model: root.model
        focus: true
        activeFocusOnTab: true
        clip: true
        currentIndex: -1
        topMargin: 4
        bottomMargin: root.model.selectionCount >= 2 ? 72 : 12
        boundsBehavior: Flickable.StopAtBounds
        reuseItems: true
        // Arriving by Tab shows where the arrow keys start; it selects nothing.
        onActiveFocusChanged: {
            if (activeFocus && currentIndex < 0 && count > 0)
                list.currentIndex = 0
        }
        ScrollBar.vertical: BrandScrollBar {}

        Keys.onUpPressed: (event) => list.currentIndex = root.model.step(list.currentIndex, -1, event.modifiers)
        Keys.onDownPressed: (event) => list.currentIndex = root.model.step(list.currentIndex, 1, event.modifiers)
        Keys.onSpacePressed: root.model.select(list.currentIndex, Qt.ControlModifier)
        Keys.onReturnPressed: {
            const row = list.currentItem as AppRow
            if (row && row.situation.action !== undefined)
                Actions.perform(row.situation, row.app)
        }
        Keys.onMenuPressed: {
            const row = list.currentItem as AppRow
            if (row)
                row.openMenu()
        }

        delegate: AppRow {
            width: ListView.view.width
            current: ListView.isCurrentItem
            keyboardFocus: list.activeFocus
            onMenuRequested: (anchor, x, y) => root.showMenu(app, anchor, x, y)
            onPressed: (modifiers) => {
                list.currentIndex = index
                list.forceActiveFocus()
                root.model.select(index, modifiers)
            }
        }
    }

    BrandButton {
        objectName: "bulkButton"
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        visible: root.model.selectionCount >= 2
        text: Labels.bulkText(root.model.selectionCount, Store.readyDevice !== undefined)
        symbol: Store.readyDevice !== undefined ? "iphone.gen3" : "arrow.down.circle"
        onClicked: {
            Actions.getOrInstall(root.model.selectedApps())
            root.model.clearSelection()
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
