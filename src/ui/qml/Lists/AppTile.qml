pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// One app of the catalog grid: icon, name and compact main button, with a checkbox for
// selection and the app menu on hover, right click or the Menu key. The checkbox and the
// menu button are made only while shown.
Item {
    id: tile

    required property int index
    required property appItem app
    required property string appId
    required property string name
    required property string artwork
    required property string hint
    required property appSituation situation
    required property bool selected
    property bool anySelected: false
    property bool current: false
    property bool keyboardFocus: false
    signal selectionToggled(bool on)
    signal activated()
    // The grid holds one menu for all its tiles.
    signal menuRequested(Item anchor, real x, real y)

    readonly property bool hovering: hover.hovered

    objectName: "tile_" + appId
    Accessible.role: Accessible.ListItem
    Accessible.name: name
    Accessible.selected: selected
    ToolTip.visible: hovering && hint !== ""
    ToolTip.text: hint
    ToolTip.delay: 500

    Component.onCompleted: Store.requestDetails(tile.appId)
    GridView.onReused: Store.requestDetails(tile.appId)

    function openMenu(): void {
        tile.menuRequested(tile, tile.width - 30, 30)
    }

    Rectangle {
        anchors.fill: parent
        anchors.margins: 2
        radius: 12
        color: tile.selected ? Theme.apricotTint : (tile.hovering ? Theme.tileHover : "transparent")
        border.width: tile.keyboardFocus && tile.current ? Theme.focusWidth : 0
        border.color: Theme.focusRing
    }
    HoverHandler {
        id: hover
    }
    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: (eventPoint) => tile.menuRequested(tile, eventPoint.position.x, eventPoint.position.y)
    }
    TapHandler {
        acceptedButtons: Qt.LeftButton
        onTapped: tile.activated()
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 14
        anchors.bottomMargin: 10
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        spacing: 8

        AppIcon {
            Layout.alignment: Qt.AlignHCenter
            size: 68
            name: tile.name
            artwork: tile.artwork
            active: tile.situation.active
            fraction: tile.situation.fraction
            mark: tile.situation.mark
        }
        Text {
            Layout.fillWidth: true
            Layout.preferredHeight: 32
            text: tile.name
            font.pixelSize: 12
            font.weight: Font.Medium
            color: Theme.text
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignTop
            wrapMode: Text.Wrap
            maximumLineCount: 2
            elide: Text.ElideRight
        }
        MainActionButton {
            Layout.alignment: Qt.AlignHCenter
            app: tile.app
            situation: tile.situation
            compact: true
            tabStop: false
        }
        Item { Layout.fillHeight: true }
    }

    Repeater {
        model: tile.hovering || tile.selected || tile.anySelected ? 1 : 0
        BrandCheckBox {
            objectName: "tileCheck"
            x: 8
            y: 8
            checked: tile.selected
            tabStop: false
            Accessible.name: "Выбрать: " + tile.name
            onToggled: tile.selectionToggled(checked)
        }
    }
    Repeater {
        model: tile.hovering ? 1 : 0
        IconButton {
            id: menuButton
            objectName: "tileMenu"
            x: tile.width - width - 6
            y: 6
            symbol: "ellipsis"
            tabStop: false
            Accessible.name: "Ещё: " + tile.name
            onClicked: tile.menuRequested(menuButton, 0, menuButton.height + 2)
        }
    }
}
