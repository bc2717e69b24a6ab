import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Telmora

// One entry of a BrandMenu, with an optional symbol; destructive entries are red.
MenuItem {
    id: item

    property string symbol: ""
    property bool destructive: false
    property string shortcutText: ""
    readonly property color ink: destructive ? Theme.danger : Theme.text

    implicitHeight: 28
    leftPadding: 8
    rightPadding: 10
    font.pixelSize: 13
    Accessible.name: text

    contentItem: RowLayout {
        spacing: 8
        Item {
            implicitWidth: 16
            implicitHeight: 16
            Icon {
                anchors.centerIn: parent
                symbol: item.symbol
                size: 14
                color: item.highlighted ? Theme.apricotInk : item.ink
                visible: item.symbol !== ""
            }
        }
        Text {
            Layout.fillWidth: true
            text: item.text
            font: item.font
            color: item.highlighted && !item.destructive ? Theme.apricotInk : item.ink
            opacity: item.enabled ? 1 : 0.45
            elide: Text.ElideRight
        }
        Text {
            visible: item.shortcutText !== ""
            text: item.shortcutText
            font.pixelSize: 12
            color: Theme.secondaryText
        }
    }

    background: Rectangle {
        radius: 6
        color: item.highlighted ? Theme.apricotTint : "transparent"
    }
}
