import QtQuick
import QtQuick.Layouts
import Telmora

// One app in a list: icon, name and one line of detail, status, main button and menu.
Item {
    id: row

    required property int index
    required property appItem app
    required property string appId
    required property string name
    required property string subtitle
    required property string artwork
    required property appSituation situation
    required property bool selected
    property bool current: false
    property bool keyboardFocus: false
    signal pressed(int modifiers)
    // The list holds one menu for all its rows.
    signal menuRequested(Item anchor, real x, real y)

    objectName: "row_" + appId
    implicitHeight: 60
    Accessible.role: Accessible.ListItem
    Accessible.name: name
    Accessible.selected: selected

    // Asked again each time the row comes into view; the Store drops repeats.
    Component.onCompleted: Store.requestDetails(row.appId)
    ListView.onReused: Store.requestDetails(row.appId)

    function openMenu(): void {
        row.menuRequested(menuButton, 0, menuButton.height + 2)
    }

    Rectangle {
        anchors.fill: parent
        anchors.leftMargin: 10
        anchors.rightMargin: 10
        radius: 8
        color: row.selected ? Theme.listSelection : (hover.hovered ? Theme.hoverFill : "transparent")
        border.width: row.keyboardFocus && row.current ? Theme.focusWidth : 0
        border.color: Theme.focusRing
    }
    HoverHandler {
        id: hover
    }
    MouseArea {
        anchors.fill: parent
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onPressed: (mouse) => {
            if (mouse.button === Qt.RightButton)
                row.menuRequested(row, mouse.x, mouse.y)
            else
                row.pressed(mouse.modifiers)
        }
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: 20
        anchors.rightMargin: 20
        anchors.topMargin: 4
        anchors.bottomMargin: 4
        spacing: 12

        AppIcon {
            size: 44
            name: row.name
            artwork: row.artwork
            active: row.situation.active
            fraction: row.situation.fraction
            mark: row.situation.mark
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2

            Text {
                Layout.fillWidth: true
                text: row.name
                font.pixelSize: 13
                font.weight: Font.Medium
                color: Theme.text
                elide: Text.ElideRight
                maximumLineCount: 1
            }
            TextEdit {
                objectName: "rowDetail"
                Layout.fillWidth: true
                readonly property bool failed: row.situation.error !== undefined
                readonly property bool noted: !failed && row.situation.note !== undefined
                text: failed ? row.situation.error : (noted ? row.situation.note : row.subtitle)
                color: failed ? Theme.danger : (noted ? Theme.apricotInk : Theme.secondaryText)
                font.pixelSize: Theme.captionSize
                readOnly: true
                selectByMouse: !noted
                selectionColor: Theme.textSelection
                selectedTextColor: Theme.text
                wrapMode: TextEdit.NoWrap
                clip: true
            }
        }
        Text {
            objectName: "rowStatus"
            visible: row.situation.status !== undefined
            text: row.situation.status !== undefined ? row.situation.status : ""
            font.pixelSize: Theme.captionSize
            color: Theme.secondaryText
        }
        MainActionButton {
            app: row.app
            situation: row.situation
            tabStop: false
        }
        IconButton {
            id: menuButton
            objectName: "rowMenu"
            symbol: "ellipsis"
            tabStop: false
            Accessible.name: "Ещё: " + row.name
            onClicked: row.openMenu()
        }
    }
}
