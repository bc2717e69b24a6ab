import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// One section of the sidebar: symbol, title, a count badge and, for downloads, a thin bar
// with the progress of the first running job.
ItemDelegate {
    id: row

    property string iconSymbol: ""
    property bool selected: false
    property bool keyboardFocus: false
    property int badge: 0
    property bool progressShown: false
    property var progress: undefined

    implicitHeight: 34
    leftPadding: 18
    rightPadding: 16
    focusPolicy: Qt.NoFocus
    Accessible.name: badge > 0 ? text + ", " + badge : text

    contentItem: RowLayout {
        spacing: 9
        Icon {
            symbol: row.iconSymbol
            size: 16
            color: row.selected ? Theme.apricotInk : Theme.secondaryText
        }
        Text {
            Layout.fillWidth: true
            text: row.text
            font.pixelSize: 13
            font.weight: row.selected ? Font.DemiBold : Font.Normal
            color: Theme.text
            elide: Text.ElideRight
        }
        CountBadge {
            objectName: "badge"
            count: row.badge
            emphasized: row.selected
        }
    }

    background: Rectangle {
        anchors.fill: parent
        anchors.leftMargin: 8
        anchors.rightMargin: 8
        radius: 7
        color: row.selected ? Theme.sidebarSelection : (row.hovered ? Theme.hoverFill : "transparent")
        border.width: row.keyboardFocus ? Theme.focusWidth : 0
        border.color: Theme.focusRing

        ProgressLine {
            objectName: "downloadProgress"
            visible: row.progressShown
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            anchors.leftMargin: 28
            anchors.rightMargin: 10
            anchors.bottomMargin: 3
            thickness: 3
            indeterminate: row.progress === undefined
            value: row.progress === undefined ? 0 : row.progress
        }
    }
}
