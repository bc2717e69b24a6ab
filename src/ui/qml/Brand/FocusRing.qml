import QtQuick
import Telmora

// The keyboard-focus outline drawn around a control's background.
Rectangle {
    property real baseRadius: Theme.controlRadius
    property bool shown: false

    anchors.fill: parent
    anchors.margins: -3
    radius: baseRadius + 3
    color: "transparent"
    border.width: Theme.focusWidth
    border.color: Theme.focusRing
    visible: shown
}
