import QtQuick
import Telmora

// A small count in a capsule; hidden at zero.
Rectangle {
    id: badge

    property int count: 0
    property bool emphasized: false

    visible: count > 0
    implicitWidth: Math.max(20, label.implicitWidth + 10)
    implicitHeight: 18
    radius: 9
    color: emphasized ? Theme.apricot : Theme.badgeFill

    Text {
        id: label
        anchors.centerIn: parent
        text: badge.count
        font.pixelSize: 11
        font.weight: Font.DemiBold
        color: badge.emphasized ? Theme.onApricot : Theme.text
    }
}
