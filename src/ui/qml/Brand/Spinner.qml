import QtQuick
import QtQuick.Shapes
import Telmora

// A small spinning arc: work in progress.
Item {
    id: spinner

    property int size: 16
    property color color: Theme.secondaryText
    property bool running: visible

    implicitWidth: size
    implicitHeight: size
    Accessible.role: Accessible.Animation

    Shape {
        id: arc
        anchors.fill: parent

        ShapePath {
            strokeColor: spinner.color
            strokeWidth: Math.max(1.5, spinner.size / 8)
            fillColor: "transparent"
            capStyle: ShapePath.RoundCap
            PathAngleArc {
                centerX: spinner.size / 2
                centerY: spinner.size / 2
                radiusX: spinner.size / 2 - 2
                radiusY: spinner.size / 2 - 2
                startAngle: 0
                sweepAngle: 270
            }
        }
        RotationAnimator on rotation {
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
            running: spinner.running
        }
    }
}
