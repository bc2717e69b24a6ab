import QtQuick
import Telmora

// A thin progress bar in the brand colour; without a value it sweeps (or rests, when the
// desktop asks for less motion).
Item {
    id: line

    property bool indeterminate: false
    property real value: 0
    property int thickness: 4
    property color color: Theme.apricot

    implicitHeight: thickness
    implicitWidth: 120
    clip: true
    Accessible.role: Accessible.ProgressBar

    Rectangle {
        anchors.fill: parent
        radius: line.thickness / 2
        color: Theme.dark ? Qt.rgba(1, 1, 1, 0.12) : Qt.rgba(0, 0, 0, 0.08)
    }
    Rectangle {
        id: bar
        height: parent.height
        radius: line.thickness / 2
        color: line.color
        width: line.indeterminate ? parent.width * 0.3 : parent.width * Math.max(0, Math.min(1, line.value))
        opacity: line.indeterminate && Desktop.reduceMotion ? 0.5 : 1

        SequentialAnimation on x {
            running: line.indeterminate && !Desktop.reduceMotion && line.visible
            loops: Animation.Infinite
            NumberAnimation { from: -bar.width; to: line.width; duration: 1100; easing.type: Easing.InOutQuad }
        }
    }
}
