import QtQuick
import QtQuick.Controls
import Telmora

// A modal card over the dimmed window. Escape closes it; whoever presents it decides what
// closing means.
Popup {
    id: sheet

    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    padding: 24
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }

    background: Item {
        Shadow {
            anchors.fill: parent
            radius: 14
            spread: 10
            strength: 1.4
        }
        Rectangle {
            anchors.fill: parent
            radius: 14
            color: Theme.surface
            border.color: Theme.separator
        }
    }

    enter: Transition {
        enabled: !Desktop.reduceMotion
        NumberAnimation { property: "opacity"; from: 0; to: 1; duration: 140; easing.type: Easing.OutCubic }
        NumberAnimation { property: "scale"; from: 0.97; to: 1; duration: 140; easing.type: Easing.OutCubic }
    }
    exit: Transition {
        enabled: !Desktop.reduceMotion
        NumberAnimation { property: "opacity"; from: 1; to: 0; duration: 100 }
    }
}
