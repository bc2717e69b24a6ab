import QtQuick
import QtQuick.Controls
import Telmora

// One entry of a BrandMenu, with an optional symbol; destructive entries are red.
MenuItem {
    id: item

    property string symbol: ""
    property bool destructive: false
    readonly property color ink: destructive ? Theme.danger : Theme.text

    implicitHeight: 28
    leftPadding: 8
    rightPadding: 10
    font.pixelSize: 13
    Accessible.name: text

    contentItem: Row {
        spacing: 8
        Item {
            width: 16
            height: 16
            anchors.verticalCenter: parent.verticalCenter
            Icon {
                anchors.centerIn: parent
                symbol: item.symbol
                size: 14
                color: item.highlighted ? Theme.apricotInk : item.ink
                visible: item.symbol !== ""
            }
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: item.text
            font: item.font
            color: item.highlighted && !item.destructive ? Theme.apricotInk : item.ink
            opacity: item.enabled ? 1 : 0.45
        }
    }

    background: Rectangle {
        radius: 6
        color: item.highlighted ? Theme.apricotTint : "transparent"
    }
}
