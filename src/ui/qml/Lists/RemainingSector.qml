import QtQuick
import QtQuick.Shapes

// The part of a download still to come: a pie slice of the inscribed circle from twelve
// o'clock, shrinking to nothing as progress reaches 1.
Shape {
    id: sector

    property real progress: 0
    property color color: Qt.rgba(0, 0, 0, 0.62)
    readonly property real remaining: Math.max(0, Math.min(1, 1 - progress))

    visible: remaining > 0

    ShapePath {
        fillColor: sector.color
        strokeColor: "transparent"
        startX: sector.width / 2
        startY: sector.height / 2
        PathLine {
            x: sector.width / 2
            y: 0
        }
        PathAngleArc {
            centerX: sector.width / 2
            centerY: sector.height / 2
            radiusX: sector.width / 2
            radiusY: sector.height / 2
            startAngle: -90
            sweepAngle: sector.remaining * 360
            moveToStart: false
        }
        PathLine {
            x: sector.width / 2
            y: sector.height / 2
        }
    }
}
