import QtQuick
import QtQuick.Controls
import Telmora

// A thin scroll bar that widens under the pointer.
ScrollBar {
    id: bar

    padding: 2
    minimumSize: 0.08
    hoverEnabled: true

    contentItem: Rectangle {
        implicitWidth: bar.hovered || bar.pressed ? 8 : 6
        implicitHeight: bar.hovered || bar.pressed ? 8 : 6
        radius: 4
        color: Theme.secondaryText
        opacity: bar.pressed ? 0.7 : (bar.hovered ? 0.55 : (bar.active ? 0.4 : 0))

        Behavior on opacity {
            enabled: !Desktop.reduceMotion
            NumberAnimation { duration: 180 }
        }
    }
    background: Item {}
}
