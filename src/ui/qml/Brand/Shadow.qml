pragma ComponentBehavior: Bound
import QtQuick
import Telmora

// A soft shadow under a rounded surface, made of a few fading outlines (no effects needed).
Item {
    id: shadow

    property real radius: Theme.cardRadius
    property int spread: 7
    property real strength: 1

    Repeater {
        model: shadow.spread
        Rectangle {
            required property int index
            x: -index
            y: -index + 2
            width: shadow.width + 2 * index
            height: shadow.height + 2 * index
            radius: shadow.radius + index
            color: "transparent"
            border.width: 1
            border.color: Qt.rgba(0, 0, 0, shadow.strength * 0.14 * Math.pow(1 - index / shadow.spread, 2) / 2.2)
        }
    }
}
