import QtQuick
import QtQuick.Layouts
import Telmora

// One app of the catalog grid: icon, name and compact main button, with a checkbox for
// selection and the app menu on hover, right click or the Menu key.
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

    readonly property bool hovering: hover.hovered

    objectName: "tile_" + appId
    Accessible.role: Accessible.ListItem
    Accessible.name: name
    Accessible.selected: selected

    Component.onCompleted: Store.requestDetails(tile.appId)

    function openMenu(): void {
        menu.popup(tile, tile.width - 30, 30)
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
        onTapped: menu.popup()
    }
    TapHandler {
        acceptedButtons: Qt.LeftButton
        onTapped: tile.activated()
    }
    BrandToolTip {
        visible: tile.hovering && tile.hint !== ""
        text: tile.hint
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

    BrandCheckBox {
        objectName: "tileCheck"
        x: 8
        y: 8
        visible: tile.hovering || tile.selected || tile.anySelected
        checked: tile.selected
        tabStop: false
        Accessible.name: "Выбрать: " + tile.name
        onToggled: tile.selectionToggled(checked)
    }
    IconButton {
        id: menuButton
        objectName: "tileMenu"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 6
        visible: tile.hovering
        symbol: "ellipsis"
        tabStop: false
        Accessible.name: "Ещё: " + tile.name
        onClicked: menu.popup(menuButton, 0, menuButton.height + 2)
    }

    AppMenu {
        id: menu
        app: tile.app
    }
}
