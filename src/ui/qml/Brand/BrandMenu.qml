import QtQuick
import QtQuick.Controls
import Telmora

// A popup menu on a raised, rounded surface.
Menu {
    id: menu

    padding: 5
    implicitWidth: 236
    margins: 8
    modal: false
    focus: true

    delegate: BrandMenuItem {}

    background: Item {
        implicitWidth: menu.implicitWidth
        Shadow {
            anchors.fill: parent
            radius: 9
        }
        Rectangle {
            anchors.fill: parent
            radius: 9
            color: Theme.raisedSurface
            border.color: Theme.separator
        }
    }

    enter: Transition {
        enabled: !Desktop.reduceMotion
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 90 }
    }
}
